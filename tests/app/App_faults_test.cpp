// Faults from outside the program: a settings directory or file that cannot
// be written, a full disk, a kill in the middle of a save, and input far
// beyond the usual. Each time nothing is lost and the user reads the
// program's own message, never a crash or a hang.

#include "App_ProgressDialog.h"
#include "App_common.h"
#include "App_documents.h"
#include "App_mainform.h"
#include "App_open.h"
#include "App_programs.h"

#include "DocumentListRig.h"
#include "ModalDriver.h"
#include "OpenRig.h"
#include "PrivateXdg.h"
#include "ProcessTestSupport.h"
#include "ScriptedDialogs.h"
#include "TempDirectory.h"
#include "Zel_dialogs.h"
#include "Zel_inifiles.h"
#include "Zel_listviews.h"
#include "Zel_shelllibrary.h"
#include "TestGuards.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QCoreApplication>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// Type names and launches by association stay inside a private desktop.
testing::Environment* const Xdg = testing::AddGlobalTestEnvironment(new TPrivateXdgEnvironment);

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Prints one measurement in a form that is easy to grep from the test log.
void Measure(const std::string& what, double ms)
{
    std::printf("[ measure  ] %s: %.0f ms%s\n", what.c_str(), ms, Sanitized ? " (sanitized build)" : "");
    std::fflush(stdout);
}

// Runs f as a command of the main form would: whatever escapes goes to the
// application's error display. Returns the one error box's text, or "(none)"
// when f succeeded.
std::string ShownError(const std::function<void()>& f)
{
    TScriptedDialogs dialogs;
    dialogs.AnswerMessageBox(TModalResult::Ok);
    dialogs.ExpectAllAnswersUsed = false;
    try {
        f();
    } catch (...) {
        HandleCurrentException();
    }
    if (dialogs.MessageBoxes.empty())
        return "(none)";
    EXPECT_EQ(dialogs.MessageBoxes.size(), 1u);
    const TMessageBoxRequest& box = dialogs.MessageBoxes.front();
    EXPECT_EQ(box.Caption, "Dorvane");
    EXPECT_EQ(box.Type, TMsgDlgType::Error);
    EXPECT_EQ(box.Buttons, static_cast<TMsgDlgButtons>(mbOK));
    return box.Text;
}

// ---------------------------------------------------------------------------
// Settings

const char* const WriteError = "The program could not write the settings file.";
const char* const ReadError = "The program could not read the settings file.";

// A bulky section, so a save takes long enough to be interrupted, written so
// that any cut through it shows: every key's value carries the generation.
class TBallast : public TSettingsHandler {
public:
    static constexpr int Keys = 40000;
    int Generation = 0;
    // After LoadSettings: whether every key was there with this generation.
    bool Complete = false;

    static std::string Value(int key, int generation)
    {
        return std::to_string(generation) + ':' + std::string(90, static_cast<char>('a' + key % 26));
    }
    void LoadSettings(TMemIniFile& ini, const std::string& section) override
    {
        Generation = ini.ReadInteger(section, "Generation", -1);
        Complete = ini.ReadInteger(section, "Count", -1) == Keys;
        for (int i = 0; i < Keys && Complete; ++i)
            Complete = ini.ReadString(section, "K" + std::to_string(i), "") == Value(i, Generation);
    }
    void SaveSettings(TMemIniFile& ini, const std::string& section) override
    {
        ini.WriteInteger(section, "Generation", Generation);
        ini.WriteInteger(section, "Count", Keys);
        for (int i = 0; i < Keys; ++i)
            ini.WriteString(section, "K" + std::to_string(i), Value(i, Generation));
    }
};

// What a user would lose with a broken settings file: the program entries,
// registered as the main form registers them, and the ballast.
struct TSettingsState {
    TProgramEntriesModel Programs;
    TBallast Ballast;
    TSettingsHandlers Handlers;

    TSettingsState()
    {
        Handlers.Add("ProgramEntries", &Programs);
        Handlers.Add("Ballast", &Ballast);
    }
    void AddProgram(const std::string& name, const std::string& prefix)
    {
        auto entry = std::make_unique<TProgramEntry>();
        entry->SetDisplayName(name);
        entry->SetDocumentPrefix(prefix);
        entry->SetOpenInterval(250);
        entry->SetAutoPause(false);
        Programs.Add(std::move(entry));
    }
    std::vector<std::string> ProgramNames() const
    {
        std::vector<std::string> names;
        for (int i = 0; i < Programs.Count(); ++i)
            names.push_back(Programs.Items(i)->DisplayName() + "|" + Programs.Items(i)->DocumentPrefix());
        return names;
    }
};

// SettingsPath in a fresh directory that "nobody" owns, for one test.
class TSettingsPlace {
public:
    TSettingsPlace()
    {
        if (::geteuid() == 0) {
            EXPECT_EQ(::chown(FDir.Path().c_str(), Nobody, Nobody), 0);
        }
        SetSettingsPathForTesting(Path());
    }
    ~TSettingsPlace()
    {
        ::chmod(FDir.Path().c_str(), 0755);
        SetSettingsPathForTesting(std::string());
    }
    TSettingsPlace(const TSettingsPlace&) = delete;
    TSettingsPlace& operator=(const TSettingsPlace&) = delete;

    const std::string& Dir() const noexcept { return FDir.Path(); }
    std::string Path() const { return FDir / "Settings.ini"; }
    std::set<std::string> Names() const
    {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(FDir.Path()))
            names.insert(entry.path().filename().string());
        return names;
    }
    // The temporary files a save left behind.
    int Leftovers() const
    {
        int count = 0;
        for (const std::string& name : Names())
            count += name != "Settings.ini";
        return count;
    }

private:
    TTempDirectory FDir;
};

// The first start's settings: two programs and the ballast at generation 1,
// saved as the program saves them.
std::string SaveFirstSettings()
{
    TSettingsState state;
    state.AddProgram("Viewer", "--view ");
    state.AddProgram("Editor", "-e ");
    state.Ballast.Generation = 1;
    {
        TUnprivileged unprivileged;
        state.Handlers.Save();
    }
    return ReadFile(SettingsPath());
}

