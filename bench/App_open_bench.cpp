// An open run of 2,000 documents with /bin/true (prefix and suffix one double
// quote, interval 0, no pause), its events delivered through the Qt event loop
// to a recording sink, the document journal on (each result written before the
// next document starts), against xargs -d '\n' -n1 /bin/true over the same paths,
// timed in turns. Prints both and the run / xargs ratio. It runs twice: with
// the window state Normal, and with Maximized, where every start is watched
// for a first window that /bin/true never maps (run it with DISPLAY set, on a
// display with a window manager, for the watch to happen).
//
// /bin/true is given a desktop entry whose id a single-instance application
// could own, so the run looks for a hand-off before each start and at each
// end: each ended process is read from /proc before it is reaped, since it
// ends at once with code 0, and the user's processes once a second for a
// copy that ran before it. Run it under dbus-run-session to have a session
// bus: the bus is then asked once in the run, and every later look goes by
// its announcements, and the run's progress goes to the launcher entry and
// its end to a notice as in the program (Dorvane taken as not active).

#include "App_documents.h"
#include "App_journal.h"
#include "App_open.h"
#include "App_programs.h"
#include "Zel_desktopbus.h"

#include <QApplication>
#include <QEventLoop>

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

extern char** environ;

namespace {

constexpr int DocumentCount = 2000;

// A fresh directory from a mkdtemp pattern.
std::string MakeScratchDirectory(std::string pattern)
{
    if (!::mkdtemp(pattern.data()))
        std::abort();
    return pattern;
}

// The documents, the same paths one a line for xargs, and a program entry.
class TFixture {
public:
    TFixture() : Directory(MakeScratchDirectory("/tmp/dorvane-open-bench-XXXXXX"))
    {
        TStringDynArray paths;
        std::ofstream list(Directory + "/paths.txt");
        for (int i = 0; i < DocumentCount; ++i) {
            const std::string path = Directory + "/document " + std::to_string(i) + ".txt";
            std::ofstream(path) << "data";
            paths.push_back(path);
            list << path << '\n';
        }
        // The journal follows the list as in the program.
        Journal = std::make_unique<TDocumentJournal>(Directory);
        Documents.OnAdded = [this](TDocumentEntriesModel& s, const TIntegerDynArray& i) { Journal->EntriesAdded(s, i); };
        Documents.OnChanged = [this](TDocumentEntriesModel& s, const TIntegerDynArray& i) { Journal->EntriesChanged(s, i); };
        Documents.Add(CreateDocumentEntries(paths));
        Program.SetDisplayName("true");
        Program.SetFile("/bin/true");
        Program.SetDocumentPrefix("\"");
        Program.SetDocumentSuffix("\"");
        Program.SetOpenInterval(0);
        Program.SetAutoPause(false);
    }
    ~TFixture()
    {
        Journal.reset();
        std::filesystem::remove_all(Directory);
    }

