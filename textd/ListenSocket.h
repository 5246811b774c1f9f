#pragma once

#include <QString>

#include <stdexcept>

namespace dv::textd {

// A socket that cannot be opened; the text is shown to the user as it is.
class ListenError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// A bound, listening TCP socket (owned: closed by the destructor unless released).
class ListenSocket
{
public:
    // Binds Host:Port; refuses an address that is not loopback unless AllowRemote.
    static ListenSocket open(const QString &host, int port, bool allowRemote);
    // The listening socket systemd passed by socket activation (LISTEN_PID, LISTEN_FDS), with
    // the same loopback rule; an empty ListenSocket (fd() < 0) when none was passed to this
    // process. Clears the variables, so the parser processes never see them.
    static ListenSocket inherited(bool allowRemote);

    ListenSocket() = default;
    ListenSocket(ListenSocket &&other) noexcept;
    ListenSocket &operator=(ListenSocket &&other) noexcept;
    ListenSocket(const ListenSocket &) = delete;
    ListenSocket &operator=(const ListenSocket &) = delete;
    ~ListenSocket();

    int fd() const { return m_fd; }
    bool isIpv6() const { return m_ipv6; }
    int port() const { return m_port; }
    // The bound address as a URL host part ("127.0.0.1", "[::1]").
    QString hostText() const { return m_hostText; }
    // Hands the descriptor over to its next owner.
    int release();

private:
    // Fills the address and port from the bound descriptor.
    void describeBound();

    int m_fd = -1;
    bool m_ipv6 = false;
    int m_port = 0;
    QString m_hostText;
};

} // namespace dv::textd
