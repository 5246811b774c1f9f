#pragma once

#include "textd/extract/Extract.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <type_traits>

// The exchange between the server and a worker child over a stream socket. Both ends are the
// same executable, so headers travel as raw structs.
namespace dv::textd::protocol {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t JobMagic = 0x444a4256;    // "VBJD"
constexpr std::uint32_t ResultMagic = 0x44534256; // "VBSD"
// Sent once by a worker when it is ready for its first job.
constexpr char ReadyByte = 'R';

// One document to parse. Followed by the type hint, the file-name hint (UTF-8) and, unless the
// body comes as a descriptor passed with the header, the body bytes.
struct JobHeader
{
    std::uint32_t magic = JobMagic;
    std::uint32_t bodyInFile = 0;
    std::uint64_t bodySize = 0;
    std::uint32_t typeHintSize = 0;
    std::uint32_t nameHintSize = 0;
    std::uint32_t cpuSeconds = 0;
    std::uint32_t retireRssMiB = 0; // the worker retires when it ends a job this large; 0: never
    ExtractLimits limits;
};
static_assert(std::is_trivially_copyable_v<JobHeader>);

// The answer, in one or more messages, each followed by its text and error message (UTF-8).
// Text is sent as it is extracted; only the final message carries the status.
struct ResultHeader
{
    std::uint32_t magic = ResultMagic;
    std::uint32_t status = 0; // ExtractStatus
    std::uint64_t textSize = 0;
    std::uint32_t errorSize = 0;
    std::uint32_t retiring = 0; // the worker exits after this answer
    std::uint32_t final = 1;    // 0: more text follows
    std::uint32_t reserved = 0;
};
static_assert(std::is_trivially_copyable_v<ResultHeader>);

enum class IoResult
{
    Ok,
    Closed,   // the peer closed or died
    TimedOut, // the deadline passed
    Failed
};

constexpr Clock::time_point NoDeadline = Clock::time_point::max();

// Writes all bytes; on a non-blocking socket waits until Deadline at most.
IoResult writeAll(int fd, const void *data, size_t size, Clock::time_point deadline);
// Writes all bytes, passing PassFd along with the first of them.
IoResult writeAllWithDescriptor(int fd, const void *data, size_t size, int passFd,
                                Clock::time_point deadline);
// Reads exactly Size bytes.
IoResult readAll(int fd, void *data, size_t size, Clock::time_point deadline);
// Reads exactly Size bytes and a descriptor passed with them (-1 in *ReceivedFd when none).
IoResult readAllWithDescriptor(int fd, void *data, size_t size, int *receivedFd);

} // namespace dv::textd::protocol
