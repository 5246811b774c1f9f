// The result list filled by a whole-tree search, offscreen: from Search to OnEndSearch with
// every path accepted, the heap it holds per row afterwards, and sorting the full list.
// Corpus: $DELVORA_CORPUS (default: the Linux tree of ../shared/bench/linux-tree.sh).
#include "bench/GuiBench.h"
#include "core/filesearch/FileListSearch.h"
#include "core/filesearch/IDvFileSearchTarget.h"
#include "gui/filesearch/TDvFileList.h"

#include <QEventLoop>
#include <QFile>

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <malloc.h>
#include <memory>

namespace {

using dv::bench::Corpus;

std::size_t HeapInUse()
{
    malloc_trim(0);
    return mallinfo2().uordblks;
}

long RssBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLong() * 4096 : 0;
}

void SearchAndWait(dv::TDvFileList &pList, const QString &pRoot)
{
    QEventLoop loop;
    bool ended = false;
    pList.SetOnEndSearch([&] {
        ended = true;
        loop.quit();
    });
    pList.Search(pRoot);
    if (!ended)
        loop.exec();
    pList.SetOnEndSearch({});
}

// The view's own record per row counts too: lay every row out as showing the list does.
void LayOut(dv::TDvFileList &pList)
{
    QCoreApplication::processEvents();
    pList.doItemsLayout();
    pList.scrollToBottom();
    QCoreApplication::processEvents();
}

std::unique_ptr<dv::TDvFileList> NewList()
{
    auto list = std::make_unique<dv::TDvFileList>();
    list->SearchOptions().SetFilter(QStringLiteral("*.*"));
    list->SearchOptions().SetFilesAndFolders(dv::ffFilesOnly);
    list->OnAddPath = [](const QString &, bool &) {};
    list->resize(900, 600);
    list->show();
    return list;
}

// A new list, shown, filled by one search; counters: rows, and the heap and resident memory
// the filled list holds per row (the view's own records included).
void BM_SearchWholeTreeIntoList(benchmark::State &state)
{
    double rows = 0;
    double perRow = 0;
    double rssPerRow = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const std::size_t heapBefore = HeapInUse();
        const long rssBefore = RssBytes();
        auto list = NewList();
        QCoreApplication::processEvents();
        state.ResumeTiming();
        SearchAndWait(*list, Corpus());
        LayOut(*list);
        state.PauseTiming();
        rows = list->ItemCount();
        perRow = double(HeapInUse() - heapBefore) / rows;
        rssPerRow = double(RssBytes() - rssBefore) / rows;
        list.reset();
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
    state.counters["rows"] = rows;
    state.counters["heap_bytes_per_row"] = perRow;
    state.counters["rss_bytes_per_row"] = rssPerRow;
}
BENCHMARK(BM_SearchWholeTreeIntoList)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// The same walk into a target that only counts: what the engine costs without the list.
class CountingTarget : public dv::IDvFileSearchTarget
{
public:
    void BeginUpdate() override {}
    void EndUpdate() override {}
    bool AddPath(const QString &) override { return ++count, true; }
    bool IsItemInList(const QString &) override { return false; }
    int ItemCount() const override { return count; }
    void Sort() override {}
    int count = 0;
};

void BM_SearchWholeTreeEngineOnly(benchmark::State &state)
{
    int rows = 0;
    for (auto _ : state) {
        CountingTarget target;
        dv::FileListSearch search(target);
        search.SearchOptions().SetFilter(QStringLiteral("*.*"));
        search.SearchOptions().SetFilesAndFolders(dv::ffFilesOnly);
        QEventLoop loop;
        bool ended = false;
        search.SetOnEndSearch([&] {
            ended = true;
            loop.quit();
        });
        search.Search(Corpus());
        if (!ended)
            loop.exec();
        rows = target.count;
    }
    state.counters["rows"] = rows;
}
BENCHMARK(BM_SearchWholeTreeEngineOnly)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();

dv::TDvFileList &FullList()
{
    static std::unique_ptr<dv::TDvFileList> list = [] {
        auto l = NewList();
        SearchAndWait(*l, Corpus());
        return l;
    }();
    return *list;
}

// Sorting the full list by one column. Arg 1: the rows' file data is forgotten before each
// sort (the first sort by size or date reads every file once); arg 0: it is kept.
void BM_SortFullList(benchmark::State &state)
{
    dv::TDvFileList &list = FullList();
    const int column = static_cast<int>(state.range(0));
    const bool cold = state.range(1) != 0;
    for (auto _ : state) {
        if (cold) {
            state.PauseTiming();
            list.RefreshItems();
            state.ResumeTiming();
        }
        list.SetSortColumn(column);
    }
    state.counters["rows"] = list.ItemCount();
}
BENCHMARK(BM_SortFullList)
    ->ArgNames({"column", "cold"})
    ->Args({dv::FileListModel::ColName, 0})
    ->Args({dv::FileListModel::ColInFolder, 0})
    ->Args({dv::FileListModel::ColSize, 0})
    ->Args({dv::FileListModel::ColSize, 1})
    ->Args({dv::FileListModel::ColType, 0})
    ->Args({dv::FileListModel::ColDateModified, 0})
    ->Args({dv::FileListModel::ColDateModified, 1})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(4)
    ->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    return dv::bench::RunGuiBenchmarks(argc, argv);
}
