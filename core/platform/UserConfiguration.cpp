#include "core/platform/UserConfiguration.h"

namespace dv {

QSettings UserConfiguration()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Delvora"));
}

} // namespace dv
