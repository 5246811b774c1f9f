// A whole search through the main window, offscreen: from "Search Now" (StartSearchButtonClick)
// to the end of the search (the window idle again), with the tree checked in the selection
// list. Without text (filter "*.*") and with the text PM_RESUME (filter "*.c;*.h").
// Corpus: $DELVORA_CORPUS (default: the Linux tree of ../shared/bench/linux-tree.sh).
#include "bench/GuiBench.h"
#include "core/folders/TDvSelectionList.h"
#include "gui/app/TMainForm.h"
#include "gui/filesearch/TDvFileList.h"

#include <QLineEdit>
#include <QTemporaryDir>
#include <QToolButton>

#include <benchmark/benchmark.h>

namespace {

using dv::bench::Corpus;

void SearchAndWait(dv::TMainForm &form)
{
    form.StartSearchButtonClick();
    while (!form.StartSearchButton->isEnabled())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void RunWindowSearch(benchmark::State &state, const QString &filter, const QString &text)
{
    dv::TMainForm form;
    form.resize(1200, 700);
    form.show();
    form.SelectionList()->SetPaths({Corpus() + QStringLiteral("/*")});
    form.SearchField->setText(filter);
    form.edtTextToFind->setText(text);
    QCoreApplication::processEvents();
    int rows = 0;
    for (auto _ : state) {
        SearchAndWait(form);
        rows = form.FileList()->ItemCount();
    }
    state.counters["rows"] = rows;
    // The next window starts empty and without the watch of this one.
    form.FileList()->Clear();
    form.FileList()->SetAutomaticRefresh(false);
}

void BM_WindowSearchNoText(benchmark::State &state)
{
    RunWindowSearch(state, QStringLiteral("*.*"), QString());
}
BENCHMARK(BM_WindowSearchNoText)->Unit(benchmark::kMillisecond)->Iterations(10)->UseRealTime();

void BM_WindowSearchText(benchmark::State &state)
{
    RunWindowSearch(state, QStringLiteral("*.c;*.h"), QStringLiteral("PM_RESUME"));
}
BENCHMARK(BM_WindowSearchText)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    // Every search start stores the form: not into the user's settings.
    QTemporaryDir settings;
    qputenv("APPDATA", settings.path().toLocal8Bit());
    return dv::bench::RunGuiBenchmarks(argc, argv);
}
