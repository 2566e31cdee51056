#include "App_open.h"

#include "App_documents.h"
#include "App_processes.h"
#include "App_programs.h"
#include "PrivateBus.h"
#include "PrivateXdg.h"
#include "ProcessTestSupport.h"
#include "TempDirectory.h"
#include "Zel_files.h"
#include "Zel_shellexecute.h"

#include <gtest/gtest.h>

#include <QEventLoop>
#include <QTimer>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <utility>

namespace {

testing::Environment* const Xdg = testing::AddGlobalTestEnvironment(new TPrivateXdgEnvironment);

using TEvents = std::vector<std::string>;
using TClock = std::chrono::steady_clock;

const std::string Resetting = "Status:Resetting the results...";
const std::string Opening = "Status:Opening a document...";
const std::string Waiting = "Status:Waiting for the termination of the process...";
const std::string Done = "Status:Done";

// The descriptors a TProcess holds.
int CountPidFds()
{
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        if (std::filesystem::read_symlink(entry.path(), error).string() == "anon_inode:[pidfd]")
            ++count;
    }
    return count;
}

std::string Join(const TIntegerDynArray& indexes)
{
    std::string text;
    for (const int index : indexes)
        text += (text.empty() ? "" : ",") + std::to_string(index);
    return text;
}

// Runs open tasks over a document list on the Qt event loop and records every
// event they and the list raise, in order.
class OpenTaskTest : public testing::Test {
protected:
    void SetUp() override
    {
        FPidFds = CountPidFds();
        Program.SetDisplayName("Recorder");
        Program.SetFile(Recorder);
        Program.SetDocumentPrefix("\"");
        Program.SetDocumentSuffix("\"");
        Program.SetAutoPause(false);
        Documents.OnChanged = [this](TDocumentEntriesModel&, const TIntegerDynArray& indexes) {
            Record("Changed:" + Join(indexes));
        };
    }

    void TearDown() override
    {
        // Every process object released, every child reaped.
        EXPECT_TRUE(WaitUntil([this] { return ZombieChildren().empty() && CountPidFds() == FPidFds; }));
    }

    // Adds a document per name (a path under Scratch; directories are made).
    void AddDocuments(const std::vector<std::string>& names)
    {
        TStringDynArray paths;
        for (const std::string& name : names) {
            std::filesystem::create_directories(ExtractFileDir(Scratch / name));
            paths.push_back(Scratch.WriteFile(name, "data"));
        }
        Documents.Add(CreateDocumentEntries(paths));
    }

    TDocumentEntryResult ResultOf(int index) const { return Documents.GetItem(index)->Result(); }

    // Runs one task to its end and returns the events it recorded.
    TEvents Run()
    {
        Events.clear();
        auto task = std::make_unique<TOpenTask>(Program, Documents);
        QEventLoop loop;
        bool finished = false;
        task->OnDocument = [this](TOpenTask&, const std::string& program, const std::string& document) {
            Record("Document:" + program + "|" + document);
        };
        task->OnPaused = [this](TOpenTask&) { Record("Paused"); };
        task->OnResumed = [this](TOpenTask&) { Record("Resumed"); };
        task->OnStatus = [this](TOpenTask&, const std::string& text) { Record("Status:" + text); };
        task->OnNotice = [this](TOpenTask&, const std::string& text) { Record("Notice:" + text); };
        task->OnFailure = [this](TOpenTask&, const std::string& text) { Record("Failure:" + text); };
        task->OnFailureReason = [this](TOpenTask&, const std::string& reason) { Record("Reason:" + reason); };
        task->OnProgress = [this](TTask&, int position, int maximum) {
            Record("Progress:" + std::to_string(position) + "/" + std::to_string(maximum));
        };
        task->OnCancel = [this](TTask&) { Record("Cancel"); };
        task->OnException = [this](TTask&, const std::exception& e) { Record(std::string("Exception:") + e.what()); };
        task->OnFinish = [&](TTask&) {
            Record("Finish");
            Counted = {Task->Opened(), Task->Failed()};
            Task = nullptr;
            finished = true;
            loop.quit();
        };
        task->FreeOnFinish = true;
        Task = task.get();
        task->Start();
        (void)task.release();

        QTimer limit;
        limit.setSingleShot(true);
        QObject::connect(&limit, &QTimer::timeout, [&] {
            ADD_FAILURE() << "the run did not end";
            if (Task) {
                Task->Cancel();
                Task->Resume();
            }
        });
        limit.start(30000);
        while (!finished)
            loop.exec();
        return Events;
    }

