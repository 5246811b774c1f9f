#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>

namespace dv {

using HttpHeaderList = QList<QPair<QByteArray, QByteArray>>;

// Status, headers and (when kept in memory) body of the final response of an exchange.
struct HttpResponse
{
    int statusCode = 0;
    QByteArray statusText; // reason phrase of the status line, e.g. "Not Found"
    HttpHeaderList headers;
    QByteArray body;

    // Value of the first header named Name, ignoring case; a null array when absent.
    QByteArray header(const QByteArray &name) const
    {
        for (const auto &h : headers) {
            if (h.first.compare(name, Qt::CaseInsensitive) == 0)
                return h.second.isNull() ? QByteArray("") : h.second;
        }
        return {};
    }
};

} // namespace dv
