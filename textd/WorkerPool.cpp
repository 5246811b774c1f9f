#include "textd/WorkerPool.h"

#include "textd/RequestBody.h"
#include "textd/Sanitizers.h"
#include "textd/WorkerMain.h"
#include "textd/WorkerProtocol.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace dv::textd {

using namespace protocol;
using std::chrono::seconds;

namespace {

constexpr auto StartTimeout = seconds(20);

QString describeExit(int status)
{
    if (WIFSIGNALED(status))
        return QStringLiteral("the parser process was ended by signal %1 (%2)")
            .arg(WTERMSIG(status))
            .arg(QString::fromLocal8Bit(strsignal(WTERMSIG(status))));
    if (WIFEXITED(status))
        return QStringLiteral("the parser process exited with code %1").arg(WEXITSTATUS(status));
    return QStringLiteral("the parser process ended");
}

} // namespace

WorkerPool::WorkerPool(const Settings &settings) : m_settings(settings)
{
    if (m_settings.workers < 1)
        m_settings.workers = 1;
}

WorkerPool::~WorkerPool()
{
    std::vector<Worker> idle;
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_spawnWanted.notify_all();
        m_freed.notify_all();
    }
    if (m_spawner.joinable())
        m_spawner.join();
    {
        std::lock_guard lock(m_mutex);
        idle.swap(m_idle);
    }
    // Closing the socket ends an idle child; one that does not go at once is killed.
    for (Worker &w : idle)
        ::close(w.fd);
    for (Worker &w : idle) {
        int status = 0;
        for (int i = 0; i < 50 && ::waitpid(w.pid, &status, WNOHANG) == 0; ++i)
            ::usleep(10'000);
        if (::waitpid(w.pid, &status, WNOHANG) == 0) {
            ::kill(w.pid, SIGKILL);
            ::waitpid(w.pid, &status, 0);
        }
    }
}

void WorkerPool::start()
{
    {
        std::lock_guard lock(m_mutex);
        m_live = m_settings.workers;
        m_spawnsWanted = m_settings.workers;
    }
    m_spawner = std::thread([this] { spawnLoop(); });
}

void WorkerPool::spawnLoop()
{
    // Children are started from this one long-lived thread: a child asks the kernel to end it
    // when the thread that started it ends, and request threads come and go.
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_spawnWanted.wait(lock, [this] { return m_stopping || m_spawnsWanted > 0; });
        if (m_stopping)
            return;
        --m_spawnsWanted;
        lock.unlock();
        std::optional<Worker> w = spawn();
        lock.lock();
        if (w) {
            m_idle.push_back(*w);
        } else {
            --m_live;
            ++m_spawnFailures;
        }
        m_freed.notify_all();
    }
}

void WorkerPool::requestSpawnLocked()
{
    ++m_spawnsWanted;
    m_spawnWanted.notify_one();
}

std::optional<WorkerPool::Worker> WorkerPool::spawn()
{
    int sv[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0)
        return std::nullopt;
    ::fcntl(sv[0], F_SETFL, ::fcntl(sv[0], F_GETFL) | O_NONBLOCK);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, sv[1], WorkerSocketFd);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // The server blocks and ignores some signals; a child starts with the defaults.
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int s : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGXCPU})
        sigaddset(&defaults, s);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    const std::string pid = std::to_string(::getpid());
    const std::string memory = std::to_string(m_settings.memoryLimitMiB);
    char arg0[] = "delvora-textd";
    char arg1[] = "--worker";
    char *argv[] = {arg0, arg1, const_cast<char *>(pid.c_str()), const_cast<char *>(memory.c_str()),
                    nullptr};

    std::vector<std::string> envStrings;
    std::vector<char *> env;
#ifdef DV_TEXTD_ASAN
    // No address-space limit works under AddressSanitizer: cap the resident size instead.
    std::string asan = "ASAN_OPTIONS=";
    if (const char *old = std::getenv("ASAN_OPTIONS"))
        asan += std::string(old) + ":";
    asan += "hard_rss_limit_mb=" + memory;
    envStrings.push_back(asan);
    for (char **e = environ; *e; ++e) {
        if (std::strncmp(*e, "ASAN_OPTIONS=", 13) != 0)
            envStrings.emplace_back(*e);
    }