    // Called for every event, on the GUI thread; lets a test act like the user.
    std::function<void(const std::string& event)> React;
    // The running task; null once it has finished and freed itself.
    TOpenTask* Task = nullptr;
    bool OffMainThread = false;
    TEvents Events;
    // What the last run counted as opened and as failed.
    std::pair<int, int> Counted;

    TTempDirectory Scratch;
    const std::string Log = Scratch / "recorder.log";
    TScopedEnvironment Out{"RECORDER_OUT", Log};
    const std::string Recorder = HelperPath("recorder");
    TProgramEntry Program;
    TDocumentEntriesModel Documents;

private:
    void Record(const std::string& event)
    {
        OffMainThread = OffMainThread || !IsMainThread();
        Events.push_back(event);
        if (React)
            React(event);
    }

    int FPidFds = 0;
};

// The user's Resume, pressed once the GUI thread is free again.
void ResumeLater(TOpenTask* task)
{
    QTimer::singleShot(0, [task] { task->Resume(); });
}

} // namespace

TEST_F(OpenTaskTest, OpensEachDocumentRetriesFailuresAndSkipsSuccesses)
{
    AddDocuments({"docs/a.txt", "docs/b b's \"x\".txt", "docs/c.txt"});
    Documents.GetItem(0)->SetResult(TDocumentEntryResult::Failure);
    Documents.GetItem(2)->SetResult(TDocumentEntryResult::Success);
    const TEvents events = Run();
    const TEvents expected = {
        Resetting, "Changed:0,1",
        "Document:Recorder|a.txt", Opening, "Changed:0", Waiting, Done, "Progress:1/3",
        "Document:Recorder|b b's \"x\".txt", Opening, "Changed:1", Waiting, Done, "Progress:2/3",
        "Document:Recorder|c.txt", Done, "Progress:3/3",
        "Finish",
    };
    EXPECT_EQ(events, expected);
    EXPECT_FALSE(OffMainThread);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(ResultOf(i), TDocumentEntryResult::Success);
    EXPECT_EQ(Counted, std::make_pair(2, 0)) << "the one that had succeeded before is not counted";

    // One process per document tried, the path one literal argument, in the
    // document's own directory.
    const std::vector<TRecorderRecord> records = ReadRecorderLog(Log);
    ASSERT_EQ(records.size(), 2u);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(records[i].Arguments, (std::vector<std::string>{Recorder, Documents.GetItem(i)->Path()}));
        EXPECT_EQ(records[i].WorkingDirectory, Scratch / "docs");
    }

    // Everything succeeded: a second run only walks the list.
    const TEvents again = Run();
    const TEvents skipped = {
        Resetting, "Changed:",
        "Document:Recorder|a.txt", Done, "Progress:1/3",
        "Document:Recorder|b b's \"x\".txt", Done, "Progress:2/3",
        "Document:Recorder|c.txt", Done, "Progress:3/3",
        "Finish",
    };
    EXPECT_EQ(again, skipped);
    EXPECT_EQ(ReadRecorderLog(Log).size(), 2u);
    EXPECT_EQ(Counted, std::make_pair(0, 0));
}

TEST_F(OpenTaskTest, WorkingDirectoryAndAssociation)
{
    const std::string ext = TPrivateXdg::RecordedExtension;
    AddDocuments({"one/a" + ext, "two/b" + ext});
    // With no program file the document goes to its association, and the
    // prefix and suffix are not used.
    Program.SetFile("");
    Program.SetDocumentPrefix("--flag ");
    Run();
    std::vector<TRecorderRecord> records = ReadRecorderLog(Log);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].Arguments, (std::vector<std::string>{Recorder, Scratch / ("one/a" + ext)}));
    EXPECT_EQ(records[0].WorkingDirectory, Scratch / "one");
    EXPECT_EQ(records[1].WorkingDirectory, Scratch / "two");
    EXPECT_EQ(Events[5], Waiting); // waited for by its PID
    EXPECT_EQ(ResultOf(1), TDocumentEntryResult::Success);

    // The entry's working directory wins over the document's.
    std::filesystem::remove(Log);
    const std::string work = Scratch.MakeDir("work");
    Program.SetWorkingDirectory(work);
    Program.SetFile(Recorder);
    Documents.GetItem(1)->SetResult(TDocumentEntryResult::Failure);
    Run();
    records = ReadRecorderLog(Log);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].Arguments, (std::vector<std::string>{Recorder, "--flag", Scratch / ("two/b" + ext)}));
    EXPECT_EQ(records[0].WorkingDirectory, work);
}

