#pragma once

#include <QString>

#include <typeinfo>

namespace dv {

// Readable class name of a type (without our namespace), for messages.
QString DemangledClassName(const std::type_info &pType);

} // namespace dv
