#pragma once

#include "core/search/ContentTestCancelScope.h"
#include "core/search/ContentTestFailure.h"

#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <atomic>
#include <functional>

namespace dv {

// Longest wait for any data from the extraction server.
constexpr int kExtractionReadTimeoutMs = 30000;
// Most UTF-16 code units of document text ExtractTextViaServer keeps (16 Mi, 32 MB): far
// beyond the text of real documents, and a bound against a server that never stops sending.
constexpr qsizetype kMaxExtractedTextLength = 16 * 1024 * 1024;

// Set (from any thread, or from a signal handler) to end the content test under way: a server
// exchange ends at its next progress report, a raw scan at its next chunk; that file is then
// not accepted. Whoever sets it clears it before the next search.
extern std::atomic<bool> ContentTestCancelled;
static_assert(std::atomic<bool>::is_always_lock_free);

// Bytes of an incomplete UTF-8 sequence at the end of Data (0 when it ends on a whole one).
qsizetype IncompleteUtf8Tail(QByteArrayView data);

// "http://localhost:9998", the extraction server on the local machine, unless the environment
// variable DELVORA_EXTRACTION_URL names another.
QString DefaultExtractionServerEndpoint();
// The endpoint ExtractTextViaServer uses unless told otherwise (process-wide, thread-safe).
QString ExtractionServerEndpoint();
// Points the extraction at another server ("http://host:port"); empty restores the default.
void SetExtractionServerEndpoint(const QString &endpoint);
// The read time-out the exchanges use unless told otherwise (process-wide, thread-safe).
int ExtractionReadTimeout();
// Sets it in milliseconds; 0 (or less) restores kExtractionReadTimeoutMs.
void SetExtractionReadTimeout(int ms);

// Sends the file's bytes by PUT to Endpoint + "/tika" and returns the plain text the server
// answers. True when the exchange succeeded and Text is not empty; on failure Text is empty
// and ErrorText says why ("HTTP error (%d): %s", "Error: " + message, or the open error; no
// request is sent when the file cannot be opened). Never throws.
// Text beyond kMaxExtractedTextLength is not read: Text holds the first part and Truncated
// (when given) is set.
bool ExtractTextViaServer(const QString &fileName, QString &text, QString &errorText,
                          const QString &endpoint = ExtractionServerEndpoint(),
                          int readTimeoutMs = ExtractionReadTimeout(), bool *truncated = nullptr);

// Receives the document text as it arrives, in pieces of whole characters (a UTF-8 sequence
// split between two reads is held back until it is complete). Returning false ends the
// exchange at once.
using ExtractedTextSink = std::function<bool(QStringView piece)>;

// The same exchange as ExtractTextViaServer, with the text handed to Sink instead of being
// held. True when the exchange succeeded (or Sink ended it) and some text arrived; on failure
// ErrorText says why. Never throws.
bool StreamTextViaServer(const QString &fileName, const ExtractedTextSink &sink, QString &errorText,
                         const QString &endpoint = ExtractionServerEndpoint(),
                         int readTimeoutMs = ExtractionReadTimeout());

// How a server exchange ended: failed (no answer, an answer other than 2xx, time-out, cancel),
// stopped by the sink, or with the whole text delivered.
enum class ExtractionEnd
{
    Failed,
    Stopped,
    Complete
};

// The exchange of StreamTextViaServer for the file open on Fd, sent from its current offset;
// the caller keeps the descriptor (and can look at the file through it afterwards). When it
// failed, Failure (when given) tells how, for the user.
ExtractionEnd StreamFileViaServer(int fd, const ExtractedTextSink &sink, QString &errorText,
                                  const QString &endpoint = ExtractionServerEndpoint(),
                                  int readTimeoutMs = ExtractionReadTimeout(),
                                  ContentTestError *failure = nullptr);

} // namespace dv