TEST_F(OpenTaskTest, StartFailureMarksFailureAndPausesUntilResumed)
{
    AddDocuments({"a.txt", "b.txt"});
    Program.SetWorkingDirectory(Scratch / "missing");
    React = [this](const std::string& event) {
        if (event == "Paused")
            ResumeLater(Task);
    };
    const TEvents events = Run();
    const std::string failure = "Failure:Could not open the document";
    const std::string reason = "Reason:No such file or directory";
    const TEvents expected = {
        Resetting, "Changed:0,1",
        "Document:Recorder|a.txt", Opening, failure, reason, "Changed:0", "Paused", "Resumed", Done, "Progress:1/2",
        "Document:Recorder|b.txt", Opening, failure, reason, "Changed:1", "Paused", "Resumed", Done, "Progress:2/2",
        "Finish",
    };
    EXPECT_EQ(events, expected);
    EXPECT_EQ(ResultOf(0), TDocumentEntryResult::Failure);
    EXPECT_EQ(ResultOf(1), TDocumentEntryResult::Failure);
    EXPECT_EQ(Documents.GetItem(1)->Reason(), "No such file or directory");
    EXPECT_EQ(Counted, std::make_pair(0, 2));
    EXPECT_FALSE(std::filesystem::exists(Log));

    // The next run resets the failures, and their reasons with them.
    Program.SetWorkingDirectory("");
    Run();
    EXPECT_EQ(ResultOf(1), TDocumentEntryResult::Success);
    EXPECT_EQ(Documents.GetItem(1)->Reason(), "");
}

TEST_F(OpenTaskTest, AutoPauseAndNoHandleGiveNoticesAndPause)
{
    AddDocuments({"a.txt", std::string("b") + TPrivateXdg::RecordedExtension});
    Program.SetAutoPause(true);
    // The interval belongs to waited processes; a paused run does not sleep it.
    Program.SetOpenInterval(20000);
    React = [this](const std::string& event) {
        if (event == "Paused")
            ResumeLater(Task);
    };
    const TClock::time_point start = TClock::now();
    TEvents events = Run();
    EXPECT_LT(TClock::now() - start, std::chrono::seconds(20));
    const std::string paused = "Notice:Paused - resume to open the next document";
    TEvents expected = {
        Resetting, "Changed:0,1",
        "Document:Recorder|a.txt", Opening, paused, "Changed:0", "Paused", "Resumed", Done, "Progress:1/2",
        "Document:Recorder|b.dorvanetest", Opening, paused, "Changed:1", "Paused", "Resumed", Done, "Progress:2/2",
        "Finish",
    };
    EXPECT_EQ(events, expected);
    EXPECT_EQ(ResultOf(0), TDocumentEntryResult::Success);
    EXPECT_TRUE(WaitUntil([this] { return ReadRecorderLog(Log).size() == 2; }));

    // An association that gives no PID leaves nothing to wait on.
    pid_t withheld = 0;
    SetLaunchPidFilterForTesting([&](pid_t pid) {
        withheld = pid;
        return false;
    });
    Program.SetFile("");
    Program.SetAutoPause(false);
    Documents.GetItem(1)->SetResult(TDocumentEntryResult::None);
    events = Run();
    SetLaunchPidFilterForTesting(nullptr);
    const std::string noHandle = "Notice:Cannot wait for the termination of the process";
    expected = {
        Resetting, "Changed:1",
        "Document:Recorder|a.txt", Done, "Progress:1/2",
        "Document:Recorder|b.dorvanetest", Opening, noHandle, "Changed:1", "Paused", "Resumed", Done, "Progress:2/2",
        "Finish",
    };
    EXPECT_EQ(events, expected);
    EXPECT_EQ(ResultOf(1), TDocumentEntryResult::Success);
    ASSERT_GT(withheld, 0);
    TAutoPointer<TProcessHandle> child = TProcessHandle::Open(withheld);
    ASSERT_TRUE(child);
    EXPECT_TRUE(child->Wait(20000));
}

