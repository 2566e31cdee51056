// The virtual list view under bulk changes of its rows' states, with the view
// shown (offscreen, 800 x 600) and each change measured up to and including
// the view's next paint. Prints the times and the 1,000,000 / 100,000 ratio
// of each operation (linear scaling keeps it near 10).
#include "Zel_listviews.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>

namespace {

std::unique_ptr<TVirtualListView> View;

TVirtualListView& ShownView(int rows)
{
    if (!View) {
        View = std::make_unique<TVirtualListView>();
        View->SetColumns({{"Name", 200}, {"Directory", 100}, {"Size", 100, TAlignment::RightJustify}, {"Type", 100},
            {"Last write time", 100}, {"Result", 100}});
        View->OnData = [](TVirtualListView&, int row, TListItem& item) {
            item.Caption = "Document " + std::to_string(row);
            item.SubItems = {"/home/user", "1,024", "Text", "2024-01-01 12:00", "None"};
            item.ImageIndex = 0;
            item.StateIndex = 0;
        };
        View->resize(800, 600);
        View->show();
    }
    // A fresh list: no state, scrolled to the top.
    View->SetItemCount(0);
    View->SetItemCount(rows);
    View->scrollToTop();
    QCoreApplication::processEvents();
    View->viewport()->repaint();
    return *View;
}

// Everything Qt still has to do for the change, then the paint itself.
void PaintNow(TVirtualListView& view)
{
    QCoreApplication::processEvents();
    view.viewport()->repaint();
}

template <typename Setup, typename Operation>
void Measure(benchmark::State& state, Setup setup, Operation operation)
{
    const int rows = static_cast<int>(state.range(0));
    TVirtualListView& view = ShownView(rows);
    for (auto _ : state) {
        setup(view);
        PaintNow(view);
        QElapsedTimer timer;
        timer.start();
        operation(view);
        PaintNow(view);
        state.SetIterationTime(static_cast<double>(timer.nsecsElapsed()) / 1e9);
    }
    state.counters["rows"] = rows;
}

void ClearSelection(TVirtualListView& view)
{
    TListViewUpdate update(view);
    for (int i = 0; i < view.ItemCount(); ++i)
        SetListViewItemSelected(view, i, false);
}

void SelectEveryOtherRow(TVirtualListView& view)
{
    TIntegerDynArray rows;
    rows.reserve(static_cast<std::size_t>(view.ItemCount() / 2));
    for (int i = 1; i < view.ItemCount(); i += 2)
        rows.push_back(i);
    TListViewUpdate update(view);
    SetListViewSelection(view, rows);
    SetListViewItemFocused(view, view.ItemCount() / 2 + 1, true);
}

void BM_SelectAll(benchmark::State& state)
{
    Measure(state, ClearSelection, [](TVirtualListView& view) {
        TListViewUpdate update(view);
        for (int i = 0; i < view.ItemCount(); ++i)
            SetListViewItemSelected(view, i, true);
    });
}

void BM_ReverseSelection(benchmark::State& state)
{
    Measure(state, SelectEveryOtherRow, [](TVirtualListView& view) {
        TListViewUpdate update(view);
        ReverseListViewSelection(view);
    });
}

void BM_DeleteEveryOtherRow(benchmark::State& state)
{
    const int rows = static_cast<int>(state.range(0));
    TIntegerDynArray indices;
    for (int i = 1; i < rows; i += 2)
        indices.push_back(i);
    Measure(
        state,
        [rows](TVirtualListView& view) {
            view.SetItemCount(rows);
            SelectEveryOtherRow(view);
        },
        [&indices](TVirtualListView& view) {
            TListViewUpdate update(view);
            DeleteListViewItems(view, indices);
        });
}

void BM_MoveDownEveryOtherRow(benchmark::State& state)
{
    // Rows 1, 3, 5, ... each move down one place, swapping with the row below.
    const int rows = static_cast<int>(state.range(0));
    TReorderRecords records;
    for (int i = 1; i + 1 < rows; i += 2) {
        records.push_back({i, i + 1});
        records.push_back({i + 1, i});
    }
    Measure(state, SelectEveryOtherRow, [&records](TVirtualListView& view) {
        TListViewUpdate update(view);
        ReorderListViewItems(view, records);
    });
}

BENCHMARK(BM_SelectAll)->Arg(100000)->Arg(1000000)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReverseSelection)->Arg(100000)->Arg(1000000)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DeleteEveryOtherRow)->Arg(100000)->Arg(1000000)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MoveDownEveryOtherRow)->Arg(100000)->Arg(1000000)->UseManualTime()->Unit(benchmark::kMillisecond);

// The console report, then each operation's time at 1,000,000 rows over its time at 100,000.
class TRatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred || run.run_type != Run::RT_Iteration)
                continue;
            const std::string name = run.benchmark_name();
            const auto slash = name.find('/');
            const std::string operation = name.substr(0, slash);
            const long rows = std::strtol(name.c_str() + slash + 1, nullptr, 10);
            FTimes[operation][rows] = run.GetAdjustedRealTime();
        }
    }

    void Finalize() override
    {
        ConsoleReporter::Finalize();
        std::printf("\n%-28s %14s %14s %8s\n", "operation", "100k (ms)", "1M (ms)", "ratio");
        for (const auto& [operation, times] : FTimes) {
            const auto small = times.find(100000);
            const auto large = times.find(1000000);
            if (small == times.end() || large == times.end())
                continue;
            std::printf("%-28s %14.2f %14.2f %8.2f\n", operation.c_str(), small->second, large->second,
                large->second / small->second);
        }
    }

private:
    std::map<std::string, std::map<long, double>> FTimes;
};

} // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    TRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    View.reset();
    return 0;
}
