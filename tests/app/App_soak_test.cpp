// A long open run with the user pressing Pause, Resume and Cancel at random
// moments: afterwards the documents' results are exactly what the run's
// events said, and no child, descriptor, thread or memory is left behind.

#include "App_ProgressDialog.h"
#include "App_documents.h"
#include "App_open.h"
#include "App_programs.h"

#include "OpenRig.h"
#include "PrivateXdg.h"
#include "ProcessTestSupport.h"
#include "TempDirectory.h"
#include "TestGuards.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

testing::Environment* const Xdg = testing::AddGlobalTestEnvironment(new TPrivateXdgEnvironment);

// Sanitized builds run everything several times slower, and ASan keeps
// freed memory in quarantine on purpose, so there the run is shorter and
// the memory bound is not checked.
constexpr int DocumentCount = Sanitized ? 2000 : 10000;
constexpr int Cancels = 3;
constexpr unsigned Seed = 20240611;

// Our open descriptors and what each refers to.
std::map<int, std::string> OpenDescriptors()
{
    std::map<int, std::string> result;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        const std::string target = fs::read_symlink(entry.path(), error).string();
        result[std::stoi(entry.path().filename().string())] = target;
    }
    return result;
}

// Whether the reaper still watches a child through its pidfd.
bool WatchingAChild()
{
    for (const auto& [fd, target] : OpenDescriptors())
        if (target == "anon_inode:[pidfd]")
            return true;
    return false;
}

// Every child reaped and nothing left to watch.
bool Quiet()
{
    return ZombieChildren().empty() && !WatchingAChild();
}

int ThreadCount()
{
    return static_cast<int>(std::distance(fs::directory_iterator("/proc/self/task"), fs::directory_iterator()));
}

// Resident memory in bytes.
long long ResidentBytes()
{
    std::ifstream statm("/proc/self/statm");
    long long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * ::sysconf(_SC_PAGESIZE);
}

// The progress dialog, keeping what the run told it: the reset, each
// document's start and the progress.
class TSoakProgressDialog : public TAppProgressDialog {
public:
    std::string LastStatus;
    int Position = 0;
    int Pauses = 0;
    int Resumes = 0;
    std::function<void(int position)> OnPosition;

    void StatusHandler(TTask& sender, const std::string& text) override
    {
        TAppProgressDialog::StatusHandler(sender, text);
        LastStatus = text;
    }
    void PausedHandler(TTask& sender) override
    {
        TAppProgressDialog::PausedHandler(sender);
        ++Pauses;
    }
    void ResumedHandler(TTask& sender) override
    {
        TAppProgressDialog::ResumedHandler(sender);
        ++Resumes;
    }
    void ProgressHandler(TTask& sender, int position, int maximum) override
    {
        TAppProgressDialog::ProgressHandler(sender, position, maximum);
        Position = position;
        if (OnPosition)
            OnPosition(position);
    }
};

class SoakTest : public ::testing::Test {
protected:
    SoakTest() : Selection(Programs, Combo), Commands(Programs, Documents, Selection)
    {
        Programs.OnInserted = [this](TProgramEntriesModel&, int index) { Selection.EntryInserted(index); };
        delete AppProgressDialog.data();
        Dialog = new TSoakProgressDialog;
        AppProgressDialog = Dialog;

        auto entry = std::make_unique<TProgramEntry>();
        entry->SetDisplayName("Jitter");
        entry->SetFile(HelperPath("jitter"));
        entry->SetDocumentPrefix("\"");
        entry->SetDocumentSuffix("\"");
        entry->SetAutoPause(false);
        Selection.SetSelectedIndex(Programs.Add(std::move(entry)));

        // What the run's events say each document's result is: the reset
        // step makes every listed document None, a single document's change
        // after "Opening a document..." is its start, which is a Success.
        Documents.OnChanged = [this](TDocumentEntriesModel&, const TIntegerDynArray& indexes) {
            if (Dialog->LastStatus == "Resetting the results...") {
                for (int index : indexes)
                    Expected[static_cast<std::size_t>(index)] = TDocumentEntryResult::None;
            } else if (Dialog->LastStatus == "Opening a document..." && indexes.size() == 1) {
                Expected[static_cast<std::size_t>(indexes[0])] = TDocumentEntryResult::Success;
            } else {
                ADD_FAILURE() << "a change the run does not make, after \"" << Dialog->LastStatus << "\"";
            }
        };
    }
    ~SoakTest() override { delete AppProgressDialog.data(); }