    std::string Directory;
    TDocumentEntriesModel Documents;
    std::unique_ptr<TDocumentJournal> Journal;
    TProgramEntry Program;
    // Kept for every run, as the open commands keep it.
    std::shared_ptr<TDesktopBus> Bus = TDesktopBus::ConnectSession();
};

TFixture* Fixture = nullptr;

// Collects what a progress dialog would be shown.
struct TSink {
    std::vector<std::string> Events;
    void Add(std::string event) { Events.push_back(std::move(event)); }
};

// Runs the open task once over every document, all results None first.
// Returns the number of events the sink received.
std::size_t OpenRun(TFixture& fixture)
{
    for (int i = 0; i < DocumentCount; ++i)
        fixture.Documents.GetItem(i)->SetResult(TDocumentEntryResult::None);
    TSink sink;
    TOpenRunDesktop desktop(fixture.Bus, [] { return false; });
    auto task = std::make_unique<TOpenTask>(fixture.Program, fixture.Documents);
    QEventLoop loop;
    task->OnDocument = [&](TOpenTask&, const std::string& program, const std::string& document) {
        sink.Add(program + "|" + document);
    };
    task->OnStatus = [&](TOpenTask&, const std::string& text) { sink.Add(text); };
    task->OnNotice = [&](TOpenTask&, const std::string& text) { sink.Add(text); };
    task->OnFailure = [&](TOpenTask&, const std::string& text) { sink.Add(text); };
    task->OnProgress = [&](TTask&, int position, int maximum) {
        sink.Add(std::to_string(position) + "/" + std::to_string(maximum));
        desktop.Progress(position, maximum);
    };
    TOpenTask& run = *task;
    task->OnFinish = [&](TTask&) {
        desktop.Finished(TOpenRunEnd::Completed, run.Count(), run.Opened(), run.Failed());
        loop.quit();
    };
    task->FreeOnFinish = true;
    desktop.Started();
    task->Start();
    (void)task.release();
    loop.exec();
    return sink.Events.size();
}

// xargs -d '\n' -n1 /bin/true reading the same paths; false when it failed.
bool Xargs(const TFixture& fixture)
{
    const std::string list = fixture.Directory + "/paths.txt";
    char* argv[] = {const_cast<char*>("xargs"), const_cast<char*>("-d"), const_cast<char*>("\n"),
                    const_cast<char*>("-n1"), const_cast<char*>("/bin/true"), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, list.c_str(), O_RDONLY, 0);
    pid_t pid = 0;
    const int failed = ::posix_spawnp(&pid, "xargs", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    return !failed && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

using TClock = std::chrono::steady_clock;

double Milliseconds(TClock::duration duration)
{
    return std::chrono::duration<double, std::milli>(duration).count();
}

// The reported time is the open run's. The run and xargs take turns, in
// alternating order, so both see the same load on a shared machine.
void BM_OpenRunAgainstXargs(benchmark::State& state, int showCommand, double goal)
{
    TFixture& fixture = *Fixture;
    fixture.Program.SetShowCommand(showCommand);
    double openTotal = 0;
    double xargsTotal = 0;
    std::size_t events = 0;
    bool openFirst = true;
    for (auto _ : state) {
        double open = 0;
        for (int turn = 0; turn < 2; ++turn) {
            const TClock::time_point start = TClock::now();
            if ((turn == 0) == openFirst) {
                events = OpenRun(fixture);
                open = Milliseconds(TClock::now() - start);
                openTotal += open;
            } else {
                if (!Xargs(fixture)) {
                    state.SkipWithError("xargs failed");
                    return;
                }
                xargsTotal += Milliseconds(TClock::now() - start);
            }
        }
        openFirst = !openFirst;
        state.SetIterationTime(open / 1000);
    }
    if (fixture.Documents.CountOfResult(TDocumentEntryResult::Success) != DocumentCount) {
        state.SkipWithError("not every document was opened");
        return;
    }
    const double iterations = static_cast<double>(state.iterations());
    state.counters["events"] = static_cast<double>(events);
    state.counters["xargs_ms"] = xargsTotal / iterations;
    state.counters["ratio"] = openTotal / xargsTotal;
    state.SetItemsProcessed(state.iterations() * DocumentCount);
    std::printf("Open run of %d documents, journal on, session bus: %s, window state %s, display: %s: %.0f ms; "
                "xargs -d '\\n' -n1 /bin/true: %.0f ms; ratio %.2f (goal <= %.2f)\n",
                DocumentCount, qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") ? "none" : "yes",
                showCommand == ShowCommandMaximized ? "Maximized" : "Normal",
                qEnvironmentVariableIsEmpty("DISPLAY") ? "none" : "yes", openTotal / iterations,
                xargsTotal / iterations, openTotal / xargsTotal, goal);
}
BENCHMARK_CAPTURE(BM_OpenRunAgainstXargs, normal, ShowCommandNormal, 1.20)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(6);
BENCHMARK_CAPTURE(BM_OpenRunAgainstXargs, maximized, ShowCommandMaximized, 1.30)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(6);

// A private data directory whose desktop entry runs /bin/true under an id
// that is a bus name; made before GIO first reads the directories.
class TTrueEntry {
public:
    TTrueEntry() : Directory(MakeScratchDirectory("/tmp/dorvane-open-bench-data-XXXXXX"))
    {
        std::filesystem::create_directories(Directory + "/applications");
        std::ofstream(Directory + "/applications/org.dorvane.BenchTrue.desktop")
            << "[Desktop Entry]\nType=Application\nName=True\nExec=/bin/true %f\nNoDisplay=true\n";
        qputenv("XDG_DATA_HOME", QByteArray::fromStdString(Directory));
    }
    ~TTrueEntry() { std::filesystem::remove_all(Directory); }

    std::string Directory;
};

} // namespace

int main(int argc, char** argv)
{
    const TTrueEntry entry;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    TFixture fixture;
    Fixture = &fixture;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
