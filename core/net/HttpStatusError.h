#pragma once

#include "core/net/HttpError.h"
#include "core/net/HttpResponse.h"

namespace dv {

// The server answered with an error status (400 or above); the response is kept.
class HttpStatusError : public HttpError
{
public:
    explicit HttpStatusError(HttpResponse response)
        : HttpError("HTTP " + std::to_string(response.statusCode) + " " +
                    response.statusText.toStdString()),
          m_response(std::move(response))
    {}

    int statusCode() const { return m_response.statusCode; }
    const QByteArray &statusText() const { return m_response.statusText; }
    const HttpResponse &response() const { return m_response; }

private:
    HttpResponse m_response;
};

} // namespace dv
