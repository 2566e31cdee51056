#include "Zel_shellexecute.h"

#include "PrivateXdg.h"
#include "ProcessTestSupport.h"
#include "TempDirectory.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

namespace {

// Association launches need GIO to see the private desktop from its first use.
testing::Environment* const Xdg = testing::AddGlobalTestEnvironment(new TPrivateXdgEnvironment);

using TArgs = TStringDynArray;

const std::string Paths[] = {
    "/tmp/with blanks/and  two.txt",
    "/tmp/it's \"quoted\".txt",
    "/tmp/back\\slash\\",
    "/tmp/$HOME/*/`id`;|&.txt",
    "/tmp/new\nline\ttab",
    "/tmp/\xff\xfe latin\xe9.txt",
    "-starts-with-dash",
};

// Reads the recorder's log for one run: waits for the record of the process.
TRecorderRecord SingleRecord(const std::string& log)
{
    EXPECT_TRUE(WaitUntil([&] { return !ReadRecorderLog(log).empty(); }));
    const std::vector<TRecorderRecord> records = ReadRecorderLog(log);
    EXPECT_EQ(records.size(), 1u);
    return records.empty() ? TRecorderRecord() : records.front();
}

class ShellTest : public testing::Test {
protected:
    void TearDown() override
    {
        // Every child ends up reaped, handles kept or not.
        EXPECT_TRUE(WaitUntil([] { return ZombieChildren().empty(); }));
    }

    TTempDirectory Scratch;
    const std::string Log = Scratch / "recorder.log";
    TScopedEnvironment Out{"RECORDER_OUT", Log};
    const std::string Recorder = HelperPath("recorder");
};

} // namespace

TEST(SplitCommandLine, DocumentPathIsAlwaysOneLiteralArgument)
{
    for (const std::string& path : Paths) {
        SCOPED_TRACE(path);
        EXPECT_EQ(SplitCommandLine("", path, ""), TArgs{path});
        EXPECT_EQ(SplitCommandLine("\"", path, "\""), TArgs{path});
        EXPECT_EQ(SplitCommandLine("'", path, "'"), TArgs{path});
        EXPECT_EQ(SplitCommandLine("--flag \"", path, "\""), (TArgs{"--flag", path}));
        EXPECT_EQ(SplitCommandLine("-a 'x y' --in=", path, " -b \"c d\""),
                  (TArgs{"-a", "x y", "--in=" + path, "-b", "c d"}));
        // Unterminated quotes run to the end and keep the path whole.
        EXPECT_EQ(SplitCommandLine("\"", path, ""), TArgs{path});
        EXPECT_EQ(SplitCommandLine("", path, "'"), TArgs{path});
        EXPECT_EQ(SplitCommandLine("'", path, " tail"), TArgs{path + " tail"});
    }
    // The literal's argument exists even when empty.
    EXPECT_EQ(SplitCommandLine("", "", ""), TArgs{""});
    EXPECT_EQ(SplitCommandLine("--x ", "", " y"), (TArgs{"--x", "", "y"}));
    // A backslash ending the prefix escapes the path's first byte, nothing more.
    EXPECT_EQ(SplitCommandLine("\\", " a", ""), TArgs{" a"});
    EXPECT_EQ(SplitCommandLine("\"\\", "$x", "\""), TArgs{"$x"});
    EXPECT_EQ(SplitCommandLine("\"\\", "ab", "\""), TArgs{"\\ab"});
    EXPECT_EQ(SplitCommandLine("\\", "\n", ""), TArgs{"\n"});
    // ... and with no path at all it stays itself, never escaping the suffix.
    EXPECT_EQ(SplitCommandLine("a\\", "", " b"), (TArgs{"a\\", "b"}));
    EXPECT_EQ(SplitCommandLine("\"\\", "", "\""), TArgs{"\\"});
}

TEST(SplitArguments, ShellQuotingWithoutExpansion)
{
    EXPECT_EQ(SplitArguments(""), TArgs{});
    EXPECT_EQ(SplitArguments(" \t\n "), TArgs{});
    EXPECT_EQ(SplitArguments("a  b\tc\nd"), (TArgs{"a", "b", "c", "d"}));
    EXPECT_EQ(SplitArguments("'a b' \"c d\" e\\ f"), (TArgs{"a b", "c d", "e f"}));
    EXPECT_EQ(SplitArguments("\"\" ''"), (TArgs{"", ""}));
    EXPECT_EQ(SplitArguments("x\"y z\"'w'"), TArgs{"xy zw"});
    // In double quotes only $ ` " \ are escaped; in single quotes nothing is.
    EXPECT_EQ(SplitArguments(R"("a\"b" "\$ \` \\ \q" 'x\y')"), (TArgs{"a\"b", "$ ` \\ \\q", "x\\y"}));
    EXPECT_EQ(SplitArguments("$HOME * ~ #c a;b|c"), (TArgs{"$HOME", "*", "~", "#c", "a;b|c"}));
    // Line continuations vanish; a trailing backslash stays.
    EXPECT_EQ(SplitArguments("a\\\nb \\\n c \"d\\\ne\""), (TArgs{"ab", "c", "de"}));
    EXPECT_EQ(SplitArguments("a\\"), TArgs{"a\\"});
    EXPECT_EQ(SplitArguments("\"a\\"), TArgs{"a\\"});
    EXPECT_EQ(SplitArguments("'abc def"), TArgs{"abc def"});
}

