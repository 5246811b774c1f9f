#include "core/threads/ClassName.h"

#include <cstdlib>
#include <cxxabi.h>
#include <memory>

namespace dv {

QString DemangledClassName(const std::type_info &pType)
{
    int status = 0;
    std::unique_ptr<char, void (*)(void *)> name(
        abi::__cxa_demangle(pType.name(), nullptr, nullptr, &status), std::free);
    QString result = QString::fromLatin1(status == 0 && name ? name.get() : pType.name());
    if (result.startsWith(QLatin1String("dv::")))
        result.remove(0, 4);
    return result;
}

} // namespace dv