TEST_F(OpenTaskTest, PauseDuringTheWaitTakesEffectAfterTheDocument)
{
    AddDocuments({"a.txt", "b.txt"});
    TScopedEnvironment sleep("RECORDER_SLEEP_MS", "200");
    bool pausedOnce = false;
    React = [&](const std::string& event) {
        if (event == Waiting && !pausedOnce) {
            pausedOnce = true;
            Task->Pause();
            Task->Pause(); // twice: one event
        } else if (event == "Progress:1/2") {
            ResumeLater(Task);
        }
    };
    const TEvents events = Run();
    const TEvents expected = {
        Resetting, "Changed:0,1",
        "Document:Recorder|a.txt", Opening, "Changed:0", Waiting, "Paused", Done, "Progress:1/2",
        "Resumed",
        "Document:Recorder|b.txt", Opening, "Changed:1", Waiting, Done, "Progress:2/2",
        "Finish",
    };
    EXPECT_EQ(events, expected);
}

TEST_F(OpenTaskTest, CancelDuringALongWaitEndsTheRunAndLeavesTheProcessRunning)
{
    using namespace std::chrono;
    AddDocuments({"a.txt", "b.txt"});
    TScopedEnvironment sleep("RECORDER_SLEEP_MS", "60000");
    Program.SetOpenInterval(400);
    TClock::time_point cancelled;
    React = [&](const std::string& event) {
        if (event == Waiting)
            QTimer::singleShot(200, [&] {
                cancelled = TClock::now();
                Task->Cancel();
                Task->Cancel();
            });
    };
    const TEvents events = Run();
    const auto took = TClock::now() - cancelled;
    EXPECT_GE(took, milliseconds(400)); // the interval is still slept
    EXPECT_LT(took, seconds(5));
    const TEvents expected = {
        Resetting, "Changed:0,1",
        "Document:Recorder|a.txt", Opening, "Changed:0", Waiting, "Cancel", Done, "Progress:1/2",
        "Finish",
    };
    EXPECT_EQ(events, expected);
    EXPECT_EQ(ResultOf(0), TDocumentEntryResult::Success);
    EXPECT_EQ(ResultOf(1), TDocumentEntryResult::None);

    ASSERT_EQ(ReadRecorderLog(Log).size(), 1u);
    const pid_t pid = ReadRecorderLog(Log).front().Pid;
    EXPECT_EQ(::kill(pid, 0), 0);
    EXPECT_FALSE(IsReaped(pid));
    ::kill(pid, SIGKILL);
    EXPECT_TRUE(WaitUntil([&] { return IsReaped(pid); }));
}

TEST_F(OpenTaskTest, FailingGuiStepEndsTheRun)
{
    AddDocuments({"a.txt", "b.txt"});
    TScopedEnvironment sleep("RECORDER_SLEEP_MS", "100");
    // Marking the first document Success fails after its process has started.
    Documents.OnChanged = [](TDocumentEntriesModel&, const TIntegerDynArray& indexes) {
        if (indexes == TIntegerDynArray{0})
            throw EAppError("The list is gone.");
    };
    TEvents events = Run();
    EXPECT_EQ(events,
              (TEvents{Resetting, "Document:Recorder|a.txt", Opening, "Exception:The list is gone.", "Finish"}));
    EXPECT_TRUE(WaitUntil([this] { return ReadRecorderLog(Log).size() == 1; }));

    // A silent abort there ends the run without a report.
    Documents.OnChanged = [](TDocumentEntriesModel&, const TIntegerDynArray& indexes) {
        if (indexes == TIntegerDynArray{0})
            throw EAbort();
    };
    Documents.GetItem(0)->SetResult(TDocumentEntryResult::None);
    events = Run();
    EXPECT_EQ(events, (TEvents{Resetting, "Document:Recorder|a.txt", Opening, "Finish"}));
}