    void AddDocuments(int count)
    {
        Scratch.MakeDir("docs");
        TStringDynArray paths;
        for (int i = 0; i < count; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "docs/d%05d.txt", i);
            paths.push_back(Scratch.WriteFile(name, "x"));
        }
        Documents.Add(CreateDocumentEntries(paths));
        Expected.assign(paths.size(), TDocumentEntryResult::None);
    }

    // Runs Open as the main form runs it; a run that does not end in time
    // is cancelled and fails the test.
    void Open(int timeoutMs)
    {
        TRunWatchdog watchdog(timeoutMs);
        Dialog->Position = 0;
        try {
            Commands.Open();
        } catch (const std::exception& e) {
            ADD_FAILURE() << "Open raised " << e.what();
        }
    }

    void ResetResults()
    {
        for (int i = 0; i < Documents.GetCount(); ++i)
            Documents.GetItem(i)->SetResult(TDocumentEntryResult::None);
        Expected.assign(Expected.size(), TDocumentEntryResult::None);
    }

    int CountOf(TDocumentEntryResult result) const { return Documents.CountOfResult(result); }

    TTempDirectory Scratch;
    const std::string Out = Scratch / "jitter.log";
    TScopedEnvironment OutVariable{"JITTER_OUT", Out};
    TProgramEntriesModel Programs;
    QComboBox Combo;
    TProgramEntriesSelection Selection;
    TDocumentEntriesModel Documents;
    TOpenCommands Commands;
    TSoakProgressDialog* Dialog = nullptr;
    std::vector<TDocumentEntryResult> Expected;
};

} // namespace

