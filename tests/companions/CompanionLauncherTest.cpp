#include "companions/CompanionLauncher.h"

#include "fakes/TestMeter.h"

#include <QProcess>
#include <csignal>
#include <thread>

#include <gtest/gtest.h>
#include <sys/wait.h>

namespace quantiro::companions {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A program directory with a space in its name, holding the argument recorder under
// every companion's file name.
struct Family {
    Family() {
        fs::create_directories(argsDirectory);
        for (const char* file : {"ZVstat.dll", "dlmon.dll", "ZVopcje.dll", "ZVlimiter.dll",
                                 "zvraport.dll", "ZVupdate.dll", "ZVmal.dll", "ZVpoz.dll"}) {
            fs::copy_file(QUANTIRO_RECORD_ARGS, system.programDirectory / file);
        }
        ::setenv("QUANTIRO_ARGS_DIR", argsDirectory.c_str(), 1);
    }

    // The argument vectors recorded so far for `file`, waiting a little for them.
    std::vector<std::vector<std::string>> Started(const std::string& file,
                                                  std::size_t expected = 1) {
        std::vector<std::vector<std::string>> runs;
        for (auto waited = 0ms; waited < 10s && runs.size() < expected; waited += 20ms) {
            std::this_thread::sleep_for(20ms);
            runs.clear();
            for (const auto& entry : fs::directory_iterator(argsDirectory)) {
                const std::string name = entry.path().filename().string();
                if (name.rfind(file + ".", 0) == 0 && name.find(".tmp") == std::string::npos) {
                    std::istringstream lines(testing::FileText(entry.path()));
                    runs.emplace_back();
                    for (std::string line; std::getline(lines, line);) {
                        runs.back().push_back(line);
                    }
                }
            }
        }
        return runs;
    }
    testing::TestSystem system;
    fs::path argsDirectory = system.dir.Path() / "args";
    CompanionLauncher launcher{system.programDirectory, system.launcher};
};

bool Alive(pid_t pid) {
    return ::kill(pid, 0) == 0;
}

TEST(CompanionLauncherTest, EveryCompanionStartsWithItsCommandLine) {
    struct Case {
        std::function<void(CompanionLauncher&)> start;
        const char* file;
        std::vector<std::string> arguments;
    };
    const Case cases[] = {
        {[](CompanionLauncher& l) { l.StartOptions(); }, "ZVopcje.dll", {}},
        {[](CompanionLauncher& l) { l.StartReports(); }, "zvraport.dll", {"1"}},
        {[](CompanionLauncher& l) { l.StartUpdater(); }, "ZVupdate.dll", {}},
        {[](CompanionLauncher& l) {
             l.StartLimitWatcher(false, {.received = -5, .sent = 4'194'304});
         },
         "ZVlimiter.dll",
         {"/-5", "/4194304", "/no"}},
        {[](CompanionLauncher& l) { l.StartWindowVariant(1); }, "ZVmal.dll", {"/START"}},
        {[](CompanionLauncher& l) { l.StartWindowVariant(2); }, "ZVpoz.dll", {"/START"}},
    };
    for (const Case& c : cases) {
        Family family;
        c.start(family.launcher);
        const auto runs = family.Started(c.file);
        ASSERT_EQ(runs.size(), 1u) << c.file;
        // The program is never split at the space in the directory's name.
        std::vector<std::string> expected{(family.system.programDirectory / c.file).string()};
        expected.insert(expected.end(), c.arguments.begin(), c.arguments.end());
        EXPECT_EQ(runs[0], expected) << c.file;
    }
}

TEST(CompanionLauncherTest, OnlyTheMonitorThisMeterStartedIsEverStopped) {
    Family family;
    const platform::StartedProcess started = family.launcher.StartMonitor();
    family.Started("dlmon.dll");
    const pid_t monitor = started.pid;
    ASSERT_TRUE(Alive(monitor));
    EXPECT_GT(started.pidfd, 2); // the pidfd kept

    // An unrelated process whose pid is named with the monitor's pidfd (a reused
    // pid), and pids of 0 and below: none is signalled.
    const pid_t unrelated = ::fork();
    if (unrelated == 0) {
        ::pause();
        ::_exit(0);
    }
    for (const std::int32_t pid : {unrelated, 0, -1}) {
        family.system.launcher.Terminate({.pid = pid, .pidfd = started.pidfd});
    }
    std::this_thread::sleep_for(200ms);
    EXPECT_TRUE(Alive(unrelated));
    EXPECT_TRUE(Alive(monitor));

    family.launcher.StopMonitor();
    for (auto waited = 0ms; waited < 5s && Alive(monitor); waited += 20ms) {
        std::this_thread::sleep_for(20ms);
        family.system.launcher.ReapExited();
    }
    EXPECT_FALSE(Alive(monitor));
    EXPECT_TRUE(Alive(unrelated));
    ::kill(unrelated, SIGKILL);
    ::waitpid(unrelated, nullptr, 0);

    // A companion that is missing starts nothing and answers zeros.
    fs::remove(family.system.programDirectory / "ZVmal.dll");
    const platform::StartedProcess missing = family.launcher.StartWindowVariant(1);
    EXPECT_EQ(missing.pidfd, 0);
    EXPECT_EQ(missing.pid, 0);
}

TEST(CompanionLauncherTest, ChildrenAreReapedWithoutStealingQtsAndStartWithDefaultSignals) {
    Family family;
    // The meter's own signal set-up, which no child may inherit.
    std::signal(SIGPIPE, SIG_IGN);
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTERM);
    sigprocmask(SIG_BLOCK, &blocked, nullptr);
    const pid_t monitor = family.launcher.StartMonitor().pid;
    family.Started("dlmon.dll");
    const std::string status = testing::FileText("/proc/" + std::to_string(monitor) + "/status");
    std::signal(SIGPIPE, SIG_DFL);
    sigprocmask(SIG_UNBLOCK, &blocked, nullptr);
    // The mask of one line of /proc/<pid>/status, as bits numbered from signal 1.
    auto mask = [&](const std::string& key) {
        const auto at = status.find(key + ":\t");
        return at == std::string::npos
                   ? ~0ULL
                   : std::stoull(status.substr(at + key.size() + 2), nullptr, 16);
    };
    EXPECT_EQ(mask("SigBlk"), 0u) << status;
    for (const int signal : {SIGPIPE, SIGINT, SIGTERM, SIGHUP}) {
        EXPECT_EQ(mask("SigIgn") & (1ULL << (signal - 1)), 0u) << signal << status;
    }
    family.launcher.StopMonitor();

