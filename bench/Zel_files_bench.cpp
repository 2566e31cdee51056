// Costs of the per-document path work: one entry needs a long path with its
// record, a type name and a size text.
#include "Zel_files.h"
#include "Zel_shellfiles.h"
#include "Zel_strings.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include <unistd.h>

namespace {

// One empty file, removed when the benchmark program ends.
class TSampleFile {
public:
    TSampleFile()
    {
        const int fd = ::mkstemp(FPath.data());
        if (fd >= 0)
            ::close(fd);
    }
    ~TSampleFile() { ::unlink(FPath.c_str()); }
    const std::string& Path() const noexcept { return FPath; }

private:
    std::string FPath = "/tmp/dorvane-bench-XXXXXX";
};

const std::string& SampleFile()
{
    static const TSampleFile file;
    return file.Path();
}

void BM_GetLongPathRecord(benchmark::State& state)
{
    const std::string& file = SampleFile();
    std::string longPath;
    for (auto _ : state) {
        benchmark::DoNotOptimize(GetLongPathRecord(file, longPath));
        benchmark::DoNotOptimize(longPath);
    }
}
BENCHMARK(BM_GetLongPathRecord);

void BM_ExpandFileName(benchmark::State& state)
{
    const std::string path = "/home/user//Documents/./reports/../reports/2012/summary.final.txt";
    for (auto _ : state)
        benchmark::DoNotOptimize(ExpandFileName(path));
}
BENCHMARK(BM_ExpandFileName);

void BM_CachedFileTypeName(benchmark::State& state)
{
    TFileTypeCache cache;
    const std::string path = "/home/user/Documents/reports/2012/summary.final.txt";
    cache.GetTypeNameFor(path, false);
    for (auto _ : state)
        benchmark::DoNotOptimize(&cache.GetTypeNameFor(path, false));
}
BENCHMARK(BM_CachedFileTypeName);

void BM_InsertSeparators(benchmark::State& state)
{
    std::int64_t value = 1234567890123;
    for (auto _ : state)
        benchmark::DoNotOptimize(InsertSeparators(3, ",", value++));
}
BENCHMARK(BM_InsertSeparators);

} // namespace

BENCHMARK_MAIN();
