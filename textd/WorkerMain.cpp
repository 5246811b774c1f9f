#include "textd/WorkerMain.h"

#include "textd/extract/Extract.h"
#include "textd/Sanitizers.h"
#include "textd/WorkerProtocol.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <malloc.h>
#include <memory>
#include <new>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace dv::textd {

namespace {

using namespace protocol;

// Test hook, honoured only in worker mode and only with DELVORA_TEXTD_TEST_HOOKS=1 in the
// environment: a document starting with "DELVORA-TEST:<kind>" makes this child crash, hang,
// spin or allocate without bound (so the tests can show the server survives each), answer
// with the hints it was given or its process id, keep a given number of MiB, or send a first
// part of its text and the rest only once a given file exists (or fail then).
bool runTestHook(const QByteArray &content, const QString &typeHint, const QString &nameHint,
                 const TextSink &sink, ExtractResult &result)
{
    static const bool enabled = qgetenv("DELVORA_TEXTD_TEST_HOOKS") == "1";
    static const QByteArray prefix = "DELVORA-TEST:";
    if (!enabled || !content.startsWith(prefix))
        return false;
    const QList<QByteArray> words = content.mid(prefix.size()).simplified().split(' ');
    const QByteArray kind = words.value(0);
    const QByteArray pidText = "pid=" + QByteArray::number(::getpid()) + "\n";
    if (kind == "crash") {
        std::raise(SIGSEGV);
    } else if (kind == "hang") {
        for (;;)
            ::pause();
    } else if (kind == "spin") {
        volatile unsigned long n = 0;
        for (;;)
            n = n + 1;
    } else if (kind == "allocate") {
        std::vector<char *> blocks;
        for (;;) {
            char *b = new char[16 * 1024 * 1024];
            std::memset(b, 1, 16 * 1024 * 1024);
            blocks.push_back(b);
        }
    } else if (kind == "hints") {
        result = {
            ExtractStatus::Ok, ("type=" + typeHint + "\nname=" + nameHint + "\n").toUtf8(), {}};
        return true;
    } else if (kind == "pid") {
        result = {ExtractStatus::Ok, pidText, {}};
        return true;
    } else if (kind == "keep") {
        static std::vector<std::unique_ptr<char[]>> kept;
        const size_t size = size_t(words.value(1).toULongLong()) * 1024 * 1024;
        kept.push_back(std::make_unique<char[]>(size));
        std::memset(kept.back().get(), 1, size);
        result = {ExtractStatus::Ok, pidText, {}};
        return true;
    } else if (kind == "stream-until" || kind == "stream-until-fail") {
        sink("first part " + pidText);
        struct stat st
        {
        };
        while (::stat(words.value(1).constData(), &st) != 0)
            ::usleep(20'000);
        if (kind == "stream-until-fail")
            result = {ExtractStatus::Unparseable, {}, QStringLiteral("failed after streaming")};
        else
            result = {ExtractStatus::Ok, "second part\n", {}};
        return true;
    }
    return false;
}

void limitCpuForNextJob(unsigned seconds)
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const rlim_t used = rlim_t(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) + 1;
    rlimit lim{};
    getrlimit(RLIMIT_CPU, &lim);
    // Only the soft limit moves (SIGXCPU ends the child); the hard one could not be raised again.
    lim.rlim_cur = used + seconds;
    if (lim.rlim_max != RLIM_INFINITY && lim.rlim_cur > lim.rlim_max)
        lim.rlim_cur = lim.rlim_max;
    setrlimit(RLIMIT_CPU, &lim);
}

bool sendResult(int fd, ExtractStatus status, const QByteArray &text, const QString &error,
                bool retiring, bool final = true)
{
    const QByteArray err = error.toUtf8();
    ResultHeader h;
    h.status = std::uint32_t(status);
    h.textSize = std::uint64_t(text.size());
    h.errorSize = std::uint32_t(err.size());
    h.retiring = retiring ? 1 : 0;
    h.final = final ? 1 : 0;
    return writeAll(fd, &h, sizeof h, NoDeadline) == IoResult::Ok &&
           writeAll(fd, text.constData(), size_t(text.size()), NoDeadline) == IoResult::Ok &&
           writeAll(fd, err.constData(), size_t(err.size()), NoDeadline) == IoResult::Ok;
}

// Resident memory of our own (not the mapped document or the libraries' pages).
qint64 residentAnonymousMiB()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    const qint64 pages = fields.value(1).toLongLong() - fields.value(2).toLongLong();
    return pages * ::sysconf(_SC_PAGESIZE) / (1024 * 1024);
}

class Mapping
{
public:
    ~Mapping()
    {
        if (data != MAP_FAILED && size > 0)
            ::munmap(data, size);
    }
    void *data = MAP_FAILED;
    size_t size = 0;
};

} // namespace

