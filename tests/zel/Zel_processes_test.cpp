#include "Zel_processes.h"

#include "ProcessTestSupport.h"
#include "Zel_shellexecute.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <thread>

TEST(Processes, AnEndedProcessIsKnownByItsZombieAndItsEarlierCopyByTheSnapshot)
{
    const std::string recorder = HelperPath("recorder");
    std::optional<TScopedEnvironment> sleep(std::in_place, "RECORDER_SLEEP_MS", "60000");
    TShellStart earlier = StartProgram(recorder, {}, "", 1, true);
    ASSERT_TRUE(earlier.Process);
    const TProcessSnapshot snapshot = TProcessSnapshot::Take();
    // Starts are counted in clock ticks: the next one begins a tick later.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    sleep.emplace("RECORDER_SLEEP_MS", "0");
    TShellStart later = StartProgram(recorder, {}, "", 1, true);
    TProcessInfo zombie;
    later.Process->BeforeReap = [&](pid_t pid) { EXPECT_TRUE(ReadProcessInfo(pid, zombie)); };
    ASSERT_TRUE(later.Process->Wait(10000));

    EXPECT_EQ(zombie.Pid, later.Process->Pid());
    EXPECT_EQ(zombie.State, 'Z');
    EXPECT_EQ(zombie.Name, std::filesystem::path(recorder).filename().string());
    EXPECT_EQ(zombie.ParentPid, ::getpid());
    EXPECT_LT(ProcessAgeMs(zombie), 10000);
    EXPECT_TRUE(ExitedWithSuccess(later.Process->ExitStatus()));
    EXPECT_EQ(snapshot.EarlierCopy(zombie), earlier.Process->Pid());

    // Neither itself, nor another name, nor a copy that has ended since.
    TProcessInfo running;
    ASSERT_TRUE(ReadProcessInfo(earlier.Process->Pid(), running));
    EXPECT_EQ(snapshot.EarlierCopy(running), 0);
    TProcessInfo renamed = zombie;
    renamed.Name = "not-a-recorder";
    EXPECT_EQ(snapshot.EarlierCopy(renamed), 0);
    ::kill(earlier.Process->Pid(), SIGKILL);
    ASSERT_TRUE(earlier.Process->Wait(10000));
    EXPECT_FALSE(ExitedWithSuccess(earlier.Process->ExitStatus()));
    EXPECT_EQ(snapshot.EarlierCopy(zombie), 0);
    EXPECT_FALSE(ReadProcessInfo(zombie.Pid, running));
}