#else
    for (char **e = environ; *e; ++e)
        envStrings.emplace_back(*e);
#endif
    for (std::string &s : envStrings)
        env.push_back(s.data());
    env.push_back(nullptr);

    pid_t child = -1;
    // /proc/self/exe is this very image, even when the file was replaced since the start.
    const int rc = ::posix_spawn(&child, "/proc/self/exe", &actions, &attr, argv, env.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    ::close(sv[1]);
    if (rc != 0) {
        std::fprintf(stderr, "delvora-textd: cannot start a parser process: %s\n",
                     std::strerror(rc));
        ::close(sv[0]);
        return std::nullopt;
    }
    Worker w;
    w.pid = child;
    w.fd = sv[0];
    return w;
}

bool WorkerPool::awaitReady(Worker &worker, std::chrono::steady_clock::time_point deadline)
{
    if (worker.ready)
        return true;
    char byte = 0;
    if (readAll(worker.fd, &byte, 1, std::min(deadline, Clock::now() + StartTimeout)) !=
            IoResult::Ok ||
        byte != ReadyByte)
        return false;
    worker.ready = true;
    return true;
}

std::optional<WorkerPool::Worker>
WorkerPool::acquire(std::chrono::steady_clock::time_point deadline)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        std::optional<Worker> w;
        {
            std::unique_lock lock(m_mutex);
            const int failuresBefore = m_spawnFailures;
            while (m_idle.empty()) {
                if (m_stopping || m_spawnFailures != failuresBefore)
                    return std::nullopt;
                if (m_live < m_settings.workers) {
                    ++m_live;
                    requestSpawnLocked();
                }
                if (m_freed.wait_until(lock, deadline) == std::cv_status::timeout && m_idle.empty())
                    return std::nullopt;
            }
            w = m_idle.back();
            m_idle.pop_back();
        }
        if (awaitReady(*w, deadline))
            return w;
        discard(*w, false, "did not start");
    }
    return std::nullopt;
}

void WorkerPool::release(Worker worker, bool didJob)
{
    if (didJob && ++worker.jobs >= m_settings.jobsPerWorker) {
        discard(worker, true, nullptr);
        return;
    }
    std::lock_guard lock(m_mutex);
    m_idle.push_back(worker);
    m_freed.notify_one();
}

