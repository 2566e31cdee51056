#include "App_open.h"

#include "DesktopRecorder.h"
#include "OpenRig.h"
#include "PrivateBus.h"
#include "PrivateXdg.h"
#include "Zel_desktopbus.h"
#include "ProcessTestSupport.h"

#include <QGuiApplication>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

testing::Environment* const Xdg = testing::AddGlobalTestEnvironment(new TPrivateXdgEnvironment);

class OpenCommandsTest : public testing::Test, protected TOpenRig {
protected:
    // Adds "Viewer", the recorder with the document after "--document", and selects it.
    TProgramEntry& AddViewer(bool autoPause = false)
    {
        return TOpenRig::AddViewer(Recorder, "--document \"", "\"", autoPause);
    }

    // Adds a.dorvanetest, b.dorvanetest, ... as documents.
    TStringDynArray AddDocuments(int count)
    {
        TStringDynArray paths;
        Scratch.MakeDir("docs");
        for (int i = 0; i < count; ++i)
            paths.push_back(Scratch.WriteFile(std::string("docs/") + char('a' + i) + ".dorvanetest", "x"));
        Documents.Add(CreateDocumentEntries(paths));
        return paths;
    }

    const std::string Log = Scratch / "recorder.log";
    TScopedEnvironment Out{"RECORDER_OUT", Log};
    const std::string Recorder = HelperPath("recorder");
};

const std::string Shown = "shown: 1 |  |  |  | 0/100 | on off on";

TEST_F(OpenCommandsTest, OpenNeedsASelectedProgramAndADocument)
{
    delete AppProgressDialog.data();
    EXPECT_FALSE(Commands.CanOpen());
    auto unavailable = [&] {
        try {
            Commands.Open();
        } catch (const EAppError& e) {
            return e.Message();
        }
        return std::string("no error");
    };
    EXPECT_EQ(unavailable(), "The feature is unavailable.");
    AddViewer();
    Selection.SetSelectedIndex(-1);
    AddDocuments(1);
    EXPECT_FALSE(Commands.CanOpen());
    EXPECT_EQ(unavailable(), "The feature is unavailable.");
    Selection.SetSelectedIndex(0);
    Documents.Clear();
    EXPECT_FALSE(Commands.CanOpen());
    EXPECT_EQ(unavailable(), "The feature is unavailable.");
    EXPECT_FALSE(AppProgressDialog) << "no dialog for a refused Open";

    // The dialog is made on first use and kept for the next run.
    AddDocuments(1);
    EXPECT_TRUE(Commands.CanOpen());
    TRunWatchdog watchdog;
    Commands.Open();
    ASSERT_TRUE(AppProgressDialog);
    TAppProgressDialog* first = AppProgressDialog;
    EXPECT_FALSE(first->isVisible());
    Commands.Open();
    EXPECT_EQ(AppProgressDialog, first);
    EXPECT_EQ(ReadRecorderLog(Log).size(), 1u) << "the second run skips the document that succeeded";
}