int runWorker(int fd, pid_t serverPid, qint64 memoryLimitMiB)
{
    // Never outlive the server.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    ::prctl(PR_SET_NAME, "textd-worker");
    if (::getppid() != serverPid)
        return 0;
#ifndef DV_TEXTD_ASAN
    // Under AddressSanitizer the shadow memory needs terabytes of address space; the server
    // then caps the resident size through ASAN_OPTIONS instead.
    if (memoryLimitMiB > 0) {
        rlimit lim{};
        lim.rlim_cur = lim.rlim_max = rlim_t(memoryLimitMiB) * 1024 * 1024;
        setrlimit(RLIMIT_AS, &lim);
    }
#else
    Q_UNUSED(memoryLimitMiB);
#endif
    // A document's buffers (its streams, its text) run to megabytes. By default glibc gives such
    // blocks back at once and the next document faults them in again page by page, which cost
    // more than parsing a large legacy document: keep what glibc itself settles on once it has
    // seen a large block (blocks up to 32 MiB from the heap, up to 64 MiB of free heap kept).
    mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 64 * 1024 * 1024);
    const char ready = ReadyByte;
    if (writeAll(fd, &ready, 1, NoDeadline) != IoResult::Ok)
        return 1;

    for (;;) {
        JobHeader h;
        int bodyFd = -1;
        const IoResult r = readAllWithDescriptor(fd, &h, sizeof h, &bodyFd);
        if (r == IoResult::Closed)
            return 0;
        if (r != IoResult::Ok || h.magic != JobMagic)
            return 1;
        QByteArray typeHint(qsizetype(h.typeHintSize), Qt::Uninitialized);
        QByteArray nameHint(qsizetype(h.nameHintSize), Qt::Uninitialized);
        if (readAll(fd, typeHint.data(), size_t(typeHint.size()), NoDeadline) != IoResult::Ok ||
            readAll(fd, nameHint.data(), size_t(nameHint.size()), NoDeadline) != IoResult::Ok)
            return 1;

        QByteArray content;
        Mapping mapping;
        bool loaded = true;
        try {
            if (h.bodyInFile) {
                if (bodyFd < 0)
                    return 1;
                mapping.size = size_t(h.bodySize);
                mapping.data = ::mmap(nullptr, mapping.size, PROT_READ, MAP_PRIVATE, bodyFd, 0);
                ::close(bodyFd);
                bodyFd = -1;
                if (mapping.data == MAP_FAILED)
                    loaded = false;
                else
                    content = QByteArray::fromRawData(static_cast<const char *>(mapping.data),
                                                      qsizetype(mapping.size));
            } else {
                content = QByteArray(qsizetype(h.bodySize), Qt::Uninitialized);
                if (readAll(fd, content.data(), size_t(content.size()), NoDeadline) != IoResult::Ok)
                    return 1;
            }
        } catch (const std::bad_alloc &) {
            return 1; // the rest of the body is still in the socket: start afresh
        }
        if (bodyFd >= 0)
            ::close(bodyFd);
        if (!loaded) {
            if (!sendResult(fd, ExtractStatus::Unparseable, {},
                            QStringLiteral("the document does not fit the memory limit"), false))
                return 1;
            continue;
        }

        limitCpuForNextJob(h.cpuSeconds);
        ExtractResult result;
        bool retiring = false;
        // Text goes to the server as it grows; a server that is gone ends this child.
        const TextSink sink = [fd](const QByteArray &text) {
            if (!sendResult(fd, ExtractStatus::Ok, text, {}, false, false))
                ::_exit(1);
        };
        try {
            const QString type = QString::fromUtf8(typeHint);
            const QString name = QString::fromUtf8(nameHint);
            if (!runTestHook(content, type, name, sink, result))
                result = extractDocument(content, type, name, h.limits, sink);
        } catch (const std::bad_alloc &) {
            // The heap may be fragmented or half-full of leaks: answer, then make room for a
            // fresh worker.
            result = {ExtractStatus::Unparseable, {}, QStringLiteral("out of memory")};
            retiring = true;
        } catch (const std::exception &e) {
            result = {ExtractStatus::Unparseable, {}, QString::fromLocal8Bit(e.what())};
        } catch (...) {
            result = {ExtractStatus::Unparseable, {}, QStringLiteral("parser failure")};
        }
        // Freed memory mostly stays with the process: a child that grew on a huge document
        // makes room for a fresh one instead of sitting on it for its remaining jobs.
        if (h.retireRssMiB > 0 && residentAnonymousMiB() >= qint64(h.retireRssMiB))
            retiring = true;
        if (!sendResult(fd, result.status, result.utf8Text, result.error, retiring))
            return 1;
        if (retiring)
            return 0;
    }
}

} // namespace dv::textd