TEST_F(ShellTest, StartProgramPassesExactArgumentsAndWorkingDirectory)
{
    const std::string directory = Scratch.MakeDir("work dir 'x'");
    TArgs arguments = {"", " lead", "tab\there", "quote\"'"};
    for (const std::string& path : Paths)
        arguments.push_back(path);
    // A descriptor someone opened without O_CLOEXEC must not reach the child.
    const int stray = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(stray, 0);
    TShellStart started = StartProgram(Recorder, arguments, directory, 3, true);
    ::close(stray);
    ASSERT_EQ(started.Outcome, TShellStartOutcome::StartedWithHandle);
    ASSERT_TRUE(started.Process);
    EXPECT_TRUE(started.Process->Wait(-1));

    const TRecorderRecord record = SingleRecord(Log);
    TArgs expected = {Recorder};
    expected.insert(expected.end(), arguments.begin(), arguments.end());
    EXPECT_EQ(record.Arguments, expected);
    EXPECT_EQ(record.WorkingDirectory, directory);
    EXPECT_EQ(record.Descriptors, "");
    EXPECT_EQ(record.Pid, started.Process->Pid());
}

TEST_F(ShellTest, StartProgramRelativeFileAndInheritedDirectory)
{
    const std::string directory = Scratch.MakeDir("elsewhere");
    const std::string here = Scratch.MakeDir("here");
    const std::string copy = Scratch / "here/rec";
    std::filesystem::copy_file(Recorder, copy);
    const std::filesystem::path oldDirectory = std::filesystem::current_path();
    std::filesystem::current_path(here);
    // Relative to our directory, though the child runs in another one.
    TShellStart inOther = StartProgram("./rec", {}, directory, 1, true);
    TShellStart inOurs = StartProgram("rec", {"x"}, "", 1, true);
    std::filesystem::current_path(oldDirectory);
    ASSERT_TRUE(inOther.Process && inOurs.Process);
    EXPECT_TRUE(inOther.Process->Wait(-1));
    EXPECT_TRUE(inOurs.Process->Wait(-1));

    std::vector<TRecorderRecord> records = ReadRecorderLog(Log);
    ASSERT_EQ(records.size(), 2u);
    if (records[0].Pid != inOther.Process->Pid())
        std::swap(records[0], records[1]);
    EXPECT_EQ(records[0].WorkingDirectory, directory);
    EXPECT_EQ(records[0].Arguments, TArgs{copy});
    EXPECT_EQ(records[1].WorkingDirectory, here);
    EXPECT_EQ(records[1].Arguments, (TArgs{copy, "x"}));
}

TEST_F(ShellTest, StartProgramFailsBeforeStartingAnything)
{
    const std::string plain = Scratch.WriteFile("plain.sh", "#!/bin/sh\nexit 0\n");
    const std::string directory = Scratch.MakeDir("dir");
    EXPECT_THROW(StartProgram(Recorder, {}, Scratch / "missing", 1, true), EShellExecuteError);
    EXPECT_THROW(StartProgram(Recorder, {}, plain, 1, true), EShellExecuteError); // not a directory
    EXPECT_THROW(StartProgram(Scratch / "missing", {}, "", 1, true), EShellExecuteError);
    EXPECT_THROW(StartProgram(plain, {}, "", 1, true), EShellExecuteError);
    EXPECT_THROW(StartProgram(directory, {}, "", 1, false), EShellExecuteError);
    EXPECT_THROW(StartProgram("", {}, "", 1, false), EShellExecuteError);
    // Executable but not a program the kernel can run, and no shell behind it.
    const std::string garbage = Scratch.WriteFile("garbage", "neither ELF nor script\n");
    std::filesystem::permissions(garbage, std::filesystem::perms::owner_all);
    EXPECT_THROW(StartProgram(garbage, {}, "", 1, true), EShellExecuteError);
    EXPECT_TRUE(ReadRecorderLog(Log).empty());
}

