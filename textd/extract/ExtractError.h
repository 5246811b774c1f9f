#pragma once

#include <stdexcept>
#include <string>

namespace dv::textd {

// Thrown inside the extractors; extractDocument turns it into a status.
class ExtractError : public std::runtime_error
{
public:
    enum class Kind
    {
        Unsupported, // not a format we read
        Corrupt,     // our format, but broken, encrypted or truncated
        Limit        // a resource limit was hit: the whole document is refused
    };

    ExtractError(Kind kind, const std::string &message) : std::runtime_error(message), m_kind(kind)
    {}

    Kind kind() const { return m_kind; }

private:
    Kind m_kind;
};

} // namespace dv::textd
