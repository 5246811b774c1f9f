// A burst of new files in a folder of the results, offscreen: right after a search, another
// thread creates N empty files in a watched subfolder, and the automatic refresh takes them.
// Reports the longest stall of the main thread meanwhile (the longest gap between two ticks
// of a 1 ms timer on it, less the interval; target at most 100 ms) and the time from the
// first file to the last row. The refresh stops at the list's limit: N + 1 rows, at most 5,001.
#include "bench/GuiBench.h"
#include "core/platform/FileName.h"
#include "core/threads/MainThreadSlice.h"
#include "gui/filesearch/TDvFileList.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

// Looks at the rows often: the time to the last row is measured.
bool WaitFor(const std::function<bool()> &pDone, int pTimeoutMs)
{
    return dv::bench::WaitFor(pDone, pTimeoutMs, 20);
}

void BM_Burst(benchmark::State &state)
{
    const int files = static_cast<int>(state.range(0));
    const int expected = std::min(files + 1, 5001);
    double longestStall = 0;
    double lastRow = 0;
    int rows = 0;
    for (auto _ : state) {
        QTemporaryDir dir;
        const QByteArray root = dv::EncodeFileName(dir.path());
        ::close(::open((root + "/first.txt").constData(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600));
        ::mkdir((root + "/burst").constData(), 0700);
        dv::TDvFileList list;
        list.SearchOptions().SetFilter(QStringLiteral("*.txt"));
        list.SearchOptions().SetFilesAndFolders(dv::ffFilesOnly);
        int ends = 0;
        list.SetOnEndSearch([&ends] { ++ends; });
        list.Search(dir.path());
        if (!WaitFor([&] { return ends > 0 && list.Notifier().AllWatchesAdded(); }, 60000)) {
            state.SkipWithError("the search did not end");
            return;
        }

        QElapsedTimer sinceTick;
        qint64 longest = 0;
        QTimer ticker;
        ticker.setTimerType(Qt::PreciseTimer);
        ticker.setInterval(1);
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            longest = std::max(longest, sinceTick.nsecsElapsed());
            sinceTick.start();
        });
        QElapsedTimer clock;
        clock.start();
        sinceTick.start();
        ticker.start();
        std::atomic<bool> created{false};
        std::thread creator([&root, &created, files] {
            for (int i = 0; i < files; ++i)
                ::close(::open((root + "/burst/" + QByteArray::number(i) + ".txt").constData(),
                               O_CREAT | O_WRONLY | O_CLOEXEC, 0600));
            created = true;
        });
        const bool done = WaitFor([&] { return list.ItemCount() >= expected; }, 120000);
        const qint64 toLastRow = clock.elapsed();
        // Not joined before the creator is done: a join would stall the main thread itself.
        WaitFor([&] { return created.load(); }, 120000);
        creator.join();
        // What is still on its way is part of the burst's cost too.
        WaitFor([&] { return !list.IsSearching(); }, 120000);
        ticker.stop();
        if (!done) {
            state.SkipWithError("the rows did not all come");
            return;
        }
        longestStall = std::max(0.0, longest / 1e6 - 1);
        lastRow = static_cast<double>(toLastRow);
        rows = list.ItemCount();
    }
    state.counters["longest_stall_ms"] = longestStall;
    state.counters["last_row_ms"] = lastRow;
    state.counters["rows"] = rows;
}
// The same burst with the main thread's work in whole batches (no slices), for comparison.
void BM_BurstWholeBatches(benchmark::State &state)
{
    const std::chrono::microseconds slice = dv::MainThreadSlice::Length();
    dv::MainThreadSlice::SetLength(std::chrono::hours(1));
    BM_Burst(state);
    dv::MainThreadSlice::SetLength(slice);
}
BENCHMARK(BM_BurstWholeBatches)
    ->Arg(20000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();

BENCHMARK(BM_Burst)
    ->Arg(2000)
    ->Arg(8000)
    ->Arg(20000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    return dv::bench::RunGuiBenchmarks(argc, argv);
}