TEST_F(ShellTest, WaitReturnsWhenTheProcessEndsAndTimesOutWhileItRuns)
{
    using namespace std::chrono;
    {
        TScopedEnvironment exitCode("RECORDER_EXIT", "7");
        TShellStart ended = StartProgram(Recorder, {}, "", 1, true);
        ASSERT_TRUE(ended.Process);
        EXPECT_TRUE(ended.Process->Wait(-1));
        EXPECT_TRUE(ended.Process->Ended());
        EXPECT_TRUE(WIFEXITED(ended.Process->ExitStatus()));
        EXPECT_EQ(WEXITSTATUS(ended.Process->ExitStatus()), 7);
        EXPECT_TRUE(ended.Process->Wait(0)); // at once, again
    }
    {
        // An ended process is seen by a poll, without any waiting.
        TShellStart quick = StartProgram(Recorder, {}, "", 1, true);
        ASSERT_TRUE(WaitUntil([&] { return !ReadRecorderLog(Log).empty() && quick.Process->Wait(0); }));
    }
    {
        TScopedEnvironment sleep("RECORDER_SLEEP_MS", "300");
        TShellStart shortRun = StartProgram(Recorder, {}, "", 1, true);
        const auto start = steady_clock::now();
        EXPECT_TRUE(shortRun.Process->Wait(20000));
        EXPECT_LT(steady_clock::now() - start, seconds(10)); // not the timeout
    }
    TScopedEnvironment sleep("RECORDER_SLEEP_MS", "60000");
    TShellStart running = StartProgram(Recorder, {}, "", 1, true);
    ASSERT_TRUE(running.Process);
    const pid_t pid = running.Process->Pid();
    EXPECT_FALSE(running.Process->Wait(0));
    const auto start = steady_clock::now();
    EXPECT_FALSE(running.Process->Wait(100));
    EXPECT_GE(steady_clock::now() - start, milliseconds(100));
    // Dropping the handle neither ends the process nor leaves it unreaped.
    running.Process.reset();
    EXPECT_EQ(::kill(pid, 0), 0);
    EXPECT_FALSE(IsReaped(pid));
    ::kill(pid, SIGKILL);
    EXPECT_TRUE(WaitUntil([&] { return IsReaped(pid); }));
}

TEST_F(ShellTest, AbandonedProcessesAreReaped)
{
    TShellStart first = StartProgram(Recorder, {"one"}, "", 1, false);
    TShellStart second = StartProgram(Recorder, {"two"}, "", 1, false);
    EXPECT_EQ(first.Outcome, TShellStartOutcome::StartedWithoutHandle);
    EXPECT_FALSE(first.Process);
    ASSERT_TRUE(WaitUntil([&] { return ReadRecorderLog(Log).size() == 2; }));
    for (const TRecorderRecord& record : ReadRecorderLog(Log))
        EXPECT_TRUE(WaitUntil([&] { return IsReaped(record.Pid); })) << record.Pid;
}

TEST_F(ShellTest, OpenDocumentLaunchesTheAssociatedApplicationAsOurChild)
{
    const std::string directory = Scratch.MakeDir("work \"dir\"");
    const std::string folder = Scratch.MakeDir("docs $x");
    for (const std::string& name : {std::string("a b") + TPrivateXdg::RecordedExtension,
                                    std::string("\xff 'q'") + TPrivateXdg::RecordedExtension}) {
        SCOPED_TRACE(name);
        ::unlink(Log.c_str());
        const std::string document = Scratch.WriteFile("docs $x/" + name, "data");
        const int stray = ::open("/dev/null", O_RDONLY);
        TShellStart started = OpenDocument(document, directory, 6, true);
        ::close(stray);
        ASSERT_EQ(started.Outcome, TShellStartOutcome::StartedWithHandle);
        EXPECT_TRUE(started.Process->Wait(20000));
        const TRecorderRecord record = SingleRecord(Log);
        EXPECT_EQ(record.Arguments, (TArgs{Recorder, document}));
        EXPECT_EQ(record.WorkingDirectory, directory);
        EXPECT_EQ(record.Descriptors, "");
        EXPECT_EQ(record.Pid, started.Process->Pid());
    }
    // A directory opens with the application for inode/directory.
    ::unlink(Log.c_str());
    TShellStart explored = OpenDocument(folder, "", 1, true);
    ASSERT_TRUE(explored.Process);
    EXPECT_TRUE(explored.Process->Wait(20000));
    EXPECT_EQ(SingleRecord(Log).Arguments, (TArgs{Recorder, folder}));
}

