// The cost of starting and waiting for a process, against the floor of a bare
// posix_spawn + waitpid loop, both with /bin/true and one argument; and the
// round trip of one Synchronize step from a worker through the GUI thread's
// event loop. Prints the start-and-wait / bare ratio.

#include "Zel_shellexecute.h"
#include "Zel_tasks.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <benchmark/benchmark.h>

#include <spawn.h>
#include <sys/wait.h>

#include <cstdio>
#include <map>
#include <string>

extern char** environ;

namespace {

const std::string Program = "/bin/true";
const std::string Document = "/tmp/some directory/a document.txt";

void BM_BareSpawn(benchmark::State& state)
{
    char* argv[] = {const_cast<char*>(Program.c_str()), const_cast<char*>(Document.c_str()), nullptr};
    for (auto _ : state) {
        pid_t pid = 0;
        if (::posix_spawn(&pid, Program.c_str(), nullptr, nullptr, argv, environ) != 0) {
            state.SkipWithError("posix_spawn failed");
            break;
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
    }
}
BENCHMARK(BM_BareSpawn)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_StartProgramAndWait(benchmark::State& state)
{
    for (auto _ : state) {
        TShellStart started = StartProgram(Program, SplitCommandLine("\"", Document, "\""), "/tmp", 1, true);
        started.Process->Wait(-1);
    }
}
BENCHMARK(BM_StartProgramAndWait)->Unit(benchmark::kMicrosecond)->UseRealTime();

class TStepsTask : public TTask {
public:
    explicit TStepsTask(int count) : FCount(count) {}
    void Execute() override
    {
        for (int i = 0; i < FCount; ++i)
            Synchronize([this] { ++Done; });
    }
    int Done = 0;

private:
    int FCount;
};

void BM_SynchronizeRoundTrip(benchmark::State& state)
{
    const int steps = 1000;
    for (auto _ : state) {
        TStepsTask task(steps);
        QEventLoop loop;
        task.OnFinish = [&loop](TTask&) { loop.quit(); };
        task.Start();
        loop.exec();
        benchmark::DoNotOptimize(task.Done);
    }
    state.SetItemsProcessed(state.iterations() * steps);
}
BENCHMARK(BM_SynchronizeRoundTrip)->Unit(benchmark::kMillisecond)->UseRealTime();

class TRatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && !run.error_occurred)
                Times[run.benchmark_name()] = run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> Times;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    TRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    const auto bare = reporter.Times.find("BM_BareSpawn/real_time");
    const auto ours = reporter.Times.find("BM_StartProgramAndWait/real_time");
    if (bare != reporter.Times.end() && ours != reporter.Times.end() && bare->second > 0)
        std::printf("Start and wait per process: %.0f us; bare posix_spawn + waitpid: %.0f us; ratio %.2f\n",
                    ours->second, bare->second, ours->second / bare->second);
    return 0;
}