TEST_F(OpenCommandsTest, ARunShowsEveryDocumentAndClosesByItself)
{
    AddViewer();
    const TStringDynArray paths = AddDocuments(3);
    TRunWatchdog watchdog;
    Commands.Open();

    EXPECT_FALSE(Dialog->isVisible());
    const TLines expected = {
        Shown,
        "status: 1 | Resetting the results... |  |  | 0/100 | on off on",
        "names: 1 | Resetting the results... | Viewer | a.dorvanetest | 0/100 | on off on",
        "status: 1 | Opening a document... | Viewer | a.dorvanetest | 0/100 | on off on",
        "status: 1 | Waiting for the termination of the process... | Viewer | a.dorvanetest | 0/100 | on off on",
        "status: 1 | Done | Viewer | a.dorvanetest | 0/100 | on off on",
        "progress: 1 | Done | Viewer | a.dorvanetest | 1/3 | on off on",
        "names: 1 | Done | Viewer | b.dorvanetest | 1/3 | on off on",
        "status: 1 | Opening a document... | Viewer | b.dorvanetest | 1/3 | on off on",
        "status: 1 | Waiting for the termination of the process... | Viewer | b.dorvanetest | 1/3 | on off on",
        "status: 1 | Done | Viewer | b.dorvanetest | 1/3 | on off on",
        "progress: 1 | Done | Viewer | b.dorvanetest | 2/3 | on off on",
        "names: 1 | Done | Viewer | c.dorvanetest | 2/3 | on off on",
        "status: 1 | Opening a document... | Viewer | c.dorvanetest | 2/3 | on off on",
        "status: 1 | Waiting for the termination of the process... | Viewer | c.dorvanetest | 2/3 | on off on",
        "status: 1 | Done | Viewer | c.dorvanetest | 2/3 | on off on",
        "progress: 1 | Done | Viewer | c.dorvanetest | 3/3 | on off on",
        "finish: 1 | Done | Viewer | c.dorvanetest | 3/3 | on off on",
    };
    EXPECT_EQ(Dialog->Log, expected);

    const std::vector<TRecorderRecord> records = ReadRecorderLog(Log);
    ASSERT_EQ(records.size(), 3u);
    for (std::size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(records[i].Arguments, (TLines{Recorder, "--document", paths[i]}));
        EXPECT_EQ(records[i].WorkingDirectory, Scratch / "docs");
    }
    EXPECT_EQ(Results(), "Success Success Success");
    // The run is over: the dialog no longer reaches the task that freed itself.
    EXPECT_FALSE(Dialog->OnPause);
    EXPECT_FALSE(Dialog->OnResume);
    EXPECT_FALSE(Dialog->OnCancelRequest);
}

TEST_F(OpenCommandsTest, PauseWaitsForTheDocumentResumeGoesOnAndTheCloseBoxCancels)
{
    AddViewer();
    AddDocuments(3);
    // Long enough that each press lands while its process is waited on.
    TScopedEnvironment sleep("RECORDER_SLEEP_MS", "1500");
    std::size_t recordsWhilePaused = 99;
    bool namesWhilePaused = true;
    bool visibleAfterClose = false;
    Dialog->OnNote = [&](const std::string& line) {
        if (line == "status: 1 | Waiting for the termination of the process... | Viewer | a.dorvanetest | 0/100 | on off on")
            Later([&] { Button(*Dialog, "Button1").click(); });
        if (line.rfind("progress: 1 | Done | Viewer | a.dorvanetest | 1/3 | off on", 0) == 0)
            // Hold the pause for a few of the worker's polls, then look and resume.
            QTimer::singleShot(400, Dialog, [&] {
                recordsWhilePaused = ReadRecorderLog(Log).size();
                namesWhilePaused = !Dialog->From("names: 1 | Done | Viewer | b").empty();
                Button(*Dialog, "Button2").click();
            });
        if (line.rfind("status: 1 | Waiting for the termination of the process... | Viewer | b", 0) == 0)
            Later([&] {
                Dialog->close();
                visibleAfterClose = Dialog->isVisible();
            });
    };
    TRunWatchdog watchdog;
    Commands.Open();

    EXPECT_EQ(recordsWhilePaused, 1u);
    EXPECT_FALSE(namesWhilePaused);
    EXPECT_TRUE(visibleAfterClose);
    const TLines expected = {
        "status: 1 | Waiting for the termination of the process... | Viewer | a.dorvanetest | 0/100 | on off on",
        // The pause shows at once, but the process is still waited for.
        "paused: 1 | Waiting for the termination of the process... | Viewer | a.dorvanetest | 0/100 | off on on",
        "status: 1 | Done | Viewer | a.dorvanetest | 0/100 | off on on",
        "progress: 1 | Done | Viewer | a.dorvanetest | 1/3 | off on on",
        "resumed: 1 | Done | Viewer | a.dorvanetest | 1/3 | on off on",
        "names: 1 | Done | Viewer | b.dorvanetest | 1/3 | on off on",
        "status: 1 | Opening a document... | Viewer | b.dorvanetest | 1/3 | on off on",
        "status: 1 | Waiting for the termination of the process... | Viewer | b.dorvanetest | 1/3 | on off on",
        // Cancelled: the document still gets its done step, and the run ends.
        "status: 1 | Done | Viewer | b.dorvanetest | 1/3 | on off on",
        "progress: 1 | Done | Viewer | b.dorvanetest | 2/3 | on off on",
        "finish: 1 | Done | Viewer | b.dorvanetest | 2/3 | on off on",
    };
    EXPECT_EQ(Dialog->From("status: 1 | Waiting for the termination of the process... | Viewer | a"), expected);
    EXPECT_EQ(Results(), "Success Success None");
    // The cancel did not wait for the second program, which goes on running
    // (and may not even have written its record yet).
    ASSERT_TRUE(WaitUntil([&] { return ReadRecorderLog(Log).size() == 2; }));
    const std::vector<TRecorderRecord> records = ReadRecorderLog(Log);
    const std::vector<pid_t> zombies = ZombieChildren();
    EXPECT_TRUE(!IsReaped(records[1].Pid) &&
        std::find(zombies.begin(), zombies.end(), records[1].Pid) == zombies.end());

    // The second run finds the dialog reset and goes on where the first stopped.
    Dialog->Log.clear();
    Dialog->OnNote = nullptr;
    TScopedEnvironment quick("RECORDER_SLEEP_MS", "0");
    Commands.Open();
    ASSERT_FALSE(Dialog->Log.empty());
    EXPECT_EQ(Dialog->Log.front(), Shown);
    EXPECT_EQ(ReadRecorderLog(Log).size(), 3u);
    EXPECT_EQ(Results(), "Success Success Success");
    EXPECT_EQ(Dialog->Log.back(), "finish: 1 | Done | Viewer | c.dorvanetest | 3/3 | on off on");
}

