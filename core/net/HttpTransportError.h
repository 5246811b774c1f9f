#pragma once

#include "core/net/HttpError.h"

namespace dv {

// The exchange failed without an error status: no connection (Unreachable: nobody answered at
// the address, or its name is unknown), a time-out, a broken answer, a cancel from the progress
// callback, or a failure to read the body or write the download.
class HttpTransportError : public HttpError
{
public:
    enum class Kind
    {
        Failure,
        Unreachable,
        Timeout,
        Cancelled
    };

    HttpTransportError(Kind kind, const std::string &message) : HttpError(message), m_kind(kind) {}

    Kind kind() const { return m_kind; }

private:
    Kind m_kind;
};

} // namespace dv