namespace {

using TOpened = std::vector<std::pair<pid_t, std::string>>;

const std::string NoHandle = "Notice:Cannot wait for the termination of the process";

// Documents of a single-instance application, on a session bus of the test's own.
class HandOffTest : public OpenTaskTest {
protected:
    void SetUp() override
    {
        OpenTaskTest::SetUp();
        AddDocuments({"a" + Ext, "b" + Ext});
    }

    // Each document the application was given, with the process it went to,
    // in the order the processes received them.
    TOpened Opened() const
    {
        TOpened opened;
        std::ifstream stream(OpenedLog);
        long pid = 0;
        std::string path;
        while (stream >> pid && std::getline(stream >> std::ws, path))
            opened.emplace_back(static_cast<pid_t>(pid), path);
        return opened;
    }

    // A fresh run with the application, by association or by its program file.
    void UseApplication(bool byAssociation, const std::string& program = std::string())
    {
        Program.SetFile(byAssociation ? "" : program.empty() ? SingleApp : program);
        for (int i = 0; i < Documents.GetCount(); ++i)
            Documents.GetItem(i)->SetResult(TDocumentEntryResult::None);
        std::filesystem::remove(OpenedLog);
    }

    std::string Path(int index) const { return Documents.GetItem(index)->Path(); }

    // Two documents named a and b with the extension, in place of the list.
    void UseDocuments(const std::string& ext)
    {
        Documents.Clear();
        AddDocuments({"a" + ext, "b" + ext});
    }

    // The events of a run over a and b in which each document's process
    // hands it to a copy that was running, as seen when the process ends.
    static TEvents HandedOffAtTheEnd(const std::string& ext)
    {
        return {
            Resetting, "Changed:0,1",
            "Document:Recorder|a" + ext, Opening, "Changed:0", Waiting, NoHandle, "Changed:0", "Paused", "Resumed",
            Done, "Progress:1/2",
            "Document:Recorder|b" + ext, Opening, "Changed:1", Waiting, NoHandle, "Changed:1", "Paused", "Resumed",
            Done, "Progress:2/2",
            "Finish",
        };
    }

    const std::string Ext = TPrivateXdg::SingleExtension;
    const std::string AppId = TPrivateXdg::SingleAppId;
    const std::string SingleApp = HelperPath("singleapp");
    const std::string SocketExt = TPrivateXdg::SocketExtension;
    const std::string SocketApp = HelperPath("socketapp");
    TScopedEnvironment Runtime{"XDG_RUNTIME_DIR", Scratch.Path()};
    TPrivateBus Bus;
    const std::string OpenedLog = Scratch / "opened.log";
    TScopedEnvironment OpenedOut{"SINGLEAPP_OUT", OpenedLog};
};

} // namespace

