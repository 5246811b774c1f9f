#pragma once

#include <QString>

namespace dv {

// Longest wait for any data from the extraction server.
constexpr int kExtractionReadTimeoutMs = 30000;

// "http://localhost:9998": the extraction server on the local machine.
QString DefaultExtractionServerEndpoint();
// The endpoint ExtractTextViaServer uses unless told otherwise (process-wide, thread-safe).
QString ExtractionServerEndpoint();
// Points the extraction at another server ("http://host:port"); empty restores the default.
void SetExtractionServerEndpoint(const QString &endpoint);

// Sends the file's bytes by PUT to Endpoint + "/tika" and returns the plain text the server
// answers. True when the exchange succeeded and Text is not empty; on failure Text is empty
// and ErrorText says why ("HTTP error (%d): %s", "Error: " + message, or the open error; no
// request is sent when the file cannot be opened). Never throws.
bool ExtractTextViaServer(const QString &fileName, QString &text, QString &errorText,
                          const QString &endpoint = ExtractionServerEndpoint(),
                          int readTimeoutMs = kExtractionReadTimeoutMs);

} // namespace dv
