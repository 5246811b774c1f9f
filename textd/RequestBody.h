#pragma once

#include <QByteArray>

#include <cstddef>

namespace dv::textd {

// The body of one upload, received in pieces: kept in memory while small, moved to an
// unlinked temporary file once it grows past the threshold, so a large upload never sits
// in the server's memory.
class RequestBody
{
public:
    static constexpr qint64 DefaultMemoryThreshold = 4 * 1024 * 1024;

    explicit RequestBody(qint64 memoryThreshold = DefaultMemoryThreshold);
    RequestBody(const RequestBody &) = delete;
    RequestBody &operator=(const RequestBody &) = delete;
    ~RequestBody();

    // Appends a piece; false when the temporary file cannot be written (disk full).
    bool append(const char *data, size_t size);

    qint64 size() const { return m_size; }
    bool inFile() const { return m_fd >= 0; }
    // The temporary file (valid when inFile()); the body starts at offset 0.
    int fileDescriptor() const { return m_fd; }
    // The bytes (valid when !inFile()).
    const QByteArray &bytes() const { return m_bytes; }

private:
    bool spill();

    qint64 m_threshold;
    qint64 m_size = 0;
    QByteArray m_bytes;
    int m_fd = -1;
};

} // namespace dv::textd