// What the next start reads: the programs and the ballast's generation, or
// the error box the load raised.
struct TNextStart {
    std::vector<std::string> Programs;
    int Generation = -1;
    bool Complete = false;
    std::string Error = "(none)";
};

TNextStart LoadNextStart()
{
    TNextStart next;
    TSettingsState state;
    next.Error = ShownError([&] {
        TUnprivileged unprivileged;
        state.Handlers.Load();
    });
    next.Programs = state.ProgramNames();
    next.Generation = state.Ballast.Generation;
    next.Complete = state.Ballast.Complete;
    return next;
}

const std::vector<std::string> FirstPrograms = {"Editor|-e ", "Viewer|--view "};

// A changed state that the faulty save tries to write.
void ChangeAndTryToSave(TSettingsState& state, int generation)
{
    state.AddProgram("Player", "");
    state.Ballast.Generation = generation;
}

} // namespace

TEST(App_faults, SettingsSurviveAReadOnlyDirectory)
{
    TSettingsPlace place;
    const std::string first = SaveFirstSettings();
    ASSERT_FALSE(first.empty());
    ASSERT_EQ(::chmod(place.Dir().c_str(), 0555), 0);

    TSettingsState state;
    ChangeAndTryToSave(state, 2);
    EXPECT_EQ(ShownError([&] {
                  TUnprivileged unprivileged;
                  state.Handlers.Save();
              }),
              WriteError);
    EXPECT_EQ(ReadFile(place.Path()), first);
    EXPECT_EQ(place.Names(), std::set<std::string>{"Settings.ini"});

    // The next start reads the file the failed save left alone, with no box.
    const TNextStart next = LoadNextStart();
    EXPECT_EQ(next.Error, "(none)");
    EXPECT_EQ(next.Programs, FirstPrograms);
    EXPECT_EQ(next.Generation, 1);
    EXPECT_TRUE(next.Complete);

    // Once the directory is writable again the user's retry goes through.
    ASSERT_EQ(::chmod(place.Dir().c_str(), 0755), 0);
    EXPECT_EQ(ShownError([&] {
                  TUnprivileged unprivileged;
                  state.Handlers.Save();
              }),
              "(none)");
    EXPECT_EQ(LoadNextStart().Generation, 2);
}

TEST(App_faults, SettingsSurviveAReadOnlyOrUnreadableFile)
{
    TSettingsPlace place;
    const std::string first = SaveFirstSettings();

    // A read-only file in a writable directory is replaced as a whole, as
    // every rename-based save does; it stays read-only, and nothing is lost.
    ASSERT_EQ(::chmod(place.Path().c_str(), 0444), 0);
    {
        TSettingsState state;
        state.Handlers.Load();
        ChangeAndTryToSave(state, 2);
        EXPECT_EQ(ShownError([&] {
                      TUnprivileged unprivileged;
                      state.Handlers.Save();
                  }),
                  "(none)");
    }
    TNextStart next = LoadNextStart();
    EXPECT_EQ(next.Error, "(none)");
    EXPECT_EQ(next.Programs, (std::vector<std::string>{"Editor|-e ", "Player|", "Viewer|--view "}));
    EXPECT_EQ(next.Generation, 2);
    EXPECT_TRUE(next.Complete);
    struct stat st {};
    ASSERT_EQ(::stat(place.Path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0444u);
    EXPECT_EQ(place.Names(), std::set<std::string>{"Settings.ini"});

    // A file the user may not even read: the start says so, and a save
    // (which reads the file first) says so too and leaves it as it was.
    const std::string second = ReadFile(place.Path());
    ASSERT_EQ(::chmod(place.Path().c_str(), 0), 0);
    next = LoadNextStart();
    EXPECT_EQ(next.Error, ReadError);
    EXPECT_TRUE(next.Programs.empty());
    TSettingsState state;
    ChangeAndTryToSave(state, 3);
    EXPECT_EQ(ShownError([&] {
                  TUnprivileged unprivileged;
                  state.Handlers.Save();
              }),
              ReadError);
    ASSERT_EQ(::chmod(place.Path().c_str(), 0644), 0);
    EXPECT_EQ(ReadFile(place.Path()), second);
    EXPECT_EQ(place.Names(), std::set<std::string>{"Settings.ini"});
}

TEST(App_faults, SettingsSurviveAFullDisk)
{
    TSettingsPlace place;
    const std::string first = SaveFirstSettings();

    // Every write of the save lands on /dev/full, which answers ENOSPC.
    SetIniFileWriteHookForTesting([](int fd) {
        const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
        ASSERT_GE(full, 0);
        ::dup3(full, fd, O_CLOEXEC);
        ::close(full);
    });
    TSettingsState state;
    ChangeAndTryToSave(state, 2);
    const std::string shown = ShownError([&] { state.Handlers.Save(); });
    SetIniFileWriteHookForTesting(nullptr);
    EXPECT_EQ(shown, WriteError);
    EXPECT_EQ(ReadFile(place.Path()), first);
    EXPECT_EQ(place.Names(), std::set<std::string>{"Settings.ini"}) << "the temporary file must go";

    const TNextStart next = LoadNextStart();
    EXPECT_EQ(next.Error, "(none)");
    EXPECT_EQ(next.Programs, FirstPrograms);
    EXPECT_EQ(next.Generation, 1);
    EXPECT_TRUE(next.Complete);
}

namespace {

// Waits up to timeoutMs for one byte on fd; false on timeout or end of file.
bool ReadSignal(int fd, int timeoutMs)
{
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) != 1)
        return false;
    char c = 0;
    return ::read(fd, &c, 1) == 1;
}

// Forks a child that runs body and never returns; the child's end of the
// pipe is toParent, the parent's comes back in fromChild.
pid_t ForkSaver(int& fromChild, const std::function<void(int toParent)>& body)
{
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return -1;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(ends[0]);
        try {
            body(ends[1]);
        } catch (...) {
        }
        ::_exit(1);
    }
    ::close(ends[1]);
    fromChild = ends[0];
    return child;
}