TEST_F(HandOffTest, AnApplicationThatIsNotRunningIsWaitedFor)
{
    // Each document starts the application anew, and the run waits until the
    // user ends it; without a bus as well, where it cannot be single.
    React = [this](const std::string& event) {
        if (event != Waiting)
            return;
        QTimer::singleShot(200, [this] {
            const std::size_t index = static_cast<std::size_t>(Task->Index());
            ASSERT_TRUE(WaitUntil([&] { return Opened().size() > index; }));
            Events.push_back("Ended");
            ::kill(Opened()[index].first, SIGTERM);
        });
    };
    const TEvents expected = {
        Resetting, "Changed:0,1",
        "Document:Recorder|a" + Ext, Opening, "Changed:0", Waiting, "Ended", Done, "Progress:1/2",
        "Document:Recorder|b" + Ext, Opening, "Changed:1", Waiting, "Ended", Done, "Progress:2/2",
        "Finish",
    };
    // The same with an application that keeps one copy over a socket of its
    // own: each start is the first copy until the user ends it.
    for (const auto& [program, ext] : {std::pair(SingleApp, Ext), std::pair(SocketApp, SocketExt)}) {
        UseDocuments(ext);
        TEvents shown = expected;
        std::replace(shown.begin(), shown.end(), "Document:Recorder|a" + Ext, "Document:Recorder|a" + ext);
        std::replace(shown.begin(), shown.end(), "Document:Recorder|b" + Ext, "Document:Recorder|b" + ext);
        for (const bool bus : {true, false}) {
            std::optional<TScopedEnvironment> noBus;
            if (!bus)
                noBus.emplace("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (Scratch / "no-bus"));
            for (const bool byAssociation : {true, false}) {
                SCOPED_TRACE(ext + (byAssociation ? " association" : " program file") + (bus ? "" : ", no bus"));
                UseApplication(byAssociation, program);
                EXPECT_EQ(Run(), shown);
                const TOpened opened = Opened();
                ASSERT_EQ(opened.size(), 2u);
                EXPECT_EQ(opened[0].second, Path(0));
                EXPECT_EQ(opened[1].second, Path(1));
                EXPECT_NE(opened[0].first, opened[1].first);
            }
        }
    }
}

TEST_F(HandOffTest, AnApplicationAlreadyRunningTakesEachDocumentWithANoticeAndAPause)
{
    TShellStart running = StartProgram(SingleApp, {}, "", 1, true);
    ASSERT_TRUE(running.Process);
    const pid_t instance = running.Process->Pid();
    ASSERT_EQ(Bus.WaitForOwner(AppId), instance);
    Bus.CountCalls("GetConnectionUnixProcessID");
    React = [this](const std::string& event) {
        if (event == "Paused")
            ResumeLater(Task);
    };
    const TEvents expected = {
        Resetting, "Changed:0,1",
        "Document:Recorder|a" + Ext, Opening, NoHandle, "Changed:0", "Paused", "Resumed", Done, "Progress:1/2",
        "Document:Recorder|b" + Ext, Opening, NoHandle, "Changed:1", "Paused", "Resumed", Done, "Progress:2/2",
        "Finish",
    };
    for (const bool byAssociation : {true, false}) {
        SCOPED_TRACE(byAssociation ? "association" : "program file");
        UseApplication(byAssociation);
        const unsigned asked = Bus.CountedCalls();
        EXPECT_EQ(Run(), expected);
        EXPECT_EQ(ResultOf(1), TDocumentEntryResult::Success);
        // Asked once a run: the owner stays, and the bus says nothing of a change.
        EXPECT_EQ(Bus.CountedCalls(), asked + 1);
        // Every document opened once, in the instance that was running. The
        // run does not wait for a hand-off to arrive, so the two may cross.
        EXPECT_TRUE(WaitUntil([this] { return Opened().size() >= 2 && ZombieChildren().empty(); }));
        TOpened opened = Opened();
        std::sort(opened.begin(), opened.end());
        EXPECT_EQ(opened, (TOpened{{instance, Path(0)}, {instance, Path(1)}}));
    }
    ::kill(instance, SIGTERM);
    EXPECT_TRUE(running.Process->Wait(10000));
}

TEST_F(HandOffTest, AHandOffAfterTheStartIsSeenWhenTheProcessEnds)
{
    // The started process waits at the gate until another instance has come
    // up, then hands its document to it.
    TScopedEnvironment gate("SINGLEAPP_GATE", Scratch / "gate");
    TAutoPointer<TProcessHandle> instance;
    React = [&](const std::string& event) {
        if (event == Waiting && !instance) {
            instance = StartProgram(SingleApp, {}, "", 1, true).Process;
            EXPECT_EQ(Bus.WaitForOwner(AppId), instance->Pid());
            Scratch.WriteFile("gate");
        } else if (event == "Paused") {
            ResumeLater(Task);
        }
    };
    UseApplication(true);
    const TEvents expected = {
        Resetting, "Changed:0,1",
        "Document:Recorder|a" + Ext, Opening, "Changed:0", Waiting, NoHandle, "Changed:0", "Paused", "Resumed",
        Done, "Progress:1/2",
        "Document:Recorder|b" + Ext, Opening, NoHandle, "Changed:1", "Paused", "Resumed", Done, "Progress:2/2",
        "Finish",
    };
    EXPECT_EQ(Run(), expected);
    ASSERT_TRUE(instance);
    EXPECT_TRUE(WaitUntil([this] { return Opened().size() >= 2 && ZombieChildren().empty(); }));
    TOpened opened = Opened();
    std::sort(opened.begin(), opened.end());
    EXPECT_EQ(opened, (TOpened{{instance->Pid(), Path(0)}, {instance->Pid(), Path(1)}}));
    ::kill(instance->Pid(), SIGTERM);
    EXPECT_TRUE(instance->Wait(10000));
}

TEST_F(HandOffTest, ACopyRunningSinceBeforeTakesEachDocumentWhateverNameItGoesBy)
{
    // An office suite takes documents over a socket of its own, a browser
    // under a bus name of its profile: neither owns its desktop id, and the
    // one takes them with no bus at all.
    React = [this](const std::string& event) {
        if (event == "Paused")
            ResumeLater(Task);
    };
    const std::string profileName = "org.dorvane.Profile.Test";
    TScopedEnvironment profile("SINGLEAPP_ID", profileName);
    struct TCase {
        std::string Program, Ext;
        bool Bus;
    };
    for (const TCase& c : {TCase{SocketApp, SocketExt, true}, TCase{SocketApp, SocketExt, false},
                           TCase{SingleApp, Ext, true}}) {
        std::optional<TScopedEnvironment> noBus;
        if (!c.Bus)
            noBus.emplace("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (Scratch / "no-bus"));
        UseDocuments(c.Ext);
        for (const bool byAssociation : {true, false}) {
            SCOPED_TRACE(c.Ext + (byAssociation ? " association" : " program file") + (c.Bus ? "" : ", no bus"));
            const pid_t instance = StartElsewhere(c.Program);
            ASSERT_NE(instance, 0);
            if (c.Program == SingleApp)
                ASSERT_EQ(Bus.WaitForOwner(profileName), instance);
            else
                ASSERT_TRUE(WaitUntil([this] { return std::filesystem::exists(Scratch / "dorvane-socketapp"); }));
            UseApplication(byAssociation, c.Program);
            EXPECT_EQ(Run(), HandedOffAtTheEnd(c.Ext));
            TOpened opened = Opened();
            std::sort(opened.begin(), opened.end());
            EXPECT_EQ(opened, (TOpened{{instance, Path(0)}, {instance, Path(1)}}));
            EXPECT_TRUE(EndElsewhere(instance, SIGTERM));
            std::filesystem::remove(Scratch / "dorvane-socketapp");
        }
    }
}

TEST_F(OpenTaskTest, OneProcessPerDocumentAndCommandLineProgramsAreWaitedForBesideAnotherCopy)
{
    // Another copy shows another document all along. Each document's own
    // window is closed by its user, later than a hand-off would have ended.
    std::optional<TScopedEnvironment> sleep(std::in_place, "RECORDER_SLEEP_MS", "60000");
    const pid_t other = StartElsewhere(Recorder, {"other"});
    ASSERT_TRUE(other != 0 && WaitUntil([&] { return ReadRecorderLog(Log).size() == 1; }));
    sleep.emplace("RECORDER_SLEEP_MS", std::to_string(TProcessCreator::HandOffSeconds * 1000 + 300));
    AddDocuments({"a" + std::string(TPrivateXdg::RecordedExtension)});
    const TEvents waited = {
        Resetting, "Changed:0", "Document:Recorder|a.dorvanetest", Opening, "Changed:0", Waiting, Done,
        "Progress:1/1", "Finish",
    };
    Program.SetFile("");
    EXPECT_EQ(Run(), waited);
    EXPECT_TRUE(EndElsewhere(other, SIGKILL));

    // A command-line program, which no desktop entry runs, ends at once while
    // another copy of it runs elsewhere.
    const std::string tool = Scratch / "tool";
    std::filesystem::copy_file(Recorder, tool);
    sleep.emplace("RECORDER_SLEEP_MS", "60000");
    const pid_t busy = StartElsewhere(tool);
    ASSERT_TRUE(busy != 0 && WaitUntil([&] { return ReadRecorderLog(Log).size() == 3; }));
    sleep.emplace("RECORDER_SLEEP_MS", "0");
    Program.SetFile(tool);
    Documents.GetItem(0)->SetResult(TDocumentEntryResult::None);
    EXPECT_EQ(Run(), waited);
    EXPECT_TRUE(EndElsewhere(busy, SIGKILL));
}
