#include "textd/WorkerProtocol.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace dv::textd::protocol {

namespace {

// Waits for Events on Fd; false when the deadline passed first.
bool waitFor(int fd, short events, Clock::time_point deadline)
{
    for (;;) {
        int timeoutMs = -1;
        if (deadline != NoDeadline) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0)
                return false;
            timeoutMs = int(std::min<long long>(left.count(), 60'000));
        }
        pollfd p{fd, events, 0};
        const int rc = ::poll(&p, 1, timeoutMs);
        if (rc > 0)
            return true; // errors and hang-ups show in the following call
        if (rc < 0 && errno != EINTR)
            return true;
    }
}

// After a send or receive failed with errno: nothing when the call is to be made again (an
// interrupt, or the socket became ready before the deadline), else the outcome.
std::optional<IoResult> afterFailedTransfer(int fd, short events, Clock::time_point deadline)
{
    if (errno == EINTR)
        return std::nullopt;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
        if (!waitFor(fd, events, deadline))
            return IoResult::TimedOut;
        return std::nullopt;
    }
    if (errno == EPIPE || errno == ECONNRESET)
        return IoResult::Closed;
    return IoResult::Failed;
}

IoResult writeImpl(int fd, const char *data, size_t size, int passFd, Clock::time_point deadline)
{
    while (size > 0) {
        ssize_t n;
        if (passFd >= 0) {
            iovec iov{const_cast<char *>(data), size};
            alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
            msghdr msg{};
            msg.msg_iov = &iov;
            msg.msg_iovlen = 1;
            msg.msg_control = control;
            msg.msg_controllen = sizeof control;
            cmsghdr *c = CMSG_FIRSTHDR(&msg);
            c->cmsg_level = SOL_SOCKET;
            c->cmsg_type = SCM_RIGHTS;
            c->cmsg_len = CMSG_LEN(sizeof(int));
            std::memcpy(CMSG_DATA(c), &passFd, sizeof(int));
            n = ::sendmsg(fd, &msg, MSG_NOSIGNAL);
        } else {
            n = ::send(fd, data, size, MSG_NOSIGNAL);
        }
        if (n < 0) {
            if (const std::optional<IoResult> outcome = afterFailedTransfer(fd, POLLOUT, deadline))
                return *outcome;
            continue;
        }
        passFd = -1; // the descriptor went with the first bytes
        data += n;
        size -= size_t(n);
    }
    return IoResult::Ok;
}

} // namespace

IoResult writeAll(int fd, const void *data, size_t size, Clock::time_point deadline)
{
    return writeImpl(fd, static_cast<const char *>(data), size, -1, deadline);
}

IoResult writeAllWithDescriptor(int fd, const void *data, size_t size, int passFd,
                                Clock::time_point deadline)
{
    return writeImpl(fd, static_cast<const char *>(data), size, passFd, deadline);
}

IoResult readAll(int fd, void *data, size_t size, Clock::time_point deadline)
{
    char *p = static_cast<char *>(data);
    while (size > 0) {
        const ssize_t n = ::recv(fd, p, size, 0);
        if (n == 0)
            return IoResult::Closed;
        if (n < 0) {
            if (const std::optional<IoResult> outcome = afterFailedTransfer(fd, POLLIN, deadline))
                return *outcome;
            continue;
        }
        p += n;
        size -= size_t(n);
    }
    return IoResult::Ok;
}

IoResult readAllWithDescriptor(int fd, void *data, size_t size, int *receivedFd)
{
    *receivedFd = -1;
    char *p = static_cast<char *>(data);
    while (size > 0) {
        iovec iov{p, size};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
        msghdr msg{};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        const ssize_t n = ::recvmsg(fd, &msg, MSG_CMSG_CLOEXEC);
        if (n == 0)
            return IoResult::Closed;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno == ECONNRESET ? IoResult::Closed : IoResult::Failed;
        }
        for (cmsghdr *c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_RIGHTS) {
                int passed = -1;
                std::memcpy(&passed, CMSG_DATA(c), sizeof(int));
                if (*receivedFd >= 0)
                    ::close(*receivedFd);
                *receivedFd = passed;
            }
        }
        p += n;
        size -= size_t(n);
    }
    return IoResult::Ok;
}

} // namespace dv::textd::protocol