TEST_F(SoakTest, PauseResumeAndCancelAtRandomMomentsLoseNothingAndLeakNothing)
{
    AddDocuments(DocumentCount);

    // The user: a random moment every 1 to 150 ms; Pause now and then,
    // Resume soon after; a disabled button does nothing, as on screen.
    std::mt19937 random(Seed);
    QTimer user;
    user.setSingleShot(true);
    int presses = 0;
    QObject::connect(&user, &QTimer::timeout, [&] {
        if (Dialog->isVisible()) {
            const int choice = std::uniform_int_distribution<int>(0, 99)(random);
            if (choice < 3)
                Button(*Dialog, "Button1").click();
            else if (choice < 43)
                Button(*Dialog, "Button2").click();
            presses += choice < 43;
        }
        user.start(std::uniform_int_distribution<int>(1, 150)(random));
    });
    user.start(1);

    // Warm-up: a run paused once and cancelled after a few hundred documents
    // brings up the dialog, the worker, the reaper and everything else made
    // on first use.
    Dialog->OnPosition = [this](int position) {
        if (position == 100)
            Button(*Dialog, "Button1").click();
        if (position == 300)
            Button(*Dialog, "Button3").click();
    };
    Open(60000);
    ASSERT_EQ(CountOf(TDocumentEntryResult::Success), 300);
    ASSERT_TRUE(WaitUntil(Quiet, 30000));
    ResetResults();
    fs::remove(Out);
    const int warmUpPauses = Dialog->Pauses;
    Dialog->Pauses = Dialog->Resumes = 0;

    const std::map<int, std::string> descriptorsBefore = OpenDescriptors();
    const int threadsBefore = ThreadCount();
    const long long residentBefore = ResidentBytes();

    // Cancel at three random documents.
    std::set<int> cancelAt;
    while (static_cast<int>(cancelAt.size()) < Cancels)
        cancelAt.insert(std::uniform_int_distribution<int>(1, DocumentCount - 1)(random));
    Dialog->OnPosition = [&](int position) {
        // Positions count the documents of this run, successes skipped too.
        if (cancelAt.count(position)) {
            cancelAt.erase(position);
            QTimer::singleShot(0, Dialog, [this] { Button(*Dialog, "Button3").click(); });
        }
    };

    QElapsedTimer timer;
    timer.start();
    int runs = 0;
    while (CountOf(TDocumentEntryResult::Success) < DocumentCount && runs < Cancels + 2) {
        ++runs;
        const int before = CountOf(TDocumentEntryResult::Success);
        Open(240000);
        // A cancelled run ends after the document it was on: the successes
        // are a prefix of the list, as long as the run's progress says.
        EXPECT_GT(Dialog->Position, before) << "run " << runs;
        EXPECT_EQ(CountOf(TDocumentEntryResult::Success), Dialog->Position) << "run " << runs;
        for (int i = 0; i < Documents.GetCount(); ++i) {
            const TDocumentEntryResult expected = Expected[static_cast<std::size_t>(i)];
            if (Documents.GetItem(i)->Result() != expected) {
                ADD_FAILURE() << "document " << i << " is " << Documents.GetItem(i)->GetResultText()
                              << " but the run's events say " << DocumentEntryResultText(expected);
                break;
            }
        }
    }
    user.stop();
    const double seconds = static_cast<double>(timer.elapsed()) / 1000;
    EXPECT_EQ(runs, Cancels + 1);
    EXPECT_EQ(CountOf(TDocumentEntryResult::Success), DocumentCount);
    EXPECT_EQ(CountOf(TDocumentEntryResult::Failure), 0);
    EXPECT_GT(Dialog->Pauses, 0);
    // Every pause was resumed, or ended by its run's cancel.
    EXPECT_LE(Dialog->Resumes, Dialog->Pauses);
    EXPECT_LE(Dialog->Pauses - Dialog->Resumes, runs);

    // Nothing left behind: every child reaped, every descriptor closed, no
    // thread added, memory back where it was.
    EXPECT_TRUE(WaitUntil(Quiet, 30000));
    const std::map<int, std::string> descriptorsAfter = OpenDescriptors();
    for (const auto& [fd, target] : descriptorsAfter)
        if (descriptorsBefore.count(fd) == 0 || descriptorsBefore.at(fd) != target)
            ADD_FAILURE() << "descriptor " << fd << " (" << target << ") left open";
    EXPECT_EQ(descriptorsAfter.size(), descriptorsBefore.size());
    // Idle pool threads may have expired meanwhile; none may be added.
    EXPECT_LE(ThreadCount(), threadsBefore);
    ResetResults();
    const long long residentAfter = ResidentBytes();
    std::printf("[ measure  ] soak: %d documents in %d runs, %d pauses (%d in the warm-up), %d presses, %.1f s "
                "(%.0f documents/s); resident memory %+lld KiB%s\n",
                DocumentCount, runs, Dialog->Pauses, warmUpPauses, presses, seconds, DocumentCount / seconds,
                (residentAfter - residentBefore) / 1024, Sanitized ? " (sanitized build, not checked)" : "");
    if (!Sanitized) {
        EXPECT_LT(residentAfter - residentBefore, 1 << 20);
    }

    // Each document's program ran exactly once, in list order. (Read only
    // now, as the lines take memory of their own.)
    std::ifstream log(Out);
    std::vector<std::string> started;
    for (std::string line; std::getline(log, line);)
        started.push_back(line);
    ASSERT_EQ(started.size(), static_cast<std::size_t>(DocumentCount));
    for (int i = 0; i < DocumentCount; ++i) {
        if (started[static_cast<std::size_t>(i)] != Documents.GetItem(i)->Path()) {
            ADD_FAILURE() << "start " << i << " was " << started[static_cast<std::size_t>(i)];
            break;
        }
    }
}