int WorkerPool::endWorker(Worker &worker, bool graceful)
{
    int status = 0;
    if (graceful) {
        ::close(worker.fd);
        // A retiring child exits by itself; give it a moment before the hard way.
        for (int i = 0; i < 100 && ::waitpid(worker.pid, &status, WNOHANG) == 0; ++i)
            ::usleep(10'000);
        if (::waitpid(worker.pid, &status, WNOHANG) == 0) {
            ::kill(worker.pid, SIGKILL);
            ::waitpid(worker.pid, &status, 0);
        }
    } else {
        // Killed first: it may have died on its own, and then the kill changes nothing.
        ::kill(worker.pid, SIGKILL);
        ::close(worker.fd);
        ::waitpid(worker.pid, &status, 0);
    }
    worker = Worker{};
    return status;
}

void WorkerPool::replaceEnded()
{
    // The slot stays counted while the replacement starts.
    std::lock_guard lock(m_mutex);
    if (m_stopping) {
        --m_live;
        m_freed.notify_all();
        return;
    }
    requestSpawnLocked();
}

void WorkerPool::discard(Worker &worker, bool graceful, const char *why)
{
    const pid_t pid = worker.pid;
    endWorker(worker, graceful);
    if (why)
        std::fprintf(stderr, "delvora-textd: parser process %d %s\n", int(pid), why);
    replaceEnded();
}

namespace {

// An idle child never writes, so anything readable or a hang-up on its socket means it is gone.
bool idleWorkerGone(int fd)
{
    pollfd p{fd, POLLIN | POLLRDHUP, 0};
    return ::poll(&p, 1, 0) != 0;
}

} // namespace

namespace {

// Waits until the child has something to say or the client hangs up.
enum class Wait
{
    Ready,
    ClientGone,
    TimedOut
};

Wait waitForWorker(int workerFd, int clientFd, Clock::time_point deadline)
{
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return Wait::TimedOut;
        pollfd p[2] = {{workerFd, POLLIN, 0}, {clientFd, POLLRDHUP, 0}};
        const int n = ::poll(p, clientFd >= 0 ? 2 : 1, int(std::min<qint64>(left.count(), 60'000)));
        if (n < 0 && errno != EINTR)
            return Wait::Ready; // the read that follows tells what is wrong
        if (n <= 0)
            continue;
        if (clientFd >= 0 && (p[1].revents & (POLLRDHUP | POLLHUP | POLLERR)))
            return Wait::ClientGone;
        if (p[0].revents)
            return Wait::Ready;
    }
}

bool clientGone(int clientFd)
{
    if (clientFd < 0)
        return false;
    pollfd p{clientFd, POLLRDHUP, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR));
}

} // namespace

WorkerPool::Job::~Job()
{
    if (m_worker)
        m_pool->discard(*m_worker, false, "was stopped: its client is gone");
}

JobOutcome WorkerPool::run(Job &job, const RequestBody &body, const QByteArray &typeHint,
                           const QByteArray &nameHint, int clientFd)
{
    JobOutcome outcome;
    const auto wallTime = seconds(m_settings.timeoutSeconds);
    // Waiting for a free child and parsing each get the wall time.
    const auto queueDeadline = Clock::now() + wallTime;

    JobHeader h;
    h.bodyInFile = body.inFile() ? 1 : 0;
    h.bodySize = std::uint64_t(body.size());
    h.typeHintSize = std::uint32_t(typeHint.size());
    h.nameHintSize = std::uint32_t(nameHint.size());
    h.cpuSeconds = std::uint32_t(m_settings.cpuLimitSeconds);
    h.retireRssMiB = std::uint32_t(std::max<qint64>(m_settings.retireMemoryMiB, 0));
    h.limits = m_settings.limits;

    // A child may have died while idle (killed from outside): then the job goes to another one.
    for (int attempt = 0; attempt < 2; ++attempt) {
        std::optional<Worker> w = acquire(queueDeadline);
        if (!w) {
            outcome.kind = JobOutcome::Kind::Unavailable;
            outcome.error = QStringLiteral("no parser process is available");
            return outcome;
        }
        if (attempt == 0 && idleWorkerGone(w->fd)) {
            discard(*w, false, "was gone before its job");
            continue;
        }
        if (clientGone(clientFd)) {
            release(*w, false);
            outcome.kind = JobOutcome::Kind::ClientGone;
            return outcome;
        }
        const auto deadline = Clock::now() + wallTime;
        IoResult io = body.inFile() ? writeAllWithDescriptor(w->fd, &h, sizeof h,
                                                             body.fileDescriptor(), deadline)
                                    : writeAll(w->fd, &h, sizeof h, deadline);
        if (io == IoResult::Closed && attempt == 0) {
            discard(*w, false, "was gone before its job");
            continue;
        }
        if (io == IoResult::Ok)
            io = writeAll(w->fd, typeHint.constData(), size_t(typeHint.size()), deadline);
        if (io == IoResult::Ok)
            io = writeAll(w->fd, nameHint.constData(), size_t(nameHint.size()), deadline);
        if (io == IoResult::Ok && !body.inFile())
            io = writeAll(w->fd, body.bytes().constData(), size_t(body.size()), deadline);

        job.m_pool = this;
        job.m_worker = *w;
        job.m_deadline = deadline;
        job.m_clientFd = clientFd;
        bool killed = false;
        outcome = io == IoResult::Ok ? receive(job, attempt == 0 ? &killed : nullptr)
                                     : failed(job, io, attempt == 0 ? &killed : nullptr);
        if (!killed)
            return outcome;
    }
    outcome.kind = JobOutcome::Kind::Unavailable;
    outcome.error = QStringLiteral("no parser process is available");
    return outcome;
}

JobOutcome WorkerPool::next(Job &job)
{
    if (!job.m_worker) {
        JobOutcome outcome;
        outcome.kind = JobOutcome::Kind::Unavailable;
        outcome.error = QStringLiteral("the parse has ended");
        return outcome;
    }
    return receive(job, nullptr);
}

JobOutcome WorkerPool::receive(Job &job, bool *killed)
{
    JobOutcome outcome;
    Worker &w = *job.m_worker;
    IoResult io = IoResult::Ok;
    switch (waitForWorker(w.fd, job.m_clientFd, job.m_deadline)) {
    case Wait::Ready:
        break;
    case Wait::ClientGone:
        outcome.kind = JobOutcome::Kind::ClientGone;
        outcome.error = QStringLiteral("the client is gone");
        discard(w, false, "was stopped: its client is gone");
        job.m_worker.reset();
        return outcome;
    case Wait::TimedOut:
        io = IoResult::TimedOut;
        break;
    }

    ResultHeader r;
    if (io == IoResult::Ok)
        io = readAll(w.fd, &r, sizeof r, job.m_deadline);
    if (io == IoResult::Ok && r.magic != ResultMagic)
        io = IoResult::Failed;
    if (io == IoResult::Ok) {
        try {
            outcome.utf8Text = QByteArray(qsizetype(r.textSize), Qt::Uninitialized);
            QByteArray error(qsizetype(r.errorSize), Qt::Uninitialized);
            io = readAll(w.fd, outcome.utf8Text.data(), size_t(r.textSize), job.m_deadline);
            if (io == IoResult::Ok)
                io = readAll(w.fd, error.data(), size_t(r.errorSize), job.m_deadline);
            outcome.error = QString::fromUtf8(error);
        } catch (const std::bad_alloc &) {
            io = IoResult::Failed;
        }
    }

    switch (io) {
    case IoResult::Ok:
        if (!r.final) {
            outcome.kind = JobOutcome::Kind::Partial;
            return outcome;
        }
        outcome.kind = JobOutcome::Kind::Done;
        outcome.status = ExtractStatus(r.status);
        if (r.retiring)
            discard(w, true, "retired: it ran out of memory or grew too large");
        else
            release(w, true);
        job.m_worker.reset();
        return outcome;
    case IoResult::TimedOut:
    case IoResult::Closed:
    case IoResult::Failed:
        break;
    }
    return failed(job, io, killed);
}

JobOutcome WorkerPool::failed(Job &job, IoResult io, bool *killed)
{
    JobOutcome outcome;
    Worker &w = *job.m_worker;
    switch (io) {
    case IoResult::Ok:
        break;
    case IoResult::TimedOut:
        outcome.kind = JobOutcome::Kind::TimedOut;
        outcome.error = QStringLiteral("no result within %1 s").arg(m_settings.timeoutSeconds);
        discard(w, false, "was stopped at the time limit");
        job.m_worker.reset();
        return outcome;
    case IoResult::Closed:
    case IoResult::Failed:
        break;
    }
    outcome.kind = JobOutcome::Kind::Crashed;
    const pid_t pid = w.pid;
    const int status = endWorker(w, false);
    job.m_worker.reset();
    // Killed from outside (as the out-of-memory killer does, possibly while idle, before
    // the job reached it): the job gets one more chance on a fresh child.
    if (killed && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) {
        std::fprintf(stderr, "delvora-textd: parser process %d was killed; retrying\n", int(pid));
        replaceEnded();
        *killed = true;
        return outcome;
    }
    outcome.error = describeExit(status);
    std::fprintf(stderr, "delvora-textd: parser process %d failed: %s\n", int(pid),
                 outcome.error.toLocal8Bit().constData());
    replaceEnded();
    return outcome;
}

} // namespace dv::textd
