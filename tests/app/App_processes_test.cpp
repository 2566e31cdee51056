#include "App_processes.h"

#include "PrivateXdg.h"
#include "ProcessTestSupport.h"
#include "TempDirectory.h"
#include "Zel_shellexecute.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <filesystem>

namespace {

testing::Environment* const Xdg = testing::AddGlobalTestEnvironment(new TPrivateXdgEnvironment);

using TArgs = std::vector<std::string>;

class ProcessesTest : public testing::Test {
protected:
    void TearDown() override { EXPECT_TRUE(WaitUntil([] { return ZombieChildren().empty(); })); }

    // Starts the creator's request, waits for the process and returns what it recorded.
    TRecorderRecord Run(TProcessCreator& creator)
    {
        std::filesystem::remove(Log);
        TAutoPointer<TProcess> process = creator.Start();
        EXPECT_TRUE(process && process->WaitFor(-1));
        const std::vector<TRecorderRecord> records = ReadRecorderLog(Log);
        EXPECT_EQ(records.size(), 1u);
        return records.empty() ? TRecorderRecord() : records.front();
    }

    // Why the creator's request could not start; "started" when it did.
    static std::string FailureReason(TProcessCreator& creator)
    {
        try {
            creator.Start();
        } catch (const EProcessCreateError& e) {
            return e.Reason();
        } catch (const EProcessError&) {
        }
        return "started";
    }

    TTempDirectory Scratch;
    const std::string Log = Scratch / "recorder.log";
    TScopedEnvironment Out{"RECORDER_OUT", Log};
    const std::string Recorder = HelperPath("recorder");
};

} // namespace

TEST_F(ProcessesTest, DocumentPathReachesTheProgramLiterally)
{
    const std::string directory = Scratch.MakeDir("docs");
    const std::string paths[] = {
        directory + "/two  blanks.txt", directory + "/it's \"both\".txt", directory + "/back\\slash",
        directory + "/$HOME*.txt",      directory + "/new\nline",         directory + "/\xff\xfe latin\xe9",
    };
    struct TCase {
        std::string Prefix, Suffix;
        TArgs Before, After;
    };
    const TCase cases[] = {
        {"", "", {}, {}},
        {"\"", "\"", {}, {}},
        {"--flag \"", "\"", {"--flag"}, {}},
        {"'", "'", {}, {}},
        {"-a 'x y' ", " \"-b c\" d", {"-a", "x y"}, {"-b c", "d"}},
    };
    TProcessCreator creator;
    creator.File = Recorder;
    creator.AbandonProcess = false;
    for (const TCase& c : cases) {
        for (const std::string& path : paths) {
            SCOPED_TRACE("prefix [" + c.Prefix + "] path [" + path + "]");
            creator.SetDocumentParameters(c.Prefix, path, c.Suffix);
            EXPECT_EQ(creator.Parameters(), c.Prefix + path + c.Suffix);
            EXPECT_EQ(creator.DocumentOffset(), c.Prefix.size());
            TArgs expected = {Recorder};
            expected.insert(expected.end(), c.Before.begin(), c.Before.end());
            expected.push_back(path);
            expected.insert(expected.end(), c.After.begin(), c.After.end());
            EXPECT_EQ(Run(creator).Arguments, expected);
        }
    }
    // Parameters without a document are split as they stand.
    creator.SetParameters("one 'two three' \"$x\"");
    EXPECT_EQ(creator.DocumentOffset(), std::string::npos);
    EXPECT_EQ(Run(creator).Arguments, (TArgs{Recorder, "one", "two three", "$x"}));
    creator.SetParameters("");
    EXPECT_EQ(Run(creator).Arguments, TArgs{Recorder});
}

TEST_F(ProcessesTest, WorkingDirectoryAndStartFailures)
{
    const std::string directory = Scratch.MakeDir("work 'dir'");
    TProcessCreator creator;
    EXPECT_EQ(creator.ShowCommand, 1);
    EXPECT_TRUE(creator.AbandonProcess);
    creator.File = Recorder;
    creator.AbandonProcess = false;
    creator.Directory = directory;
    EXPECT_EQ(Run(creator).WorkingDirectory, directory);
    creator.Directory.clear();
    EXPECT_EQ(Run(creator).WorkingDirectory, std::filesystem::current_path().string());

    // Nothing starts when the directory or the program is missing or no
    // program; each failure keeps the system's word for it.
    const auto reason = [&creator] { return FailureReason(creator); };
    std::filesystem::remove(Log);
    creator.Directory = Scratch / "missing";
    EXPECT_EQ(reason(), "No such file or directory");
    creator.Directory = Scratch.WriteFile("plain");
    EXPECT_EQ(reason(), "Not a directory");
    creator.Directory.clear();
    creator.File = Scratch / "missing";
    EXPECT_EQ(reason(), "No such file or directory");
    creator.File = Scratch.WriteFile("script.sh", "#!/bin/sh\n");
    EXPECT_EQ(reason(), "Permission denied");
    creator.File.clear();
    EXPECT_EQ(reason(), "No such file or directory");
    creator.ByAssociation = true;
    creator.File = Scratch.WriteFile("d.unknownext", std::string("\0\1\2\3", 4));
    EXPECT_EQ(reason(), "No application is associated with the document.");
    EXPECT_FALSE(std::filesystem::exists(Log));
    EXPECT_EQ(EProcessCreateError().Message(), "The program could not create the process.");
    EXPECT_EQ(EProcessWaitFail().Message(), "The program cannot determine whether the process has terminated.");
}

