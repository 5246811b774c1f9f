#pragma once

// What the widget benchmarks share: their corpus, waiting in the event loop, and a main that
// runs them offscreen with the main thread's queue woken.
#include "core/threads/MainThreadWaker.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QString>
#include <QTimer>

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <functional>

namespace dv::bench {

// $DELVORA_CORPUS, by default the Linux tree of ../shared/bench/linux-tree.sh.
inline QString Corpus()
{
    const char *env = std::getenv("DELVORA_CORPUS");
    return env ? QString::fromLocal8Bit(env)
               : QStringLiteral("/tmp/delvora-corpus/linux-source-6.1");
}

// Runs the event loop until pDone() holds; false when pTimeoutMs (negative: none) passed
// first. The loop sleeps between events and looks at pDone at least every pSliceMs (what it
// waits for may change on another thread without an event). processEvents with a time limit
// would not sleep: it drops WaitForMoreEvents, and the main thread would spin, taking a
// processor from the threads measured.
inline bool WaitFor(const std::function<bool()> &pDone, int pTimeoutMs = -1, int pSliceMs = 50)
{
    QElapsedTimer clock;
    clock.start();
    QTimer wake;
    wake.start(pSliceMs);
    while (!pDone()) {
        if (pTimeoutMs >= 0 && clock.elapsed() > pTimeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// The main of a widget benchmark: offscreen unless QT_QPA_PLATFORM says otherwise.
inline int RunGuiBenchmarks(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    MainThreadWaker waker;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

} // namespace dv::bench