void KillAndReap(pid_t child)
{
    ASSERT_EQ(::kill(child, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "status " << status;
}

} // namespace

// A kill cannot be caught, so the save's own clean-up never runs: its hidden
// temporary file (".Settings.ini.<random>.tmp" beside the file) stays. It is
// harmless: nothing ever reads it, the next save picks a fresh name, and
// Settings.ini itself is only ever replaced whole by a rename.
TEST(App_faults, SettingsSurviveAKillInTheMiddleOfASave)
{
    TSettingsPlace place;
    const std::string first = SaveFirstSettings();

    {   // Killed while paused inside the write, half an image in the
        // temporary file; that half alone would empty the program list.
        TSettingsState state;
        state.Handlers.Load();
        ChangeAndTryToSave(state, 2);
        int fromChild = -1;
        const pid_t child = ForkSaver(fromChild, [&](int toParent) {
            SetIniFileWriteHookForTesting([toParent](int fd) {
                const std::string half = "[ProgramEntries]\r\nCount=0\r\n\r\n[Ballast]\r\nGeneration=2\r\n";
                (void)!::write(fd, half.data(), half.size());
                (void)!::write(toParent, "w", 1);
                for (;;)
                    ::pause();
            });
            state.Handlers.Save();
        });
        ASSERT_GT(child, 0);
        const bool paused = ReadSignal(fromChild, 30000);
        ::close(fromChild);
        KillAndReap(child);
        ASSERT_TRUE(paused) << "the child never reached the write";
        EXPECT_EQ(ReadFile(place.Path()), first);
        EXPECT_EQ(place.Leftovers(), 1);

        const TNextStart next = LoadNextStart();
        EXPECT_EQ(next.Error, "(none)");
        EXPECT_EQ(next.Programs, FirstPrograms);
        EXPECT_EQ(next.Generation, 1);
        EXPECT_TRUE(next.Complete);

        // The leftover does not stand in the way of the next save.
        EXPECT_EQ(ShownError([&] { state.Handlers.Save(); }), "(none)");
        EXPECT_EQ(LoadNextStart().Generation, 2);
    }

    // Saving in a loop and killed right after the n-th save is through: the
    // kill lands in the next save, wherever it happens to be, and the file
    // is always one whole image, of the n-th save or of the one after it.
    const int rounds = 4;
    for (int round = 1; round <= rounds; ++round) {
        TSettingsState state;
        state.Handlers.Load();
        const int base = 100 * round;
        int fromChild = -1;
        const pid_t child = ForkSaver(fromChild, [&](int toParent) {
            for (int generation = base + 1;; ++generation) {
                state.Ballast.Generation = generation;
                state.Handlers.Save();
                (void)!::write(toParent, "s", 1);
            }
        });
        ASSERT_GT(child, 0);
        bool saved = true;
        for (int n = 0; n < round && saved; ++n)
            saved = ReadSignal(fromChild, 60000);
        ::close(fromChild);
        KillAndReap(child);
        ASSERT_TRUE(saved) << "round " << round;

        const TNextStart next = LoadNextStart();
        EXPECT_EQ(next.Error, "(none)");
        EXPECT_EQ(next.Programs, (std::vector<std::string>{"Editor|-e ", "Player|", "Viewer|--view "}));
        EXPECT_TRUE(next.Complete) << "round " << round;
        EXPECT_GE(next.Generation, base + round) << "round " << round;
        EXPECT_LE(next.Generation, base + round + 1) << "round " << round;
    }
    EXPECT_LE(place.Leftovers(), 1 + rounds);
}

// ---------------------------------------------------------------------------
// Opening

namespace {

// The lines of a helper's output file.
std::vector<std::string> Lines(const std::string& path)
{
    std::vector<std::string> lines;
    std::ifstream in(path, std::ios::binary);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// The open units wired as the main form wires them; the viewer takes the
// document as its one argument.
class OpeningFaultsTest : public ::testing::Test, protected TOpenRig {
protected:
    TProgramEntry& AddViewer(const std::string& file) { return TOpenRig::AddViewer(file, "\"", "\""); }

    // Adds the files, made under Scratch, as documents.
    TStringDynArray AddDocuments(const std::vector<std::string>& names)
    {
        TStringDynArray paths;
        for (const std::string& name : names) {
            fs::create_directories(fs::path(Scratch / name).parent_path());
            paths.push_back(Scratch.WriteFile(name, "x"));
        }
        Documents.Add(CreateDocumentEntries(paths));
        return paths;
    }

    // Open as the main form runs it, with a watchdog that cancels a run the
    // test failed to end; returns the error box's text, or "(none)".
    std::string Open(int timeoutMs = 30000)
    {
        TRunWatchdog watchdog(timeoutMs);
        Dialog->Log.clear();
        return ShownError([this] { Commands.Open(); });
    }

    const std::string Out = Scratch / "out.log";
};

} // namespace

TEST_F(OpeningFaultsTest, ProgramFileDeletedBetweenTwoDocuments)
{
    const std::string viewer = Scratch / "viewer";
    fs::copy_file(HelperPath("recorder"), viewer);
    fs::permissions(viewer, fs::perms::owner_all);
    AddViewer(viewer);
    TScopedEnvironment out("RECORDER_OUT", Out);
    AddDocuments({"a.txt", "b.txt", "c.txt"});

    // Gone once the first document is done; each later one fails, shows it
    // and waits for the user, who resumes.
    Dialog->OnNote = [&](const std::string& line) {
        if (StartsWith(line, "progress: 1 | Done | Viewer | a.txt | 1/3"))
            fs::remove(viewer);
        if (StartsWith(line, "paused"))
            Later([this] { Button(*Dialog, "Button2").click(); });
    };
    EXPECT_EQ(Open(), "(none)");
    EXPECT_EQ(Results(), "Success Failure Failure");
    EXPECT_EQ(Dialog->Remarkable(), (std::vector<std::string>{
                                        "failure: 3 | Could not open the document | Viewer | b.txt | 1/3 | on off on",
                                        "reason: 3 | Could not open the document | Viewer | b.txt | 1/3 | on off on | reason: No such file or directory",
                                        "paused: 3 | Could not open the document | Viewer | b.txt | 1/3 | off on on | reason: No such file or directory",
                                        "resumed: 3 | Could not open the document | Viewer | b.txt | 1/3 | on off on | reason: No such file or directory",
                                        "failure: 3 | Could not open the document | Viewer | c.txt | 2/3 | on off on",
                                        "reason: 3 | Could not open the document | Viewer | c.txt | 2/3 | on off on | reason: No such file or directory",
                                        "paused: 3 | Could not open the document | Viewer | c.txt | 2/3 | off on on | reason: No such file or directory",
                                        "resumed: 3 | Could not open the document | Viewer | c.txt | 2/3 | on off on | reason: No such file or directory",
                                        "finish: 1 | Done | Viewer | c.txt | 3/3 | on off on",
                                    }));
    EXPECT_EQ(ReadRecorderLog(Out).size(), 1u);

    // Nothing is lost: with the program back, the next run opens just the
    // two that failed.
    fs::copy_file(HelperPath("recorder"), viewer);
    fs::permissions(viewer, fs::perms::owner_all);
    Dialog->OnNote = nullptr;
    EXPECT_EQ(Open(), "(none)");
    EXPECT_EQ(Results(), "Success Success Success");
    const std::vector<TRecorderRecord> records = ReadRecorderLog(Out);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[1].Arguments.back(), Scratch / "b.txt");
    EXPECT_EQ(records[2].Arguments.back(), Scratch / "c.txt");
}

TEST_F(OpeningFaultsTest, ProgramThatCrashes)
{
    // The program started: each document is opened, the crash is the
    // program's own business, the run goes on and the dead child is reaped.
    AddViewer(HelperPath("crasher"));
    TScopedEnvironment out("CRASHER_OUT", Out);
    const TStringDynArray paths = AddDocuments({"a.txt", "b.txt", "c.txt"});
    EXPECT_EQ(Open(), "(none)");
    EXPECT_EQ(Results(), "Success Success Success");
    EXPECT_EQ(Lines(Out), paths);
    EXPECT_EQ(Dialog->Remarkable(), (std::vector<std::string>{"finish: 1 | Done | Viewer | c.txt | 3/3 | on off on"}));
    EXPECT_TRUE(ZombieChildren().empty());
}

TEST_F(OpeningFaultsTest, ProgramThatClosesItsStandardStreams)
{
    // The wait is for the process, not for its streams: each document is
    // done only after its program has ended, well after it closed them.
    AddViewer(HelperPath("closer"));
    TScopedEnvironment out("CLOSER_OUT", Out);
    TScopedEnvironment sleep("CLOSER_SLEEP_MS", "300");
    const TStringDynArray paths = AddDocuments({"a.txt", "b.txt"});
    std::vector<std::size_t> endedWhenDone;
    Dialog->OnNote = [&](const std::string& line) {
        if (StartsWith(line, "status: 1 | Done"))
            endedWhenDone.push_back(Lines(Out).size());
    };
    EXPECT_EQ(Open(), "(none)");
    EXPECT_EQ(Results(), "Success Success");
    EXPECT_EQ(endedWhenDone, (std::vector<std::size_t>{1, 2}));
    EXPECT_EQ(Lines(Out), paths);
}

TEST_F(OpeningFaultsTest, ProgramThatNeverEnds)
{
    AddViewer(HelperPath("recorder"));
    TScopedEnvironment out("RECORDER_OUT", Out);
    TScopedEnvironment sleep("RECORDER_SLEEP_MS", "86400000");
    AddDocuments({"a.txt", "b.txt"});

    // Cancel while it is waited on ends the run within the wait's poll.
    std::chrono::steady_clock::time_point cancelled;
    Dialog->OnNote = [&](const std::string& line) {
        if (StartsWith(line, "status: 1 | Waiting for the termination of the process... | Viewer | a.txt"))
            Later([&] {
                cancelled = std::chrono::steady_clock::now();
                Button(*Dialog, "Button3").click();
            });
    };
    EXPECT_EQ(Open(), "(none)");
    const auto took = std::chrono::steady_clock::now() - cancelled;
    EXPECT_LT(took, std::chrono::seconds(5));
    EXPECT_FALSE(Dialog->isVisible());
    EXPECT_EQ(Results(), "Success None");

    // The process keeps running, and is reaped when it ends.
    EXPECT_TRUE(WaitUntil([&] { return ReadRecorderLog(Out).size() == 1; }));
    const std::vector<TRecorderRecord> records = ReadRecorderLog(Out);
    ASSERT_EQ(records.size(), 1u);
    const pid_t pid = records[0].Pid;
    // Whatever fails below, the process must not outlive the test.
    struct TEnd {
        pid_t Pid;
        ~TEnd() { ::kill(Pid, SIGKILL); }
    } end{pid};
    EXPECT_EQ(::kill(pid, 0), 0);
    EXPECT_FALSE(IsReaped(pid));
    EXPECT_TRUE(ZombieChildren().empty());
    ::kill(pid, SIGTERM);
    EXPECT_TRUE(WaitUntil([&] { return IsReaped(pid); }));
    EXPECT_TRUE(ZombieChildren().empty());
}

TEST_F(OpeningFaultsTest, WorkingDirectoryRemovedMidRun)
{
    TScopedEnvironment out("RECORDER_OUT", Out);
    TScopedEnvironment sleep("RECORDER_SLEEP_MS", "200");
    TProgramEntry& viewer = AddViewer(HelperPath("recorder"));
    const std::string work = Scratch.MakeDir("work");
    viewer.SetWorkingDirectory(work);
    AddDocuments({"a.txt", "b.txt", "c.txt"});

    // Removed while the first program runs in it (once it has noted where
    // it runs): that one is unaffected, the next ones cannot start there and
    // say so.
    Dialog->OnNote = [&](const std::string& line) {
        if (StartsWith(line, "status: 1 | Waiting for the termination of the process... | Viewer | a.txt")) {
            EXPECT_TRUE(WaitUntil([&] { return ReadRecorderLog(Out).size() == 1; }));
            fs::remove(work);
        }
        if (StartsWith(line, "paused"))
            Later([this] { Button(*Dialog, "Button2").click(); });
    };
    EXPECT_EQ(Open(), "(none)");
    EXPECT_EQ(Results(), "Success Failure Failure");
    EXPECT_EQ(Dialog->Remarkable().front(), "failure: 3 | Could not open the document | Viewer | b.txt | 1/3 | on off on");
    std::vector<TRecorderRecord> records = ReadRecorderLog(Out);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].WorkingDirectory, work);

    // The document's own directory, gone mid-run with its document.
    viewer.SetWorkingDirectory("");
    Documents.Clear();
    AddDocuments({"one/a.txt", "two/b.txt", "three/c.txt"});
    Dialog->OnNote = [&](const std::string& line) {
        if (StartsWith(line, "status: 1 | Waiting for the termination of the process... | Viewer | a.txt"))
            fs::remove_all(Scratch / "two");
        if (StartsWith(line, "paused"))
            Later([this] { Button(*Dialog, "Button2").click(); });
    };
    EXPECT_EQ(Open(), "(none)");
    EXPECT_EQ(Results(), "Success Failure Success");
    records = ReadRecorderLog(Out);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[2].WorkingDirectory, Scratch / "three");

    // With the directory back, the next run opens what failed.
    fs::create_directory(work);
    viewer.SetWorkingDirectory(work);
    Scratch.MakeDir("two");
    Scratch.WriteFile("two/b.txt", "x");
    Dialog->OnNote = nullptr;
    EXPECT_EQ(Open(), "(none)");
    EXPECT_EQ(Results(), "Success Success Success");
}

