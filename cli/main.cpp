#include "cli/CliOptions.h"
#include "cli/CliResultList.h"
#include "core/filesearch/FileListSearch.h"
#include "core/filesearch/SearchRequest.h"
#include "core/filesearch/TDvSearchOptions.h"
#include "core/platform/FileName.h"
#include "core/search/CachedExtraction.h"
#include "core/search/ContentMatcher.h"
#include "core/search/ExtractionClient.h"
#include "core/threads/MainThreadQueue.h"

#include <QCoreApplication>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <signal.h>
#include <sys/stat.h>

using namespace dv;

namespace {

constexpr int kExitFound = 0;
constexpr int kExitNothing = 1;
// Bad usage, or nothing found while some file could not be tested (as grep and rg do).
constexpr int kExitError = 2;
// Ended by a signal: 128 + its number, as the shell reports it (130 for SIGINT, 143 for SIGTERM).
constexpr int kExitSignalBase = 128;

std::atomic<bool> gStop{false};
std::atomic<int> gSignal{0};
static_assert(std::atomic<bool>::is_always_lock_free);
static_assert(std::atomic<int>::is_always_lock_free);

void OnSignal(int pSignal)
{
    gSignal = pSignal;
    gStop = true;
    // Also ends the exchange or scan of the file under test, not only the candidates after it.
    ContentTestCancelled = true;
    // A second Ctrl+C ends the program at once, even inside a slow content test.
    signal(pSignal, SIG_DFL);
}

void InstallSignalHandlers()
{
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A closed pipe shows as a failed write, which ends the search like Ctrl+C.
    signal(SIGPIPE, SIG_IGN);
}

void PrintError(const QString &pMessage)
{
    std::fprintf(stderr, "delvora-find: %s\n", pMessage.toUtf8().constData());
}

enum class RootKind
{
    Missing,
    Folder,
    Entry // any other entry: judged on its own, as a walk of its folder would judge it
};

// What a FOLDER|FILE argument is; warns (unless pQuiet) when it does not exist.
RootKind KindOfRoot(const QString &pRoot, bool pQuiet)
{
    const QByteArray bytes = EncodeFileName(pRoot);
    struct stat st;
    if (stat(bytes.constData(), &st) != 0) {
        if (!pQuiet)
            std::fprintf(stderr, "delvora-find: warning: '%s': no such file or folder\n",
                         bytes.constData());
        return RootKind::Missing;
    }
    return S_ISDIR(st.st_mode) ? RootKind::Folder : RootKind::Entry;
}

} // namespace

int main(int argc, char **argv)
{
    int qtArgc = 1;
    QCoreApplication app(qtArgc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("delvora-find"));
    MainThreadQueue::SetMainThread();

    CliOptions cli;
    QString error;
    if (!CliOptions::Parse(argc, argv, cli, error)) {
        PrintError(error);
        std::fputs(CliOptions::Usage().toUtf8().constData(), stderr);
        return kExitError;
    }
    if (cli.Help) {
        std::fputs(CliOptions::Usage().toUtf8().constData(), stdout);
        return 0;
    }
    if (cli.Version) {
        std::printf("delvora-find %s\n", DELVORA_VERSION);
        return 0;
    }

    QList<std::pair<QString, RootKind>> roots;
    for (const QString &root : cli.Folders) {
        const RootKind kind = KindOfRoot(root, cli.NoMessages);
        if (kind != RootKind::Missing)
            roots.append({root, kind});
    }
    if (!cli.Folders.isEmpty() && roots.isEmpty())
        return kExitNothing;
    if (cli.Folders.isEmpty())
        roots.append({QString(), RootKind::Folder}); // every drive, or the desktop folder

    InstallSignalHandlers();
    ScanUnrecognizedFormats = cli.Unrecognized;
    SetTextCacheEnabled(!cli.NoCache);

    // The list is made before the search that holds it, the options of the search after it.
    TDvSearchOptions options;
    const QString text = ApplySearchRequest(cli.Request(), options);
    CliResultList list(text, gStop, cli.NullTerminated ? '\0' : '\n', !cli.NoMessages);
    FileListSearch search(list);
    // The candidates' contents are tested ahead, several at once; the list decides in order.
    search.SetTextToFind(text);
    bool ended = false;
    search.SetOnEndSearch([&ended] { ended = true; });
    search.SearchOptions().Assign(options);
    for (const auto &[root, kind] : roots) {
        if (kind == RootKind::Folder)
            search.Search(root);
        else
            search.SearchEntry(root);
    }

    bool stopping = false;
    while (!ended) {
        MainThreadQueue::WaitForWork(100);
        MainThreadQueue::RunPending();
        // Never from inside a batch: only here, between batches.
        if (gStop && !stopping && !ended) {
            stopping = true;
            search.Stop();
        }
    }
    list.ClearProgress();
    std::fflush(stdout);

    // The last texts stored are still queued: written now, as _Exit runs no destructor. A
    // signal meanwhile cuts the wait short, and still decides the status.
    FlushTextCacheInUse();
    const int code = gSignal != 0                   ? kExitSignalBase + gSignal
                     : list.Found() > 0             ? kExitFound
                     : !list.Unsearched().isEmpty() ? kExitError
                                                    : kExitNothing;
    // Every enumeration has ended; tearing the pool down would only wait for idle threads.
    std::_Exit(code);
}
