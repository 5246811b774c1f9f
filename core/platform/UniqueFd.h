#pragma once

#include <cerrno>
#include <unistd.h>
#include <utility>

namespace dv {

// Owns one file descriptor and closes it when it goes; moving hands it over, so exactly one
// owner ever closes it. -1 is "none". Closing keeps errno, so a failed call's cause survives
// the cleanup on its way out.
class UniqueFd
{
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) noexcept : m_fd(fd) {}
    UniqueFd(UniqueFd &&other) noexcept : m_fd(other.release()) {}
    UniqueFd &operator=(UniqueFd &&other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;
    ~UniqueFd() { reset(); }

    int get() const noexcept { return m_fd; }
    bool isValid() const noexcept { return m_fd >= 0; }
    explicit operator bool() const noexcept { return isValid(); }

    // Gives up ownership without closing.
    int release() noexcept { return std::exchange(m_fd, -1); }

    // Closes now and tells whether that worked: a written file's error may show only here.
    // Nothing held counts as success.
    bool close() noexcept { return !isValid() || ::close(release()) == 0; }

    // Closes what is held (if anything) and takes fd.
    void reset(int fd = -1) noexcept
    {
        const int old = std::exchange(m_fd, fd);
        if (old >= 0 && old != fd) {
            const int saved = errno;
            ::close(old);
            errno = saved;
        }
    }

private:
    int m_fd = -1;
};

} // namespace dv
