#pragma once

#include "core/platform/UniqueFd.h"

#include <QString>

namespace dv {

// An open, read-only regular file (owned descriptor, closed on destruction; move-only).
class ReadOnlyFile
{
public:
    ReadOnlyFile() = default;
    ReadOnlyFile(UniqueFd fd, qint64 size) : m_fd(std::move(fd)), m_size(size) {}

    bool isOpen() const { return m_fd.isValid(); }
    int fd() const { return m_fd.get(); }
    // Size when the file was opened.
    qint64 size() const { return m_size; }
    // Reads until Count bytes arrived or the file ends; the number read, or -1 on an error.
    qint64 read(char *buffer, qint64 count);
    void close() { m_fd.reset(); }

private:
    UniqueFd m_fd;
    qint64 m_size = 0;
};

// Opens FileName for reading, without locking it against other readers and writers. Only
// regular files (or links to them) open: a directory, FIFO, socket or device is refused
// without blocking. On failure the result is closed and ErrorText says why.
ReadOnlyFile OpenFileForReading(const QString &fileName, QString &errorText);
// The same; ErrorNumber takes the errno value of a failure (0 for a file that is not a regular
// file, nor a directory).
ReadOnlyFile OpenFileForReading(const QString &fileName, QString &errorText, int &errorNumber);

} // namespace dv