TEST_F(ProcessesTest, AbandonedStartKeepsRunning)
{
    TScopedEnvironment sleep("RECORDER_SLEEP_MS", "60000");
    TProcessCreator creator;
    creator.File = Recorder;
    creator.SetDocumentParameters("", "x", "");
    try {
        creator.Start();
        ADD_FAILURE() << "no EProcessAbandon";
    } catch (const EProcessAbandon& e) {
        EXPECT_EQ(e.Message(), "The program abandoned the process.");
    }
    ASSERT_TRUE(WaitUntil([&] { return ReadRecorderLog(Log).size() == 1; }));
    const pid_t pid = ReadRecorderLog(Log).front().Pid;
    EXPECT_EQ(::kill(pid, 0), 0);
    EXPECT_FALSE(IsReaped(pid));
    ::kill(pid, SIGKILL);
    EXPECT_TRUE(WaitUntil([&] { return IsReaped(pid); }));
}

TEST_F(ProcessesTest, WaitForTimeoutsAndDestroyingLeavesTheProcessRunning)
{
    using namespace std::chrono;
    TProcessCreator creator;
    creator.File = Recorder;
    creator.AbandonProcess = false;
    {
        TAutoPointer<TProcess> quick = creator.Start();
        EXPECT_TRUE(quick->WaitFor(-5)); // any negative: no limit
        EXPECT_TRUE(quick->WaitFor(0));  // ended: true at once, also as a poll
    }
    TScopedEnvironment sleep("RECORDER_SLEEP_MS", "60000");
    TAutoPointer<TProcess> running = creator.Start();
    ASSERT_TRUE(WaitUntil([&] { return ReadRecorderLog(Log).size() == 2; }));
    const pid_t pid = ReadRecorderLog(Log).back().Pid;
    EXPECT_FALSE(running->WaitFor(0));
    auto start = steady_clock::now();
    EXPECT_FALSE(running->WaitFor(100));
    EXPECT_GE(steady_clock::now() - start, milliseconds(100));
    // A long timeout returns the moment the process ends, not when it runs out.
    start = steady_clock::now();
    ::kill(pid, SIGTERM);
    EXPECT_TRUE(running->WaitFor(30000));
    EXPECT_LT(steady_clock::now() - start, seconds(10));

    TAutoPointer<TProcess> dropped = creator.Start();
    ASSERT_TRUE(WaitUntil([&] { return ReadRecorderLog(Log).size() == 3; }));
    const pid_t droppedPid = ReadRecorderLog(Log).back().Pid;
    dropped.reset();
    EXPECT_EQ(::kill(droppedPid, 0), 0);
    EXPECT_FALSE(IsReaped(droppedPid));
    ::kill(droppedPid, SIGKILL);
    EXPECT_TRUE(WaitUntil([&] { return IsReaped(droppedPid); }));
}

TEST_F(ProcessesTest, DocumentByAssociationIsNeverExecutedItself)
{
    const std::string directory = Scratch.MakeDir("work");
    // Executable and runnable, yet it must go to its associated application.
    const std::string document =
        Scratch.WriteFile(std::string("run me") + TPrivateXdg::RecordedExtension, "#!/bin/sh\nexit 0\n");
    std::filesystem::permissions(document, std::filesystem::perms::owner_all);
    TProcessCreator creator;
    creator.File = document;
    creator.ByAssociation = true;
    creator.SetParameters("--ignored");
    creator.Directory = directory;
    creator.AbandonProcess = false;
    const TRecorderRecord record = Run(creator);
    EXPECT_EQ(record.Arguments, (TArgs{Recorder, document}));
    EXPECT_EQ(record.WorkingDirectory, directory);

    creator.File = Scratch.WriteFile("d.unknownext", std::string("\0\1\2\3", 4));
    EXPECT_THROW(creator.Start(), EProcessCreateError);
    creator.File = document;
    creator.Directory = Scratch / "missing";
    EXPECT_THROW(creator.Start(), EProcessCreateError);
}

TEST_F(ProcessesTest, AssociationWithoutPidIsUnavailable)
{
    const std::string document = Scratch.WriteFile(std::string("d") + TPrivateXdg::RecordedExtension);
    pid_t withheld = 0;
    SetLaunchPidFilterForTesting([&](pid_t pid) {
        withheld = pid;
        return false;
    });
    TProcessCreator creator;
    creator.File = document;
    creator.ByAssociation = true;
    creator.AbandonProcess = false;
    try {
        creator.Start();
        ADD_FAILURE() << "no EProcessUnavailable";
    } catch (const EProcessUnavailable& e) {
        EXPECT_EQ(e.Message(), "The program could not get the handle of the process.");
    }
    SetLaunchPidFilterForTesting(nullptr);
    ASSERT_GT(withheld, 0);
    TAutoPointer<TProcessHandle> child = TProcessHandle::Open(withheld);
    ASSERT_TRUE(child);
    EXPECT_TRUE(child->Wait(20000));
}

TEST_F(ProcessesTest, AssociatedApplicationThatCannotRunIsAStartFailure)
{
    // The entry's program exists and is executable, but its interpreter is
    // missing: the launch must fail before anything starts, not as a child
    // that ends at once.
    const std::string document = Scratch.WriteFile(std::string("d") + TPrivateXdg::BrokenExtension);
    TProcessCreator creator;
    creator.File = document;
    creator.ByAssociation = true;
    for (const bool abandon : {false, true}) {
        creator.AbandonProcess = abandon;
        EXPECT_EQ(FailureReason(creator), "No such file or directory");
    }
}
