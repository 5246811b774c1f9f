#include "textd/RequestBody.h"

#include <QDir>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace dv::textd {

namespace {

bool writeAllTo(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= size_t(n);
    }
    return true;
}

int openTemporaryFile()
{
    const QByteArray dir = QFile::encodeName(QDir::tempPath());
    int fd = ::open(dir.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0)
        return fd;
    // File systems without O_TMPFILE: create and unlink at once.
    QByteArray pattern = dir + "/delvora-textd-XXXXXX";
    fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd >= 0)
        ::unlink(pattern.constData());
    return fd;
}

} // namespace

RequestBody::RequestBody(qint64 memoryThreshold) : m_threshold(memoryThreshold) {}

RequestBody::~RequestBody()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool RequestBody::append(const char *data, size_t size)
{
    if (size == 0)
        return true;
    if (m_fd < 0 && m_size + qint64(size) > m_threshold && !spill())
        return false;
    if (m_fd >= 0) {
        if (!writeAllTo(m_fd, data, size))
            return false;
    } else {
        m_bytes.append(data, qsizetype(size));
    }
    m_size += qint64(size);
    return true;
}

bool RequestBody::spill()
{
    const int fd = openTemporaryFile();
    if (fd < 0)
        return false;
    if (!writeAllTo(fd, m_bytes.constData(), size_t(m_bytes.size()))) {
        ::close(fd);
        return false;
    }
    m_fd = fd;
    m_bytes = QByteArray();
    return true;
}

} // namespace dv::textd
