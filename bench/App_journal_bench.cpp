// The document journal's cost to the GUI thread.
//
// "add": adding 100,000 real files to the document list, with the journal
// wired as the main form wires it against without it, in turns (best of 5
// each). The journal's own thread writes meanwhile; the time until it has
// written everything is shown too. Goal: at most 1.10x.
// "sort": a list of 1,000,000 documents (2,000 files, each 500 times) sorted
// by name, by path, reversed and sorted by size while journalled. Shown: the
// longest time the GUI thread spent in the journal's handlers (copying what
// changed), and the longest gap between the ticks of a 1 ms timer while the
// journal's thread wrote the changes (the event loop was free). Goal: both
// at most 16 ms.
//
// Usage: App_journal_bench [add|sort]   (both by default)

#include "App_documents.h"
#include "App_journal.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <time.h>
#include <unistd.h>

namespace {

using TClock = std::chrono::steady_clock;

double Milliseconds(TClock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

std::string MakeScratch(const char* name)
{
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + name + "-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        std::abort();
    return pattern;
}

TStringDynArray MakeFiles(const std::string& dir, int count)
{
    TStringDynArray paths;
    paths.reserve(static_cast<std::size_t>(count));
    for (int folder = 0; folder * 1000 < count; ++folder) {
        const std::string sub = dir + "/folder " + std::to_string(folder);
        std::filesystem::create_directory(sub);
        for (int i = folder * 1000; i < std::min(count, (folder + 1) * 1000); ++i) {
            paths.push_back(sub + "/document " + std::to_string((i * 7919) % count) + ".txt");
            std::ofstream(paths.back()) << std::string(static_cast<std::size_t>(i % 300), 'x');
        }
    }
    return paths;
}

double ThreadCpuMilliseconds()
{
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) * 1e-6;
}

// The longest time the GUI thread spent in a journal handler: wall time, and
// its own CPU time (the wall time also counts waiting for a core).
struct TStall {
    double Wall = 0;
    double Cpu = 0;
};

// Wires the journal to the model as the main form does, timing every handler.
void Wire(TDocumentEntriesModel& model, TDocumentJournal& journal, TStall& longest)
{
    const auto timed = [&longest](const std::function<void()>& call) {
        const TClock::time_point start = TClock::now();
        const double cpu = ThreadCpuMilliseconds();
        call();
        longest.Cpu = std::max(longest.Cpu, ThreadCpuMilliseconds() - cpu);
        longest.Wall = std::max(longest.Wall, Milliseconds(TClock::now() - start));
    };
    model.OnAdded = [&, timed](TDocumentEntriesModel& s, const TIntegerDynArray& i) { timed([&] { journal.EntriesAdded(s, i); }); };
    model.OnDeleted = [&, timed](TDocumentEntriesModel& s, const TIntegerDynArray& i) { timed([&] { journal.EntriesDeleted(s, i); }); };
    model.OnCleared = [&, timed](TDocumentEntriesModel& s) { timed([&] { journal.EntriesCleared(s); }); };
    model.OnReordered = [&, timed](TDocumentEntriesModel& s, const TReorderRecords& r) { timed([&] { journal.EntriesReordered(s, r); }); };
    model.OnChanged = [&, timed](TDocumentEntriesModel& s, const TIntegerDynArray& i) { timed([&] { journal.EntriesChanged(s, i); }); };
}

void RunAdd()
{
    constexpr int Count = 100000;
    const std::string docs = MakeScratch("dorvane-journal-bench-docs");
    const std::string settings = MakeScratch("dorvane-journal-bench-settings");
    std::printf("Making %d files...\n", Count);
    const TStringDynArray paths = MakeFiles(docs, Count);

    double without = 1e30;
    double with = 1e30;
    double written = 1e30;
    TStall longest;
    for (int round = 0; round < 5; ++round) {
        for (const bool journalled : {round % 2 == 0, round % 2 != 0}) {
            TDocumentEntriesModel model;
            std::unique_ptr<TDocumentJournal> journal;
            if (journalled) {
                journal = std::make_unique<TDocumentJournal>(settings);
                Wire(model, *journal, longest);
            }
            const TClock::time_point start = TClock::now();
            model.Add(CreateDocumentEntries(paths));
            const double added = Milliseconds(TClock::now() - start);
            if (journalled) {
                with = std::min(with, added);
                journal->Flush();
                written = std::min(written, Milliseconds(TClock::now() - start));
                journal->Discard();
            } else {
                without = std::min(without, added);
            }
        }
    }
    std::printf("Adding %d documents: %.0f ms without the journal, %.0f ms with it (written by %.0f ms); "
                "ratio %.3f (goal <= 1.10); longest journal handler %.1f ms (%.1f ms CPU)\n",
                Count, without, with, written, with / without, longest.Wall, longest.Cpu);
    std::filesystem::remove_all(docs);
    std::filesystem::remove_all(settings);
}

void RunSort()
{
    constexpr int Files = 2000;
    constexpr int Copies = 500;
    const std::string docs = MakeScratch("dorvane-journal-bench-docs");
    const std::string settings = MakeScratch("dorvane-journal-bench-settings");
    const TStringDynArray files = MakeFiles(docs, Files);
    TStringDynArray paths;
    paths.reserve(static_cast<std::size_t>(Files) * Copies);
    for (int copy = 0; copy < Copies; ++copy)
        paths.insert(paths.end(), files.begin(), files.end());

    TDocumentEntriesModel model;
    TStall longest;
    auto journal = std::make_unique<TDocumentJournal>(settings);
    Wire(model, *journal, longest);
    std::printf("Adding %zu documents...\n", paths.size());
    model.Add(CreateDocumentEntries(paths));
    journal->Flush();
    longest = {};

    // The event loop's longest pause while the journal's thread writes, and
    // for comparison while nothing is written at all.
    double gap = 0;
    QElapsedTimer tick;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        gap = std::max(gap, static_cast<double>(tick.nsecsElapsed()) / 1e6);
        tick.restart();
    });
    tick.start();
    timer.start(1);
    for (const TClock::time_point idle = TClock::now(); TClock::now() - idle < std::chrono::milliseconds(500);)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    timer.stop();
    const double idleGap = gap;

    const std::pair<const char*, std::function<void()>> sorts[] = {
        {"sort by name", [&] { model.SortByName(); }},
        {"sort by path", [&] { model.SortByPath(); }},
        {"reverse", [&] { model.Reverse(); }},
        {"sort by size", [&] { model.SortBySize(); }},
    };
    double longestGap = 0;
    TStall overall;
    for (const auto& [name, sort] : sorts) {
        longest = {};
        const TClock::time_point start = TClock::now();
        sort();
        const double sorted = Milliseconds(TClock::now() - start);
        gap = 0;
        tick.start();
        timer.start(1);
        const std::uint64_t size = std::filesystem::file_size(journal->Path());
        const TClock::time_point writing = TClock::now();
        while (!journal->IsWritten())
            QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        timer.stop();
        longestGap = std::max(longestGap, gap);
        std::printf("%-14s sort %6.0f ms, journal handler %5.1f ms (%4.1f ms CPU), written %5.0f ms later, "
                    "longest event-loop gap meanwhile %5.1f ms, file %.0f MB -> %.0f MB\n",
                    name, sorted, longest.Wall, longest.Cpu, Milliseconds(TClock::now() - writing), gap,
                    static_cast<double>(size) / 1e6,
                    static_cast<double>(std::filesystem::file_size(journal->Path())) / 1e6);
        overall.Wall = std::max(overall.Wall, longest.Wall);
        overall.Cpu = std::max(overall.Cpu, longest.Cpu);
    }
    std::printf("Longest GUI-thread stall on the journal while 1,000,000 documents were sorted: %.1f ms in a handler "
                "(%.1f ms CPU), %.1f ms event-loop gap while it wrote (%.1f ms with nothing to write); goal <= 16 ms\n",
                overall.Wall, overall.Cpu, longestGap, idleGap);
    journal->Discard();
    journal.reset();
    std::filesystem::remove_all(docs);
    std::filesystem::remove_all(settings);
}

} // namespace

int main(int argc, char** argv)
{
    const std::string part = argc > 1 ? argv[1] : "";
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    if (part.empty() || part == "add")
        RunAdd();
    if (part.empty() || part == "sort")
        RunSort();
    return 0;
}