TEST_F(OpenCommandsTest, FailuresAndNoticesShowTheirGlyphAndPauseTheRun)
{
    // A program file that cannot be started: every document fails and pauses.
    TProgramEntry& viewer = AddViewer();
    viewer.SetFile(Scratch.WriteFile("not-a-program", "text"));
    AddDocuments(2);
    int failures = 0;
    Dialog->OnNote = [&](const std::string& line) {
        if (line.rfind("paused:", 0) == 0 && ++failures == 1)
            Later([&] { Button(*Dialog, "Button2").click(); });
        else if (line.rfind("paused:", 0) == 0)
            Later([&] { Button(*Dialog, "Button3").click(); });
    };
    TRunWatchdog watchdog;
    Commands.Open();
    EXPECT_EQ(Dialog->From("failure"),
        (TLines{
            "failure: 3 | Could not open the document | Viewer | a.dorvanetest | 0/100 | on off on",
            "reason: 3 | Could not open the document | Viewer | a.dorvanetest | 0/100 | on off on | reason: Permission denied",
            "paused: 3 | Could not open the document | Viewer | a.dorvanetest | 0/100 | off on on | reason: Permission denied",
            "resumed: 3 | Could not open the document | Viewer | a.dorvanetest | 0/100 | on off on | reason: Permission denied",
            "status: 1 | Done | Viewer | a.dorvanetest | 0/100 | on off on",
            "progress: 1 | Done | Viewer | a.dorvanetest | 1/2 | on off on",
            "names: 1 | Done | Viewer | b.dorvanetest | 1/2 | on off on",
            "status: 1 | Opening a document... | Viewer | b.dorvanetest | 1/2 | on off on",
            "failure: 3 | Could not open the document | Viewer | b.dorvanetest | 1/2 | on off on",
            "reason: 3 | Could not open the document | Viewer | b.dorvanetest | 1/2 | on off on | reason: Permission denied",
            "paused: 3 | Could not open the document | Viewer | b.dorvanetest | 1/2 | off on on | reason: Permission denied",
            "status: 1 | Done | Viewer | b.dorvanetest | 1/2 | off on on",
            "progress: 1 | Done | Viewer | b.dorvanetest | 2/2 | off on on",
            "finish: 1 | Done | Viewer | b.dorvanetest | 2/2 | off on on",
        }));
    EXPECT_EQ(Results(), "Failure Failure");
    // The system's words stay with each document; the line goes with the next status.
    EXPECT_EQ(Documents.GetItem(1)->Reason(), "Permission denied");
    EXPECT_TRUE(ReadRecorderLog(Log).empty());

    // Pausing instead of waiting: a notice with the warning glyph, then the
    // user resumes each document.
    viewer.SetFile(Recorder);
    viewer.SetAutoPause(true);
    Dialog->Log.clear();
    Documents.Clear();
    AddDocuments(3);
    int pauses = 0;
    Dialog->OnNote = [&](const std::string& line) {
        if (line.rfind("paused:", 0) != 0)
            return;
        Later([&, second = ++pauses == 2] {
            // The second document's pause is the picture the README shows.
            if (const char* dir = std::getenv("DORVANE_SCREENSHOT_DIR"); dir && second) {
                EXPECT_TRUE(Dialog->grab().save(QString::fromLocal8Bit(dir) + "/progress-dialog.png"));
            }
            Button(*Dialog, "Button2").click();
        });
    };
    Commands.Open();
    const TLines notices = Dialog->From("notice");
    const TLines expected = {
        "notice: 2 | Paused - resume to open the next document | Viewer | a.dorvanetest | 0/100 | on off on",
        "paused: 2 | Paused - resume to open the next document | Viewer | a.dorvanetest | 0/100 | off on on",
        "resumed: 2 | Paused - resume to open the next document | Viewer | a.dorvanetest | 0/100 | on off on",
        "status: 1 | Done | Viewer | a.dorvanetest | 0/100 | on off on",
        "progress: 1 | Done | Viewer | a.dorvanetest | 1/3 | on off on",
        "names: 1 | Done | Viewer | b.dorvanetest | 1/3 | on off on",
    };
    ASSERT_GE(notices.size(), expected.size());
    EXPECT_EQ(TLines(notices.begin(), notices.begin() + expected.size()), expected);
    EXPECT_EQ(std::count_if(notices.begin(), notices.end(), [](const std::string& line) { return line.rfind("paused: 2", 0) == 0; }), 3);
    EXPECT_EQ(Dialog->Log.back(), "finish: 1 | Done | Viewer | c.dorvanetest | 3/3 | on off on");
    EXPECT_EQ(Results(), "Success Success Success");
    EXPECT_TRUE(WaitUntil([&] { return ReadRecorderLog(Log).size() == 3; }));
}

