#pragma once

#include <QtGlobal>

#include <sys/types.h>

namespace dv::textd {

// The descriptor on which a worker child finds its socket to the server.
constexpr int WorkerSocketFd = 3;

// Runs the worker mode: parses one document per job received on Fd until the server closes it.
// Returns the process exit code.
int runWorker(int fd, pid_t serverPid, qint64 memoryLimitMiB);

} // namespace dv::textd
