// Reordering at the sizes the document list reaches: sorting through an index
// comparer, and moving every other item one place (the worst case for a move
// up or down). Prints the 1M / 100k time ratio of each slide; a linear slide
// stays near 10. Run with --benchmark_repetitions=N for medians.

#include "Zel_dynamicarrays.h"
#include "Zel_lists.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <numeric>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

int CompareKeys(int a, int b, void* context)
{
    const auto& keys = *static_cast<const std::vector<int>*>(context);
    const int x = keys[static_cast<std::size_t>(a)];
    const int y = keys[static_cast<std::size_t>(b)];
    return x < y ? -1 : (x > y ? 1 : 0);
}

void BM_Sort(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    std::vector<int> keys(static_cast<std::size_t>(count));
    std::iota(keys.begin(), keys.end(), 0);
    std::shuffle(keys.begin(), keys.end(), std::mt19937(42));
    for (auto _ : state) {
        TReorderRecords records = TListAlgorithms::Sort(count, CompareKeys, &keys);
        benchmark::DoNotOptimize(records.data());
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_Sort)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

void BM_Slide(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    const int distance = static_cast<int>(state.range(1));
    TIntegerDynArray everyOther;
    for (int i = 0; i < count; i += 2)
        everyOther.push_back(i);
    for (auto _ : state) {
        TReorderRecords records = TListAlgorithms::Slide(count, everyOther, distance);
        benchmark::DoNotOptimize(records.data());
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_Slide)
    ->Args({100000, 1})
    ->Args({1000000, 1})
    ->Args({100000, -1})
    ->Args({1000000, -1})
    ->Unit(benchmark::kMillisecond);

void BM_TextToArray(benchmark::State& state)
{
    // range(0) lines making up about 10 MB.
    const int lines = static_cast<int>(state.range(0));
    const std::size_t length = 10 * 1024 * 1024 / static_cast<std::size_t>(lines);
    std::string text;
    text.reserve(10 * 1024 * 1024 + 2 * static_cast<std::size_t>(lines));
    for (int i = 0; i < lines; ++i)
        text.append(length, 'a').append("\r\n");
    for (auto _ : state) {
        TStringDynArray array = TextToArray(text);
        benchmark::DoNotOptimize(array.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_TextToArray)->Arg(1)->Arg(100000)->Unit(benchmark::kMillisecond);

// Keeps each benchmark's time per iteration for the ratios printed at the end.
class TRatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        // With --benchmark_repetitions the median stands for the benchmark.
        for (const Run& run : runs) {
            if (run.error_occurred)
                continue;
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            TTimes& times = Times[run.run_name.str()];
            if (median || (run.run_type == Run::RT_Iteration && !times.Median))
                times = {run.GetAdjustedRealTime(), run.GetAdjustedCPUTime(), median};
        }
        ConsoleReporter::ReportRuns(runs);
    }

    struct TTimes {
        double Real;
        double Cpu;
        bool Median;
    };
    std::map<std::string, TTimes> Times;
};

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    TRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    for (const char* distance : {"1", "-1"}) {
        const auto small = reporter.Times.find(std::string("BM_Slide/100000/") + distance);
        const auto large = reporter.Times.find(std::string("BM_Slide/1000000/") + distance);
        if (small == reporter.Times.end() || large == reporter.Times.end())
            continue;
        const auto& [s, l] = std::pair(small->second, large->second);
        if (s.Real <= 0 || s.Cpu <= 0)
            continue;
        std::printf("Slide, every other item, distance %s: 100k %.3f ms, 1M %.3f ms; ratio 1M/100k %.2f "
                    "(CPU time: %.3f ms, %.3f ms, ratio %.2f); goal: within 12\n",
            distance, s.Real, l.Real, l.Real / s.Real, s.Cpu, l.Cpu, l.Cpu / s.Cpu);
    }
    return 0;
}