TEST_F(ShellTest, OpenDocumentFailures)
{
    const std::string document = Scratch.WriteFile(std::string("d") + TPrivateXdg::RecordedExtension);
    const std::string unknown = Scratch.WriteFile("d.unknownext", std::string("\0\1\2\3", 4));
    EXPECT_THROW(OpenDocument(document, Scratch / "missing", 1, true), EShellExecuteError);
    EXPECT_THROW(OpenDocument(Scratch / "missing.dorvanetest", "", 1, true), EShellExecuteError);
    try {
        OpenDocument(unknown, "", 1, true);
        ADD_FAILURE() << "started";
    } catch (const EShellExecuteError& e) {
        EXPECT_EQ(e.Message(), "No application is associated with the document.");
    }
    EXPECT_THROW(OpenDocument("", "", 1, false), EShellExecuteError);
    EXPECT_THROW(ExploreDirectory(document), EShellExecuteError);
    EXPECT_THROW(OpenFile(unknown), EShellExecuteError);
    EXPECT_TRUE(ReadRecorderLog(Log).empty());
}

TEST_F(ShellTest, ApplicationStartedWithoutPidGivesNoHandle)
{
    const std::string document = Scratch.WriteFile(std::string("d") + TPrivateXdg::RecordedExtension);
    pid_t withheld = 0;
    SetLaunchPidFilterForTesting([&](pid_t pid) {
        withheld = pid;
        return false;
    });
    TShellStart started;
    EXPECT_NO_THROW(started = OpenDocument(document, "", 1, true));
    SetLaunchPidFilterForTesting(nullptr);
    EXPECT_EQ(started.Outcome, TShellStartOutcome::StartedWithoutHandle);
    EXPECT_FALSE(started.Process);
    // The child is the filter's now: take it over and reap it.
    ASSERT_GT(withheld, 0);
    TAutoPointer<TProcessHandle> child = TProcessHandle::Open(withheld);
    ASSERT_TRUE(child);
    EXPECT_TRUE(child->Wait(20000));
    EXPECT_EQ(SingleRecord(Log).Pid, withheld);
}

TEST_F(ShellTest, ExploreAndOpenFileAreNotWaitedForButReaped)
{
    const std::string folder = Scratch.MakeDir("folder");
    const std::string document = Scratch.WriteFile(std::string("d") + TPrivateXdg::RecordedExtension);
    ExploreDirectory(folder);
    OpenFile(document);
    ASSERT_TRUE(WaitUntil([&] { return ReadRecorderLog(Log).size() == 2; }));
    for (const TRecorderRecord& record : ReadRecorderLog(Log)) {
        EXPECT_TRUE(record.Arguments == (TArgs{Recorder, folder}) || record.Arguments == (TArgs{Recorder, document}));
        EXPECT_TRUE(WaitUntil([&] { return IsReaped(record.Pid); })) << record.Pid;
    }
}

TEST_F(ShellTest, ApplicationIdsOfWhatStarts)
{
    // An association names its application just before it starts; what the
    // hook throws stops the start.
    const std::string document = Scratch.WriteFile(std::string("d") + TPrivateXdg::RecordedExtension);
    std::vector<std::string> ids;
    TShellStart started = OpenDocument(document, "", 1, true, [&](const std::string& id) {
        EXPECT_TRUE(ReadRecorderLog(Log).empty());
        ids.push_back(id);
    });
    ASSERT_TRUE(started.Process);
    EXPECT_TRUE(started.Process->Wait(20000));
    EXPECT_EQ(ids, std::vector<std::string>{"dorvane-recorder"});
    ::unlink(Log.c_str());
    EXPECT_THROW(OpenDocument(document, "", 1, true, [](const std::string&) { throw EAbort(); }), EAbort);
    EXPECT_TRUE(ReadRecorderLog(Log).empty());

    // A program file is known by the entries that run it, through links too.
    const std::string single = HelperPath("singleapp");
    const std::string link = Scratch / "link";
    std::filesystem::create_symlink(single, link);
    EXPECT_EQ(ProgramApplicationIds(single), TArgs{TPrivateXdg::SingleAppId});
    EXPECT_EQ(ProgramApplicationIds(link), TArgs{TPrivateXdg::SingleAppId});
    EXPECT_EQ(ProgramApplicationIds(Recorder), TArgs{"dorvane-recorder"});
    EXPECT_EQ(ProgramApplicationIds("/bin/true"), TArgs{});
    EXPECT_EQ(ProgramApplicationIds("/bin/sh"), TArgs{});
    EXPECT_EQ(ProgramApplicationIds(Scratch / "missing"), TArgs{});
    EXPECT_EQ(ProgramApplicationIds(""), TArgs{});
}
