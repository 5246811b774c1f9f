// delvora-textd: Delvora's local text-extraction server (Tika server REST interface).
#include "textd/ListenSocket.h"
#include "textd/ServerOptions.h"
#include "textd/TextServer.h"
#include "textd/WorkerMain.h"
#include "textd/WorkerPool.h"

#include <QStringList>
#include <QThread>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <pthread.h>
#include <sys/stat.h>

using namespace dv::textd;

namespace {

int fail(const QString &message, int code)
{
    std::fprintf(stderr, "delvora-textd: %s\n", message.toLocal8Bit().constData());
    return code;
}

// Worker mode: "--worker <server pid> <memory limit MiB>", with the socket on descriptor 3.
int workerMain(int argc, char **argv)
{
    struct stat st
    {
    };
    if (argc != 4 || ::fstat(WorkerSocketFd, &st) != 0 || !S_ISSOCK(st.st_mode))
        return fail(QStringLiteral("--worker is for the server's own use"), 2);
    return runWorker(WorkerSocketFd, pid_t(std::atol(argv[2])), std::atoll(argv[3]));
}

// Returns on a stop signal, or once no connection has been open for IdleMs: the server then
// takes no new connection, serves those it has, and returns when they are done.
void waitForStopOrIdle(TextServer &server, const sigset_t &stopSignals, qint64 idleMs)
{
    const auto waitForSignal = [&](qint64 ms) {
        const timespec wait{time_t(ms / 1000), long(ms % 1000) * 1000000L};
        return sigtimedwait(&stopSignals, nullptr, &wait) >= 0;
    };
    for (;;) {
        const qint64 left = idleMs - server.idleMilliseconds();
        if (left <= 0)
            break;
        if (waitForSignal(left))
            return;
    }
    server.stopAccepting();
    // One may have come in between; it is answered before the end.
    while (server.openConnections() > 0)
        if (waitForSignal(100))
            return;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc >= 2 && std::strcmp(argv[1], "--worker") == 0)
        return workerMain(argc, argv);

    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    ServerOptions options;
    try {
        options = parseServerOptions(args);
    } catch (const OptionError &e) {
        return fail(QString::fromLocal8Bit(e.what()), 2);
    }
    if (options.showHelp) {
        std::fputs(serverUsage().toLocal8Bit().constData(), stdout);
        return 0;
    }

    // Signals that end the server are taken by sigwait below; every thread inherits the mask.
    std::signal(SIGPIPE, SIG_IGN);
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    for (int s : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&stopSignals, s);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    ListenSocket socket;
    try {
        socket = ListenSocket::inherited(options.allowRemote);
        if (socket.fd() < 0)
            socket = ListenSocket::open(options.host, options.port, options.allowRemote);
    } catch (const ListenError &e) {
        return fail(QString::fromLocal8Bit(e.what()), 1);
    }
    const QString url = QStringLiteral("http://%1:%2/").arg(socket.hostText()).arg(socket.port());

    WorkerPool::Settings poolSettings;
    poolSettings.workers =
        options.workers > 0 ? options.workers : std::max(2, QThread::idealThreadCount());
    poolSettings.timeoutSeconds = options.timeoutSeconds;
    poolSettings.cpuLimitSeconds = options.cpuLimitSeconds;
    poolSettings.memoryLimitMiB = options.memoryLimitMiB;
    poolSettings.retireMemoryMiB = options.retireMemoryMiB;
    WorkerPool pool(poolSettings);
    pool.start();

    TextServer::Settings serverSettings;
    serverSettings.connectionTimeoutSeconds = options.connectionTimeoutSeconds;
    serverSettings.maxConnections = options.maxConnections;
    serverSettings.requestTimeoutSeconds = options.requestTimeoutSeconds;
    serverSettings.minUploadRate = options.minUploadRate;
    serverSettings.maxUploadBytes = options.maxUploadMiB * 1024 * 1024;
    TextServer server(pool, serverSettings);
    if (!server.start(socket))
        return fail(QStringLiteral("cannot start the HTTP server on %1").arg(url), 1);

    std::printf("delvora-textd %s listening on %s\n", DELVORA_VERSION,
                url.toLocal8Bit().constData());
    std::fflush(stdout);

    if (options.idleExitSeconds > 0)
        waitForStopOrIdle(server, stopSignals, options.idleExitSeconds * 1000LL);
    else {
        int signal = 0;
        sigwait(&stopSignals, &signal);
    }
    server.stop();
    return 0;
}
