// Reading a settings file must stay linear in its size, however many sections
// it holds: 100,000 and 1,000,000 sections, read from disk and looked up.
#include "Zel_inifiles.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>

#include <unistd.h>

namespace {

std::string SectionText(long long sections)
{
    std::string text;
    text.reserve(static_cast<std::size_t>(sections) * 48);
    for (long long i = 0; i < sections; ++i) {
        const std::string n = std::to_string(i);
        text += "[Program.Items[" + n + "]]\r\nName=\"Entry " + n + "\"\r\nInterval=" + n + "\r\n\r\n";
    }
    return text;
}

// One file per size, written once and removed at exit.
const std::string& SettingsFile(long long sections)
{
    static std::map<long long, std::string> files;
    auto it = files.find(sections);
    if (it == files.end()) {
        char name[] = "/tmp/dorvane-ini-bench-XXXXXX";
        const int fd = ::mkstemp(name);
        ::close(fd);
        std::ofstream(name, std::ios::binary) << SectionText(sections);
        it = files.emplace(sections, name).first;
        static const bool cleanup = [] {
            std::atexit([] {
                for (const auto& [count, file] : files)
                    std::remove(file.c_str());
            });
            return true;
        }();
        (void)cleanup;
    }
    return it->second;
}

void BM_ReadFile(benchmark::State& state)
{
    const std::string& file = SettingsFile(state.range(0));
    for (auto _ : state) {
        TMemIniFile ini(file);
        benchmark::DoNotOptimize(ini.SectionExists("Program.Items[0]"));
    }
    state.SetComplexityN(state.range(0));
    state.SetItemsProcessed(state.iterations() * state.range(0)); // sections per second: flat when linear
}
BENCHMARK(BM_ReadFile)->Arg(100000)->Arg(1000000)->Iterations(3)->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);

void BM_ReadEverySection(benchmark::State& state)
{
    TMemIniFile ini(SettingsFile(state.range(0)));
    for (auto _ : state) {
        long long sum = 0;
        for (long long i = 0; i < state.range(0); ++i)
            sum += ini.ReadInteger("program.items[" + std::to_string(i) + "]", "interval", 0);
        benchmark::DoNotOptimize(sum);
    }
    state.SetComplexityN(state.range(0));
    state.SetItemsProcessed(state.iterations() * state.range(0)); // sections per second: flat when linear
}
BENCHMARK(BM_ReadEverySection)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);

} // namespace

BENCHMARK_MAIN();
