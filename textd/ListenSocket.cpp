#include "textd/ListenSocket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace dv::textd {

namespace {

bool isLoopback(const sockaddr *sa)
{
    if (sa->sa_family == AF_INET) {
        const auto *in = reinterpret_cast<const sockaddr_in *>(sa);
        return (ntohl(in->sin_addr.s_addr) >> 24) == 127;
    }
    if (sa->sa_family == AF_INET6) {
        const auto *in6 = reinterpret_cast<const sockaddr_in6 *>(sa);
        if (IN6_IS_ADDR_LOOPBACK(&in6->sin6_addr))
            return true;
        if (IN6_IS_ADDR_V4MAPPED(&in6->sin6_addr))
            return in6->sin6_addr.s6_addr[12] == 127;
    }
    return false;
}

QString addressText(const sockaddr *sa)
{
    char buf[INET6_ADDRSTRLEN] = {};
    if (sa->sa_family == AF_INET) {
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in *>(sa)->sin_addr, buf, sizeof buf);
        return QString::fromLatin1(buf);
    }
    inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6 *>(sa)->sin6_addr, buf, sizeof buf);
    return QStringLiteral("[%1]").arg(QString::fromLatin1(buf));
}

} // namespace

ListenSocket ListenSocket::open(const QString &host, int port, bool allowRemote)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo *list = nullptr;
    const QByteArray hostBytes = host.toUtf8();
    const QByteArray portBytes = QByteArray::number(port);
    const int rc = getaddrinfo(hostBytes.constData(), portBytes.constData(), &hints, &list);
    if (rc != 0 || !list)
        throw ListenError(QStringLiteral("cannot resolve host '%1': %2")
                              .arg(host, QString::fromLocal8Bit(gai_strerror(rc)))
                              .toStdString());
    std::unique_ptr<addrinfo, void (*)(addrinfo *)> guard(list, freeaddrinfo);

    // Every address the name stands for must be loopback: "localhost" may resolve to both.
    if (!allowRemote) {
        for (const addrinfo *ai = list; ai; ai = ai->ai_next) {
            if (!isLoopback(ai->ai_addr)) {
                QString where = host;
                const QString address = addressText(ai->ai_addr);
                if (address != host && address != QLatin1Char('[') + host + QLatin1Char(']'))
                    where += QStringLiteral(" (%1)").arg(address);
                throw ListenError(
                    QStringLiteral("refusing to listen on %1, which is not a "
                                   "loopback address; pass --allow-remote to allow it")
                        .arg(where)
                        .toStdString());
            }
        }
    }

    const addrinfo *ai = list;
    const int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC, ai->ai_protocol);
    if (fd < 0)
        throw ListenError(
            QStringLiteral("cannot create a socket: %1").arg(strerror(errno)).toStdString());
    ListenSocket s;
    s.m_fd = fd;
    s.m_ipv6 = ai->ai_family == AF_INET6;
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (s.m_ipv6)
        setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
    if (::bind(fd, ai->ai_addr, ai->ai_addrlen) != 0) {
        const int err = errno;
        if (err == EADDRINUSE)
            throw ListenError(QStringLiteral("port %1 on %2 is already in use")
                                  .arg(port)
                                  .arg(addressText(ai->ai_addr))
                                  .toStdString());
        throw ListenError(QStringLiteral("cannot listen on %1 port %2: %3")
                              .arg(addressText(ai->ai_addr))
                              .arg(port)
                              .arg(strerror(err))
                              .toStdString());
    }
    if (::listen(fd, 64) != 0)
        throw ListenError(QStringLiteral("cannot listen on %1 port %2: %3")
                              .arg(addressText(ai->ai_addr))
                              .arg(port)
                              .arg(strerror(errno))
                              .toStdString());
    s.describeBound();
    return s;
}

ListenSocket ListenSocket::inherited(bool allowRemote)
{
    // The protocol of sd_listen_fds(3), done here rather than linking libsystemd for it: the
    // descriptors start at 3 and are meant for us only when LISTEN_PID names this process.
    constexpr int firstFd = 3;
    const char *pidText = std::getenv("LISTEN_PID");
    const char *countText = std::getenv("LISTEN_FDS");
    const bool forUs = pidText && countText && std::atoll(pidText) == ::getpid();
    const int count = forUs ? std::atoi(countText) : 0;
    ::unsetenv("LISTEN_PID");
    ::unsetenv("LISTEN_FDS");
    ::unsetenv("LISTEN_FDNAMES");
    if (count <= 0)
        return {};
    if (count != 1)
        throw ListenError(QStringLiteral("systemd passed %1 sockets; the socket unit must listen "
                                         "on exactly one address")
                              .arg(count)
                              .toStdString());
    int accepting = 0;
    int type = 0;
    socklen_t acceptingSize = sizeof accepting;
    socklen_t typeSize = sizeof type;
    sockaddr_storage bound{};
    socklen_t len = sizeof bound;
    const bool listeningTcp =
        ::getsockopt(firstFd, SOL_SOCKET, SO_ACCEPTCONN, &accepting, &acceptingSize) == 0 &&
        accepting && ::getsockopt(firstFd, SOL_SOCKET, SO_TYPE, &type, &typeSize) == 0 &&
        type == SOCK_STREAM &&
        ::getsockname(firstFd, reinterpret_cast<sockaddr *>(&bound), &len) == 0 &&
        (bound.ss_family == AF_INET || bound.ss_family == AF_INET6);
    if (!listeningTcp)
        throw ListenError("the socket passed by systemd is not a listening TCP socket");
    if (!allowRemote && !isLoopback(reinterpret_cast<sockaddr *>(&bound)))
        throw ListenError(QStringLiteral("refusing the socket passed by systemd on %1, which is "
                                         "not a loopback address; pass --allow-remote to allow it")
                              .arg(addressText(reinterpret_cast<sockaddr *>(&bound)))
                              .toStdString());
    ::fcntl(firstFd, F_SETFD, FD_CLOEXEC); // the parser processes get their own descriptor 3
    ListenSocket s;
    s.m_fd = firstFd;
    s.m_ipv6 = bound.ss_family == AF_INET6;
    s.describeBound();
    return s;
}

void ListenSocket::describeBound()
{
    sockaddr_storage bound{};
    socklen_t len = sizeof bound;
    getsockname(m_fd, reinterpret_cast<sockaddr *>(&bound), &len);
    m_hostText = addressText(reinterpret_cast<sockaddr *>(&bound));
    m_port = bound.ss_family == AF_INET
                 ? ntohs(reinterpret_cast<sockaddr_in *>(&bound)->sin_port)
                 : ntohs(reinterpret_cast<sockaddr_in6 *>(&bound)->sin6_port);
}

ListenSocket::ListenSocket(ListenSocket &&other) noexcept
    : m_fd(other.m_fd), m_ipv6(other.m_ipv6), m_port(other.m_port), m_hostText(other.m_hostText)
{
    other.m_fd = -1;
}

ListenSocket &ListenSocket::operator=(ListenSocket &&other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = other.m_fd;
        m_ipv6 = other.m_ipv6;
        m_port = other.m_port;
        m_hostText = other.m_hostText;
        other.m_fd = -1;
    }
    return *this;
}

ListenSocket::~ListenSocket()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

int ListenSocket::release()
{
    const int fd = m_fd;
    m_fd = -1;
    return fd;
}

} // namespace dv::textd