    for (int i = 0; i < 50; ++i) {
        family.launcher.StartLimitWatcher(false, {});
    }
    QProcess process;
    process.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("exit 3")});
    ASSERT_EQ(family.Started("ZVlimiter.dll", 50).size(), 50u);
    for (auto waited = 0ms; waited < 10s && family.system.launcher.LiveChildren() > 0;
         waited += 20ms) {
        std::this_thread::sleep_for(20ms);
        family.system.launcher.ReapExited(); // as the tick does, never waiting
    }
    EXPECT_EQ(family.system.launcher.LiveChildren(), 0u);
    ASSERT_TRUE(process.waitForFinished(10'000));
    EXPECT_EQ(process.exitCode(), 3);
}

TEST(CompanionLauncherTest, StartUpStartsMonitorLimitWatcherAndStatisticsUnlessTurnedOff) {
    for (const bool noSummary : {false, true}) {
        Family family;
        platform::Write(family.system.settings, values::kNoStartSummary, noSummary);
        testing::RecordingFrontEnd ui;
        shell::Meter meter(family.system.Parts(), ui.Parts());
        ASSERT_EQ(meter.StartUp(""), shell::Meter::StartUpResult::Running);
        const std::string directory = family.system.programDirectory.string();
        EXPECT_EQ(family.Started("dlmon.dll"),
                  (std::vector<std::vector<std::string>>{{directory + "/dlmon.dll"}}));
        // The family finds the monitor's process in its record.
        EXPECT_GT(family.system.OtherProgram()->ReadLong("Mon_dwProcessId", 0), 0);
        EXPECT_EQ(family.Started("ZVlimiter.dll"),
                  (std::vector<std::vector<std::string>>{
                      {directory + "/ZVlimiter.dll", "/0", "/0", "/yes"}}));
        EXPECT_EQ(family.Started("ZVstat.dll", noSummary ? 0 : 1).size(), noSummary ? 0u : 1u);
        meter.RequestClose(shell::CloseReason::UserEnded); // stops the monitor
    }
}

} // namespace
} // namespace quantiro::companions
