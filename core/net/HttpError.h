#pragma once

#include <stdexcept>
#include <string>

namespace dv {

// Base of the failures of an HTTP exchange.
class HttpError : public std::runtime_error
{
public:
    explicit HttpError(const std::string &message) : std::runtime_error(message) {}
};

} // namespace dv
