#include "fakes/TestMeter.h"
#include "platform/linux/ChildSpawn.h"

#include <fstream>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quantiro {
namespace {

using platform::Read;
using platform::Write;

constexpr auto kPrivate = std::filesystem::perms::owner_read | std::filesystem::perms::owner_write;

std::filesystem::perms FileMode(const std::filesystem::path& path) {
    return std::filesystem::status(path).permissions();
}

TEST(SettingsStoreTest, ValuesThatDoNotReadAsTheirTypeOrGarbageGiveTheDefault) {
    testing::TestSystem system;
    auto settings = system.OtherProgram();
    std::filesystem::create_directories(system.SettingsFile().parent_path());
    std::ofstream(system.SettingsFile()) << "[General]\nWasChanged=banana\nOnTop=FALSE\nHide=1\n"
                                            "Download=12abc\nUpload=99999999999\nLeftP=1, 2\n"
                                            "TopP=-250\nOkres=\n\xff\xfe=\x01\x02\n";
    EXPECT_FALSE(Read(*settings, values::kSettingsChanged));
    EXPECT_FALSE(Read(*settings, values::kOnTop));
    EXPECT_TRUE(Read(*settings, values::kStartHidden));
    EXPECT_EQ(Read(*settings, values::kDownloadForScale), 512);
    EXPECT_EQ(Read(*settings, values::kUploadForScale), 128);
    EXPECT_EQ(Read(*settings, values::kWindowLeft), 100);
    EXPECT_EQ(Read(*settings, values::kWindowTop), -250);
    EXPECT_EQ(Read(*settings, values::kMonthDay), 1);

    // A file of binary garbage reads as defaults and takes writes again.
    {
        std::ofstream file(system.SettingsFile(), std::ios::binary);
        for (int i = 0; i < 4096; ++i) {
            file.put(static_cast<char>((i * 7919 + 13) % 256));
        }
    }
    EXPECT_TRUE(Read(*settings, values::kOnTop));
    Write(*settings, values::kMonthDay, 20788);
    EXPECT_EQ(Read(*system.OtherProgram(), values::kMonthDay), 20788);
}

TEST(SettingsStoreTest, AnotherProcessSeesEveryWriteAtOnceAndNothingIsLost) {
    testing::TestSystem system;
    std::filesystem::create_directories(system.SettingsFile().parent_path());
    std::ofstream(system.SettingsFile()) << "[General]\nOkres=7\n";
    ::chmod(system.SettingsFile().c_str(), 0644);
    auto meter = system.OtherProgram();
    EXPECT_EQ(FileMode(system.SettingsFile()), kPrivate); // private, even when it existed

    EXPECT_EQ(Read(*meter, values::kMonthDay), 7); // read once, and kept
    auto other = system.OtherProgram();
    Write(*other, values::kSettingsChanged, true);
    Write(*other, values::kDownloadForScale, 2048);
    EXPECT_TRUE(Read(*meter, values::kSettingsChanged));
    EXPECT_EQ(Read(*meter, values::kDownloadForScale), 2048);

    // The meter's own write keeps the other program's value, and flips in quick
    // succession are each seen.
    Write(*meter, values::kSettingsChanged, false);
    EXPECT_EQ(Read(*system.OtherProgram(), values::kDownloadForScale), 2048);
    for (int i = 0; i < 50; ++i) {
        Write(*other, values::kMonthDay, i);
        ASSERT_EQ(Read(*meter, values::kMonthDay), i);
    }
    EXPECT_EQ(FileMode(system.SettingsFile()), kPrivate);
}

TEST(InstanceLockTest, AnotherProcessHoldsTheLockUntilItDies) {
    testing::TempDir runtime;
    int ready[2], release[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(release), 0);
    const pid_t holder = ::fork();
    if (holder == 0) {
        platform::linux_impl::FlockInstanceLock lock(runtime.Path());
        const char taken = lock.AnotherInstanceRunning() ? 'n' : 'y';
        [[maybe_unused]] auto n = ::write(ready[1], &taken, 1);
        char byte = 0;
        n = ::read(release[0], &byte, 1);
        ::_exit(0);
    }
    char taken = 0;
    ASSERT_EQ(::read(ready[0], &taken, 1), 1);
    ASSERT_EQ(taken, 'y');
    platform::linux_impl::FlockInstanceLock second(runtime.Path());
    EXPECT_TRUE(second.AnotherInstanceRunning());
    ::kill(holder, SIGKILL); // a crash lets go of it too
    ::waitpid(holder, nullptr, 0);
    EXPECT_FALSE(second.AnotherInstanceRunning());
    EXPECT_FALSE(second.AnotherInstanceRunning()); // now this process holds it
    for (const int fd : {ready[0], ready[1], release[0], release[1]}) {
        ::close(fd);
    }
}

// A shape that ends passes the lock to the program it starts: once it is gone the
// successor, which never asked for the lock, still holds it, so a plain start
// in between has no moment to take it.
TEST(InstanceLockTest, TheNextProgramHoldsThePassedLockAfterItsStarterEnds) {
    testing::TempDir runtime;
    int started[2];
    ASSERT_EQ(::pipe(started), 0);
    const pid_t starter = ::fork();
    if (starter == 0) {
        platform::linux_impl::FlockInstanceLock lock(runtime.Path());
        [[maybe_unused]] const bool other = lock.AnotherInstanceRunning();
        lock.PassToNextProgram();
        const pid_t next = platform::linux_impl::SpawnChild("/bin/sleep", {"3"});
        [[maybe_unused]] auto n = ::write(started[1], &next, sizeof next);
        ::_exit(0);
    }
    pid_t next = 0;
    ASSERT_EQ(::read(started[0], &next, sizeof next), static_cast<ssize_t>(sizeof next));
    ::waitpid(starter, nullptr, 0);
    ASSERT_GT(next, 0);
    platform::linux_impl::FlockInstanceLock plainStart(runtime.Path());
    EXPECT_TRUE(plainStart.AnotherInstanceRunning());
    ::kill(next, SIGKILL); // its end lets go of the lock, as the starter's did not
    bool taken = false;
    for (int i = 0; i < 300 && !taken; ++i) {
        taken = !plainStart.AnotherInstanceRunning();
        ::usleep(10'000);
    }
    EXPECT_TRUE(taken);
    ::close(started[0]);
    ::close(started[1]);
}

} // namespace
} // namespace quantiro
