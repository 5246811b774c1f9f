#include "core/search/LocalTextSource.h"

#include "core/search/LocalTextDecision.h"
#include "core/search/ReadOnlyFile.h"

#include <QByteArrayView>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <unistd.h>
#include <vector>

namespace dv {

namespace {

// The first read: the decision's bytes, and most source files whole.
constexpr qsizetype kFirstRead = 16 * 1024;
// Later reads of a long file.
constexpr qsizetype kChunk = 128 * 1024;

// Reads up to Count bytes from Offset on (fewer at the file's end); -1 on an error.
qint64 ReadAt(int fd, char *buffer, qint64 count, qint64 offset)
{
    qint64 total = 0;
    while (total < count) {
        const ssize_t n = ::pread(fd, buffer + total, static_cast<size_t>(count - total),
                                  static_cast<off_t>(offset + total));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (n == 0)
            break;
        total += n;
    }
    return total;
}

} // namespace

std::optional<ExtractionEnd> LocalTextSource::Read(const ReadOnlyFile &file,
                                                   const ExtractedTextSink &sink,
                                                   const CachedTextProbe &probe,
                                                   ContentTestError *failure)
{
    if (!LocalTextDecision::IsEnabled())
        return std::nullopt;
    const int fd = file.fd();
    qint64 size = file.size();
    // Not zeroed: a page is touched only once a file's bytes are read into it.
    thread_local const std::unique_ptr<char[]> bufferMemory(new char[kChunk]);
    char *const buffer = bufferMemory.get();
    qint64 got = size > 0 ? ReadAt(fd, buffer, std::min<qint64>(size, kFirstRead), 0) : 0;
    if (got < 0)
        return std::nullopt; // the server's exchange meets the same error
    switch (LocalTextDecision::Decide(buffer, got, got < kFirstRead ? got : size)) {
    case LocalTextDecision::NoText:
        return ExtractionEnd::Complete;
    case LocalTextDecision::Server:
        return std::nullopt;
    case LocalTextDecision::PlainText:
        break;
    }
    const auto cancelled = [&] {
        if (!IsContentTestCancelled())
            return false;
        if (failure)
            *failure = ContentTestError::Cancelled();
        return true;
    };
    // First pass: the whole file must be valid UTF-8 (else the server guesses its charset),
    // and the probe sees the bytes on the way, stopping once it has its answer.
    bool probing = static_cast<bool>(probe.feed);
    qint64 offset = got;
    qsizetype held = got;
    size = got < kFirstRead ? got : size;
    for (;;) {
        if (cancelled())
            return ExtractionEnd::Failed;
        const bool last = offset >= size;
        const qsizetype whole = held - (last ? 0 : IncompleteUtf8Tail({buffer, held}));
        if (!QByteArrayView(buffer, whole).isValidUtf8())
            return std::nullopt;
        if (probing)
            probing = probe.feed(buffer, whole);
        if (last)
            break;
        const qsizetype tail = held - whole;
        std::memmove(buffer, buffer + whole, static_cast<size_t>(tail));
        const qint64 n =
            ReadAt(fd, buffer + tail, std::min<qint64>(kChunk - tail, size - offset), offset);
        if (n < 0)
            return std::nullopt;
        if (n == 0)
            size = offset; // cut short meanwhile: its end is here
        offset += n;
        held = tail + n;
    }
    if (probe.feed && probe.settled())
        return ExtractionEnd::Complete;
    // Second pass: the text itself, from the bytes still held when they are all of it.
    if (offset == held)
        return sink(QString::fromUtf8(buffer, held)) ? ExtractionEnd::Complete
                                                     : ExtractionEnd::Stopped;
    qsizetype carried = 0;
    for (qint64 at = 0; at < size;) {
        if (cancelled())
            return ExtractionEnd::Failed;
        const qint64 n =
            ReadAt(fd, buffer + carried, std::min<qint64>(kChunk - carried, size - at), at);
        if (n <= 0)
            break;
        at += n;
        const qsizetype bytes = carried + n;
        const qsizetype whole = bytes - (at >= size ? 0 : IncompleteUtf8Tail({buffer, bytes}));
        if (!sink(QString::fromUtf8(buffer, whole)))
            return ExtractionEnd::Stopped;
        carried = bytes - whole;
        std::memmove(buffer, buffer + whole, static_cast<size_t>(carried));
    }
    return ExtractionEnd::Complete;
}

} // namespace dv