TEST_F(OpeningFaultsTest, DocumentsWithPathsOfFourThousandAndNinetySixBytes)
{
    // A file of pathLength bytes in nested directories of at most dirLength,
    // made relative to each other, as the kernel takes no whole path of
    // PATH_MAX bytes or more.
    auto makeFile = [&](std::size_t dirLength, std::size_t pathLength) {
        const std::string piece(100, 'd');
        std::string dir = Scratch.Path();
        int dirFd = ::open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        while (dir.size() + 1 + piece.size() <= dirLength) {
            dir += '/' + piece;
            ::mkdirat(dirFd, piece.c_str(), 0755);
            const int next = ::openat(dirFd, piece.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
            ::close(dirFd);
            dirFd = next;
        }
        const std::string name(pathLength - dir.size() - 1, 'f');
        ::close(::openat(dirFd, name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
        ::close(dirFd);
        return dir + '/' + name;
    };
    TScopedEnvironment out("RECORDER_OUT", Out);
    AddViewer(HelperPath("recorder"));
    // A path of 4,096 bytes in a directory the kernel still takes whole, and
    // one whose directory it cannot enter: the program says so and goes on.
    const std::string opens = makeFile(PATH_MAX - 200, PATH_MAX);
    const std::string deep = makeFile(PATH_MAX + 100, PATH_MAX + 300);
    Documents.Add(CreateDocumentEntries({opens, deep}));
    Dialog->OnNote = [&](const std::string& line) {
        if (StartsWith(line, "paused"))
            Later([this] { Button(*Dialog, "Button2").click(); });
    };
    EXPECT_EQ(Open(), "(none)");
    EXPECT_EQ(Results(), "Success Failure");
    const std::vector<std::string> remarkable = Dialog->Remarkable();
    ASSERT_FALSE(remarkable.empty());
    EXPECT_TRUE(StartsWith(remarkable.front(), "failure: 3 | Could not open the document | Viewer | ")) << remarkable.front();
    const std::vector<TRecorderRecord> records = ReadRecorderLog(Out);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_TRUE(records[0].Arguments.back() == opens);
    EXPECT_TRUE(records[0].WorkingDirectory == opens.substr(0, opens.rfind('/')));
}

// ---------------------------------------------------------------------------
// Input

namespace {

std::string CreateError(const std::string& path)
{
    return "The program could not create a document entry with the path \"" + path + "\".";
}

// The document list and its commands wired as the main form wires them.
class InputFaultsTest : public ::testing::Test, protected TDocumentListRig {
protected:
    InputFaultsTest() : TDocumentListRig(600, 300), Commands(Model, Selection) {}

    // Every path of the model, in order.
    TStringDynArray Paths() const
    {
        TStringDynArray paths;
        paths.reserve(static_cast<std::size_t>(Model.GetCount()));
        for (int i = 0; i < Model.GetCount(); ++i)
            paths.push_back(Model.GetItem(i)->Path());
        return paths;
    }

    // Paints the list as the user would see it, rows and all.
    void Paint()
    {
        View.viewport()->repaint();
        QApplication::processEvents();
    }

    static void PutText(const std::string& text)
    {
        QGuiApplication::clipboard()->setText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    }

    TDocumentEntriesCommands Commands;
};

// 100,000 real files, made once for the tests that need them, listed in a
// shuffled order so that "in order" means the caller's order.
class TManyFiles {
public:
    static constexpr int Count = 100000;

    static const TManyFiles& Get()
    {
        static const TManyFiles files;
        return files;
    }
    TStringDynArray Paths;

private:
    TManyFiles()
    {
        QElapsedTimer timer;
        timer.start();
        Paths.reserve(Count);
        for (int i = 0; i < Count; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "/doc %06d.txt", i);
            const std::string path = FDir.Path() + name;
            const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
            if (fd >= 0)
                ::close(fd);
            Paths.push_back(path);
        }
        std::mt19937 random(8);
        std::shuffle(Paths.begin(), Paths.end(), random);
        Measure("making 100,000 files", static_cast<double>(timer.elapsed()));
    }
    TTempDirectory FDir;
};

QMimeData* FileUrls(const TStringDynArray& paths)
{
    auto* data = new QMimeData;
    QList<QUrl> urls;
    urls.reserve(static_cast<qsizetype>(paths.size()));
    for (const std::string& path : paths)
        urls << QUrl::fromLocalFile(QFile::decodeName(QByteArray(path.data(), static_cast<qsizetype>(path.size()))));
    data->setUrls(urls);
    return data;
}

// One drag and drop the way a file manager sends it.
bool Drop(QWidget& target, const QMimeData& data)
{
    const Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction;
    QDragEnterEvent enter(QPoint(5, 5), actions, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&target, &enter);
    QDropEvent event(QPointF(5, 5), actions, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&target, &event);
    return event.isAccepted();
}

} // namespace

TEST_F(InputFaultsTest, DropAndPasteOfAHundredThousandPaths)
{
    const TManyFiles& files = TManyFiles::Get();
    const double limitMs = Sanitized ? 120000 : 30000;

    {   // Straight to the command, as the main form hands a drop on.
        QElapsedTimer timer;
        timer.start();
        EXPECT_EQ(ShownError([&] { Commands.AddDroppedFiles(files.Paths); }), "(none)");
        Measure("AddDroppedFiles of 100,000 paths", static_cast<double>(timer.elapsed()));
        EXPECT_LT(timer.elapsed(), limitMs);
        EXPECT_TRUE(Paths() == files.Paths) << "not all added, or not in order";
        EXPECT_EQ(Selection.GetSelectedCount(), TManyFiles::Count);
        Paint();
    }
    Model.Clear();
    {   // A real drop onto a window, through the drop watcher.
        QWidget target;
        TFileDropWatcher watcher(target);
        watcher.SetAccepting(true);
        watcher.OnDrop = [&](TFileDropWatcher&, TDroppedFiles& dropped, bool& handled) {
            handled = true;
            TStringDynArray paths;
            paths.reserve(static_cast<std::size_t>(dropped.Count()));
            for (int i = 0; i < dropped.Count(); ++i)
                paths.push_back(dropped.Paths(i));
            dropped.Finish();
            EXPECT_EQ(ShownError([&] { Commands.AddDroppedFiles(paths); }), "(none)");
        };
        const TAutoPointer<QMimeData> data(FileUrls(files.Paths));
        QElapsedTimer timer;
        timer.start();
        EXPECT_TRUE(Drop(target, *data));
        Measure("drop event of 100,000 files", static_cast<double>(timer.elapsed()));
        EXPECT_LT(timer.elapsed(), limitMs);
        EXPECT_TRUE(Paths() == files.Paths) << "not all added, or not in order";
    }
    Model.Clear();
    {   // A paste of the same paths, one a line, the last line unended.
        std::string text;
        for (const std::string& path : files.Paths)
            text += path + "\r\n";
        text.resize(text.size() - 2);
        PutText(text);
        ASSERT_TRUE(Commands.CanPaste());
        QElapsedTimer timer;
        timer.start();
        EXPECT_EQ(ShownError([&] { Commands.Paste(); }), "(none)");
        Measure("Paste of 100,000 paths", static_cast<double>(timer.elapsed()));
        EXPECT_LT(timer.elapsed(), limitMs);
        EXPECT_TRUE(Paths() == files.Paths) << "not all added, or not in order";
        Paint();
    }
    {   // One missing file among them: nothing of that paste is added, and
        // the message names the one bad line.
        TStringDynArray paths(files.Paths.begin(), files.Paths.begin() + 1000);
        paths[500] += ".missing";
        std::string text;
        for (const std::string& path : paths)
            text += path + "\n";
        PutText(text);
        EXPECT_EQ(ShownError([&] { Commands.Paste(); }), CreateError(paths[500]));
        EXPECT_EQ(Model.GetCount(), TManyFiles::Count);
    }
}

TEST_F(InputFaultsTest, TenMegabytesOfClipboardWithoutAPath)
{
    TTempDirectory dir;
    Commands.AddPaths({dir.WriteFile("kept.txt")});

    // Prose, one long line and binary-looking noise: none of it is a path.
    std::string prose;
    while (prose.size() < 10u << 20)
        prose += "Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod tempor.\n";
    std::string line(10u << 20, 'x');
    std::string noise;
    std::mt19937 random(10);
    while (noise.size() < 10u << 20) {
        const char c = static_cast<char>(random() % 95 + 32);
        noise += c == '/' ? '\t' : c;
    }
    for (const std::string* text : {&prose, &line, &noise}) {
        PutText(*text);
        ASSERT_TRUE(Commands.CanPaste());
        QElapsedTimer timer;
        timer.start();
        const std::string shown = ShownError([&] { Commands.Paste(); });
        Measure("Paste of 10 MB without a path", static_cast<double>(timer.elapsed()));
        EXPECT_LT(timer.elapsed(), Sanitized ? 60000 : 15000);
        EXPECT_EQ(shown.rfind("The program could not create a document entry with the path \"", 0), 0u) << shown.substr(0, 200);
        EXPECT_EQ(Model.GetCount(), 1) << "nothing of a refused paste may stay";
    }
}

TEST_F(InputFaultsTest, PathsOfFourThousandAndNinetySixBytes)
{
    // Nested directories until the file's absolute path has the length; made
    // relative to each other, as the kernel takes no whole path of PATH_MAX
    // bytes or more.
    TTempDirectory dir;
    auto makeFileOfLength = [&](std::size_t length) {
        const std::string piece(200, 'd');
        std::string path = dir.Path();
        int dirFd = ::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        while (path.size() + 1 + piece.size() + 1 + 10 < length) {
            path += '/' + piece;
            ::mkdirat(dirFd, piece.c_str(), 0755);
            const int next = ::openat(dirFd, piece.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
            ::close(dirFd);
            dirFd = next;
        }
        const std::string name(length - path.size() - 1, 'f');
        path += '/' + name;
        const int fd = ::openat(dirFd, name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        EXPECT_GE(fd, 0) << std::strerror(errno);
        ::close(fd);
        ::close(dirFd);
        EXPECT_EQ(path.size(), length);
        return path;
    };

    const std::string longest = makeFileOfLength(PATH_MAX - 1);
    const std::string beyond = makeFileOfLength(PATH_MAX);
    const std::string further = makeFileOfLength(PATH_MAX + 300);
    std::string shown = ShownError([&] { Commands.AddPaths({longest, beyond, further}); });
    EXPECT_EQ(shown, "(none)") << shown.substr(0, 200);
    EXPECT_TRUE(Paths() == (TStringDynArray{longest, beyond, further}));
    Paint();

    // The same through a paste.
    PutText(longest + "\n" + beyond + "\n" + further);
    shown = ShownError([&] { Commands.Paste(); });
    EXPECT_EQ(shown, "(none)") << shown.substr(0, 200);
    EXPECT_EQ(Model.GetCount(), 6);

    // A missing path that long is refused with the whole path named.
    const std::string missing = beyond.substr(0, beyond.size() - 1) + "g";
    EXPECT_TRUE(ShownError([&] { Commands.AddPaths({missing}); }) == CreateError(missing));
    EXPECT_EQ(Model.GetCount(), 6);
}

TEST_F(InputFaultsTest, FileNamesWithEveryByteLinuxAllows)
{
    TTempDirectory dir;
    // Every byte from 1 to 255 except "/", in one name of 254 bytes.
    std::string all;
    for (int c = 1; c <= 255; ++c)
        if (c != '/')
            all += static_cast<char>(c);
    const std::string allPath = dir.Path() + "/" + all;
    ASSERT_EQ(all.size(), 254u);
    const int fd = ::open(allPath.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    ::close(fd);

    // And one file for each byte alone, between two letters.
    std::vector<std::string> single;
    for (int c = 1; c <= 255; ++c) {
        if (c == '/')
            continue;
        single.push_back(dir.Path() + "/a" + static_cast<char>(c) + "b");
        const int f = ::open(single.back().c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        ASSERT_GE(f, 0) << c;
        ::close(f);
    }

    // A line break would split the path when it is copied, a byte that is
    // not UTF-8 cannot be shown, and "*" and "?" are wildcards: all are
    // refused with the path named; everything else is added as it stands.
    EXPECT_EQ(ShownError([&] { Commands.AddPaths({allPath}); }), CreateError(allPath));
    EXPECT_EQ(Model.GetCount(), 0);
    std::vector<int> refused;
    for (std::size_t i = 0; i < single.size(); ++i) {
        const std::string shown = ShownError([&] { Commands.AddDroppedFiles({single[i]}); });
        const unsigned char c = static_cast<unsigned char>(single[i][dir.Path().size() + 2]);
        if (shown != "(none)") {
            EXPECT_EQ(shown, CreateError(single[i]));
            refused.push_back(c);
        } else {
            EXPECT_EQ(Model.GetItem(Model.GetCount() - 1)->Path(), single[i]);
        }
    }
    std::vector<int> expected = {'\n', '\r', '*', '?'};
    for (int c = 0x80; c <= 0xFF; ++c)
        expected.push_back(c);
    EXPECT_EQ(refused, expected);
    EXPECT_EQ(Model.GetCount(), 254 - 4 - 128);
    Paint();

    // What was added survives a copy and a paste; tabs, quotes, "\" and the
    // rest stay inside their line.
    const int added = Model.GetCount();
    Commands.SelectAll();
    Commands.Copy();
    EXPECT_EQ(ShownError([&] { Commands.Paste(); }), "(none)");
    ASSERT_EQ(Model.GetCount(), 2 * added);
    for (int i = 0; i < added; ++i)
        EXPECT_EQ(Model.GetItem(added + i)->Path(), Model.GetItem(i)->Path());
}

TEST(App_faults, HugeAndOddMessagesReachTheRealBox)
{
    // A pasted line of 10 MB is named whole in the refusal. The box shows its
    // beginning and end, and comes up and goes at once; bytes that are not
    // UTF-8 and control characters do not break it.
    const std::string huge = "/" + std::string(10u << 20, 'x') + "END";
    const std::string odd = std::string("/tmp/a\x01\t\x7f\x80\xff\"b");
    for (const std::string* each : {&huge, &odd}) {
        const std::string& path = *each;
        QString shownText;
        TModalDriver driver([&](QWidget& modal) {
            auto* box = qobject_cast<QMessageBox*>(&modal);
            ASSERT_NE(box, nullptr);
            shownText = box->text();
            box->button(QMessageBox::Ok)->click();
        });
        QElapsedTimer timer;
        timer.start();
        try {
            TDocumentEntry entry(path);
        } catch (...) {
            HandleCurrentException();
        }
        Measure("error box for a path of " + std::to_string(path.size()) + " bytes",
                static_cast<double>(timer.elapsed()));
        EXPECT_EQ(driver.Runs(), 1);
        EXPECT_LT(timer.elapsed(), Sanitized ? 10000 : 3000);
        EXPECT_TRUE(shownText.startsWith("The program could not create a document entry with the path \"/"));
        EXPECT_LE(shownText.size(), 5001);
        if (each == &huge) {
            EXPECT_TRUE(shownText.endsWith(QString::fromUtf8("xxx\u2026xxxEND\".").right(7)));
            EXPECT_TRUE(shownText.contains(QChar(0x2026)));
        } else {
            EXPECT_EQ(shownText, QString::fromUtf8("The program could not create a document entry with the path "
                                                   "\"/tmp/a\x01\t\x7f\uFFFD\uFFFD\"b\"."))
                << shownText.toStdString();
        }
    }
}

// ---------------------------------------------------------------------------
// Through the main window, as the user meets these faults

// The icons live in the application's static library.
static void InitResources()
{
    Q_INIT_RESOURCE(App_resources);
}

namespace {

// The display names of the programs the form holds, in its order.
std::vector<std::string> ProgramNamesOf(const TAppMainForm& form)
{
    std::vector<std::string> names;
    for (int i = 0; i < form.ProgramEntries().Count(); ++i)
        names.push_back(form.ProgramEntries().Items(i)->DisplayName());
    return names;
}

void AddProgramTo(TAppMainForm& form, const std::string& name)
{
    auto entry = std::make_unique<TProgramEntry>();
    entry->SetDisplayName(name);
    form.ProgramEntries().Add(std::move(entry));
}

} // namespace

TEST(App_faults, MainWindowKeepsItsSettingsThroughFaults)
{
    InitResources();
    TSettingsPlace place;
    std::vector<std::string> saved;
    {   // The first start saves one program of the user's.
        TUnprivileged unprivileged;
        TAppMainForm form;
        form.show();
        AddProgramTo(form, "Viewer");
        saved = ProgramNamesOf(form);
        EXPECT_TRUE(form.close());
    }
    const std::string first = ReadFile(place.Path());
    ASSERT_FALSE(first.empty());

    // A read-only directory, then a full disk: each close reports the
    // program's message, keeps the window open and leaves the file alone;
    // the user's retry once the fault has gone goes through.
    for (int fault = 0; fault < 2; ++fault) {
        const std::string before = ReadFile(place.Path());
        TScriptedDialogs dialogs;
        TUnprivileged unprivileged;
        TAppMainForm form;
        form.show();
        EXPECT_EQ(ProgramNamesOf(form), saved) << "the next start reads the file left alone";
        AddProgramTo(form, "Player " + std::to_string(fault));
        if (fault == 0) {
            ::chmod(place.Dir().c_str(), 0555);
        } else {
            SetIniFileWriteHookForTesting([](int fd) {
                const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
                ::dup3(full, fd, O_CLOEXEC);
                ::close(full);
            });
        }
        dialogs.AnswerMessageBox(TModalResult::Ok);
        EXPECT_FALSE(form.close());
        ASSERT_EQ(dialogs.MessageBoxes.size(), 1u);
        EXPECT_EQ(dialogs.MessageBoxes[0].Text, WriteError);
        EXPECT_EQ(dialogs.MessageBoxes[0].Caption, "Dorvane");
        EXPECT_EQ(dialogs.MessageBoxes[0].Type, TMsgDlgType::Error);
        EXPECT_TRUE(form.isVisible());
        EXPECT_EQ(ReadFile(place.Path()), before);
        EXPECT_EQ(place.Names(), std::set<std::string>{"Settings.ini"});

        ::chmod(place.Dir().c_str(), 0755);
        SetIniFileWriteHookForTesting(nullptr);
        saved = ProgramNamesOf(form);
        EXPECT_TRUE(form.close());
        EXPECT_NE(ReadFile(place.Path()), before);
    }
    {   // The last retry's programs are what the next start finds.
        TUnprivileged unprivileged;
        TAppMainForm form;
        EXPECT_EQ(ProgramNamesOf(form), saved);
    }

    // A file the user may not read: the start says so and nothing opens.
    const std::string last = ReadFile(place.Path());
    ASSERT_EQ(::chmod(place.Path().c_str(), 0), 0);
    EXPECT_EQ(ShownError([] {
                  TUnprivileged unprivileged;
                  TAppMainForm form;
              }),
              ReadError);
    ::chmod(place.Path().c_str(), 0644);
    EXPECT_EQ(ReadFile(place.Path()), last);
}

TEST_F(InputFaultsTest, MainWindowTakesAHundredThousandDroppedFilesAndRefusesTenMegabytes)
{
    InitResources();
    const TManyFiles& files = TManyFiles::Get();
    TSettingsPlace place;
    TScriptedDialogs dialogs;
    TAppMainForm form;
    form.show();
    QApplication::processEvents();

    // A real drop onto the window.
    const TAutoPointer<QMimeData> data(FileUrls(files.Paths));
    QElapsedTimer timer;
    timer.start();
    EXPECT_TRUE(Drop(form, *data));
    Measure("drop of 100,000 files onto the main window", static_cast<double>(timer.elapsed()));
    EXPECT_LT(timer.elapsed(), Sanitized ? 120000 : 30000);
    const TDocumentEntriesModel& documents = form.DocumentEntries();
    ASSERT_EQ(documents.GetCount(), TManyFiles::Count);
    bool inOrder = true;
    for (int i = 0; i < documents.GetCount() && inOrder; ++i)
        inOrder = documents.GetItem(i)->Path() == files.Paths[static_cast<std::size_t>(i)];
    EXPECT_TRUE(inOrder);
    form.repaint();
    QApplication::processEvents();

    // Ctrl+V of 10 MB without a path: the program's message, nothing added.
    // Paste follows the clipboard without any other action in between.
    QGuiApplication::clipboard()->clear();
    QApplication::processEvents();
    EXPECT_FALSE(form.FindAction("Action35")->isEnabled());
    PutText(std::string(10u << 20, 'x'));
    QApplication::processEvents();
    EXPECT_TRUE(form.FindAction("Action35")->isEnabled());
    dialogs.AnswerMessageBox(TModalResult::Ok);
    timer.restart();
    form.ExecuteAction(form.FindAction("Action35"));
    Measure("Paste action with 10 MB without a path", static_cast<double>(timer.elapsed()));
    EXPECT_LT(timer.elapsed(), Sanitized ? 60000 : 15000);
    ASSERT_EQ(dialogs.MessageBoxes.size(), 1u);
    EXPECT_EQ(dialogs.MessageBoxes[0].Text.rfind("The program could not create a document entry with the path \"x", 0), 0u);
    EXPECT_EQ(dialogs.MessageBoxes[0].Type, TMsgDlgType::Error);
    EXPECT_EQ(documents.GetCount(), TManyFiles::Count);

    // Closing asks about the unopened documents as ever.
    dialogs.AnswerMessageBox(TModalResult::Yes);
    EXPECT_TRUE(form.close());
    EXPECT_EQ(documents.GetCount(), 0);
}