TEST_F(OpenCommandsTest, AFailureThatEndsTheRunIsReportedOnceTheDialogHasClosed)
{
    AddViewer();
    AddDocuments(2);
    // The list view fails to redraw the rows the run changed.
    Documents.OnChanged = [](TDocumentEntriesModel&, const TIntegerDynArray&) {
        throw EAppError("The view could not be updated.");
    };
    TRunWatchdog watchdog;
    std::string message = "no error";
    bool visible = true;
    try {
        Commands.Open();
    } catch (const EAppError& e) {
        message = e.Message();
        visible = Dialog->isVisible();
    }
    EXPECT_EQ(message, "The view could not be updated.");
    EXPECT_FALSE(visible);
    EXPECT_EQ(Dialog->Log.back(), "finish: 1 | Resetting the results... |  |  | 0/100 | on off on");
    EXPECT_TRUE(ReadRecorderLog(Log).empty());

    // The next run is not haunted by the last one's failure.
    Documents.OnChanged = nullptr;
    Commands.Open();
    EXPECT_EQ(ReadRecorderLog(Log).size(), 2u);
}

// The desktop sees a run on Dorvane's launcher entry while it lasts, and a
// notice of how it went when it ends while Dorvane is not the active
// application; the notice comes before the bar goes.
TEST_F(OpenCommandsTest, TheDesktopShowsTheRunsProgressAndANoticeWhenDorvaneIsNotActive)
{
    TPrivateBus bus;
    TDesktopRecorder desktop(bus.Address());
    const auto qtActive = Commands.IsApplicationActive;
    std::vector<Qt::ApplicationState> states; // what Qt said each time it was asked
    Commands.IsApplicationActive = [&] {
        states.push_back(QGuiApplication::applicationState());
        return false;
    };
    const auto ended = [&](std::size_t runs) {
        return WaitUntil([&] {
            std::size_t cleared = 0;
            for (const TRecordedLauncherUpdate& update : desktop.LauncherUpdates())
                cleared += update.Visible == false;
            return cleared == runs;
        });
    };
    TProgramEntry& viewer = AddViewer();
    AddDocuments(3);
    TRunWatchdog watchdog;
    Commands.Open();
    ASSERT_TRUE(ended(1));
    std::vector<std::pair<double, bool>> shown;
    for (const TRecordedLauncherUpdate& update : desktop.LauncherUpdates()) {
        EXPECT_EQ(update.AppUri, "application://org.dorvane.Dorvane.desktop");
        shown.emplace_back(update.Progress.value_or(-1), update.Visible.value_or(false));
    }
    EXPECT_EQ(shown, (std::vector<std::pair<double, bool>>{{0, true}, {0.33, true}, {0.66, true}, {1, true}, {1, false}}));
    std::vector<TRecordedNotice> notices = desktop.Notices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].AppName, "Dorvane");
    EXPECT_EQ(notices[0].Summary, "Open finished");
    EXPECT_EQ(notices[0].Body, "3 documents opened, 0 failed.");
    EXPECT_EQ(notices[0].DesktopEntry, "org.dorvane.Dorvane");
    EXPECT_EQ(notices[0].AppIcon, "dorvane");
    EXPECT_EQ(states.size(), 1u) << "asked once, as the run ends";

    // Cancelled at the first failure: it says so, with what it counted.
    viewer.SetFile(Scratch.WriteFile("not-a-program", "text"));
    Documents.Clear();
    AddDocuments(2);
    Dialog->OnNote = [&](const std::string& line) {
        if (StartsWith(line, "paused:"))
            Later([&] { Button(*Dialog, "Button3").click(); });
    };
    Commands.Open();
    ASSERT_TRUE(ended(2));
    notices = desktop.Notices();
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_EQ(notices[1].Summary, "Open cancelled");
    EXPECT_EQ(notices[1].Body, "0 documents opened, 1 failed.");

    // Nothing left to open, or Dorvane in front (as the run's own dialog is):
    // no notice, while the launcher still hears of the run.
    viewer.SetFile(Recorder);
    Dialog->OnNote = nullptr;
    Documents.Clear();
    AddDocuments(2);
    Documents.GetItem(0)->SetResult(TDocumentEntryResult::Success);
    Documents.GetItem(1)->SetResult(TDocumentEntryResult::Success);
    Commands.Open();
    ASSERT_TRUE(ended(3));
    Documents.GetItem(1)->SetResult(TDocumentEntryResult::None);
    Commands.IsApplicationActive = qtActive;
    Commands.Open();
    ASSERT_TRUE(ended(4));
    EXPECT_EQ(Results(), "Success Success");
    EXPECT_EQ(desktop.Notices().size(), 2u);
    ASSERT_EQ(states.size(), 2u);
    EXPECT_EQ(states[0], Qt::ApplicationActive) << "the dialog is Dorvane's, and up as the run ends";
}

