#include "textd/extract/Extract.h"

namespace dv::textd {

ExtractResult extractDocument(const QByteArray &content, const QString &contentTypeHint,
                              const QString &fileNameHint, const ExtractLimits &limits)
{
    Q_UNUSED(content);
    Q_UNUSED(contentTypeHint);
    Q_UNUSED(fileNameHint);
    Q_UNUSED(limits);
    return {ExtractStatus::Unsupported, {}, {}};
}

} // namespace dv::textd