// However many documents a run has, the launcher hears at most a hundred steps
// of it, each once, and a run that ends early still takes its bar away.
TEST(OpenRunDesktop, TheLauncherHearsEachHundredthOnceAndTheBarAlwaysGoes)
{
    TPrivateBus privateBus;
    TDesktopRecorder desktop(privateBus.Address());
    std::shared_ptr<TDesktopBus> bus = TDesktopBus::ConnectSession();
    ASSERT_TRUE(bus);
    {
        TOpenRunDesktop run(bus, [] { return true; });
        run.Started();
        constexpr int count = 100000;
        for (int i = 1; i <= count; ++i)
            run.Progress(i, count);
        run.Finished(TOpenRunEnd::Completed, count, count, 0);
    }
    {
        TOpenRunDesktop stopped(bus, nullptr);
        stopped.Started();
        stopped.Progress(1, 3);
    }
    ASSERT_TRUE(WaitUntil([&] { return desktop.LauncherUpdates().size() == 105; }));
    const std::vector<TRecordedLauncherUpdate> updates = desktop.LauncherUpdates();
    for (int step = 0; step <= 100; ++step) {
        EXPECT_EQ(updates[step].Progress, step / 100.0) << step;
        EXPECT_EQ(updates[step].Visible, true) << step;
    }
    EXPECT_EQ(updates[101].Visible, false);
    EXPECT_EQ(updates[103].Progress, 0.33);
    EXPECT_EQ(updates[104].Visible, false);
    EXPECT_TRUE(desktop.Notices().empty()) << "Dorvane was active";

    EXPECT_EQ(OpenRunNotice(TOpenRunEnd::Completed, 1, 0).Body, "1 document opened, 0 failed.");
    EXPECT_EQ(LauncherProgressStep(2999999, 3000000), 99) << "no overflow on long runs";
}

} // namespace
