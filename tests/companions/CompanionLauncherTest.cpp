#include "companions/CompanionLauncher.h"

#include "fakes/FakeClock.h"
#include "fakes/FakeInterfaceTable.h"
#include "fakes/MeterFakes.h"
#include "fakes/NoWindow.h"
#include "fakes/RecordingNotifier.h"
#include "fakes/TempDir.h"
#include "messages/UpdateChecker.h"
#include "platform/linux/IniRegistrySettings.h"
#include "platform/linux/SpawnProcessLauncher.h"
#include "platform/linux/SqliteDatabase.h"
#include "shell/Meter.h"
#include "shell/RegistryValues.h"

#include <QProcess>
#include <csignal>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>
#include <sys/wait.h>

namespace quantiro::companions {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char* kCompanionFiles[] = {"ZVstat.dll",    "dlmon.dll",    "ZVopcje.dll",
                                           "ZVlimiter.dll", "zvraport.dll", "ZVupdate.dll",
                                           "ZVmal.dll",     "ZVpoz.dll"};

// A program directory with a space in its name, holding the argument recorder under
// every companion's file name.
struct Family {
    Family() {
        fs::create_directories(programDirectory);
        fs::create_directories(argsDirectory);
        for (const char* file : kCompanionFiles) {
            fs::copy_file(QUANTIRO_RECORD_ARGS, programDirectory / file);
        }
        ::setenv("QUANTIRO_ARGS_DIR", argsDirectory.c_str(), 1);
        settings.SetKeyPath(std::string(values::kKeyPath));
        settings.SetRootKey(platform::kHkeyCurrentUser);
        launcher.Attach(state);
    }

    // The argument vectors recorded so far for `file`, waiting a little for them.
    std::vector<std::vector<std::string>> Started(const std::string& file,
                                                  std::size_t expected = 1) {
        std::vector<std::vector<std::string>> runs;
        for (auto waited = 0ms; waited < 10s; waited += 20ms) {
            runs.clear();
            for (const auto& entry : fs::directory_iterator(argsDirectory)) {
                const std::string name = entry.path().filename().string();
                if (name.rfind(file + ".", 0) == 0 && name.find(".tmp") == std::string::npos) {
                    std::ifstream in(entry.path());
                    std::vector<std::string> argv;
                    for (std::string line; std::getline(in, line);) {
                        argv.push_back(line);
                    }
                    runs.push_back(argv);
                }
            }
            if (runs.size() >= expected) {
                break;
            }
            std::this_thread::sleep_for(20ms);
        }
        return runs;
    }

    platform::ProcessRecord Record(const std::string& prefix) {
        return {settings.ReadLong(prefix + "hProcess", -1),
                settings.ReadLong(prefix + "hThread", -1),
                settings.ReadLong(prefix + "dwProcessId", -1),
                settings.ReadLong(prefix + "dwThreadId", -1)};
    }

    testing::TempDir dir;
    fs::path programDirectory = dir.Path() / "program dir";
    fs::path argsDirectory = dir.Path() / "args";
    platform::linux_impl::IniRegistrySettings settings{(dir.Path() / "config").string()};
    platform::linux_impl::SpawnProcessLauncher processes;
    sampling::SamplingState state;
    CompanionLauncher launcher{programDirectory.string(), processes, settings};
};

bool Alive(pid_t pid) {
    return ::kill(pid, 0) == 0;
}

TEST(CompanionLauncherTest, EveryCompanionStartsWithItsCommandLine) {
    struct Case {
        std::function<void(Family&)> start;
        const char* file;
        std::vector<std::string> arguments;
    };
    const Case cases[] = {
        {[](Family& f) { f.launcher.StatisticsStart(); }, "ZVstat.dll", {"1"}},
        {[](Family& f) { f.launcher.OptionsShow(); }, "ZVopcje.dll", {}},
        {[](Family& f) { f.launcher.RaportShow(); }, "zvraport.dll", {"1"}},
        {[](Family& f) { messages::UpdateChecker(f.launcher).CheckForUpdate(); },
         "ZVupdate.dll",
         {}},
        {[](Family& f) {
             f.state.totalReceived = 512;
             f.state.totalSent = 64;
             f.launcher.CheckLimitDLL(true);
         },
         "ZVlimiter.dll",
         {"/512", "/64", "/yes"}},
        {[](Family& f) { f.launcher.CheckLimitDLL(false); }, "ZVlimiter.dll", {"/0", "/0", "/no"}},
        {[](Family& f) {
             f.state.totalReceived = -5;
             f.state.totalSent = 4'194'304;
             f.launcher.CheckLimitDLL(false);
         },
         "ZVlimiter.dll",
         {"/-5", "/4194304", "/no"}},
        {[](Family& f) { f.launcher.VariantStart(1); }, "ZVmal.dll", {"/START"}},
        {[](Family& f) { f.launcher.VariantStart(2); }, "ZVpoz.dll", {"/START"}},
    };
    for (const Case& c : cases) {
        Family family;
        c.start(family);
        const auto runs = family.Started(c.file);
        ASSERT_EQ(runs.size(), 1u) << c.file;
        std::vector<std::string> expected{
            (family.programDirectory / c.file).string()}; // never split at the space
        expected.insert(expected.end(), c.arguments.begin(), c.arguments.end());
        EXPECT_EQ(runs[0], expected) << c.file;
    }
}

TEST(CompanionLauncherTest, TheMonitorAndTheVariantsLeaveTheirProcessRecords) {
    Family family;
    family.launcher.MonitorStart();
    ASSERT_EQ(family.Started("dlmon.dll").size(), 1u);
    const platform::ProcessRecord monitor = family.Record("Mon_");
    EXPECT_GT(monitor.hProcess, 2); // the pidfd the meter keeps
    EXPECT_EQ(monitor.hThread, 0);
    EXPECT_GT(monitor.dwProcessId, 0);
    EXPECT_EQ(monitor.dwThreadId, monitor.dwProcessId);
    EXPECT_TRUE(
        fs::exists(family.argsDirectory / ("dlmon.dll." + std::to_string(monitor.dwProcessId))));

    family.launcher.VariantStart(2);
    family.Started("ZVpoz.dll");
    EXPECT_GT(family.Record("QU_").dwProcessId, 0);

    // A companion that is missing starts nothing and records four zeros.
    fs::remove(family.programDirectory / "ZVmal.dll");
    family.launcher.VariantStart(1);
    const platform::ProcessRecord missing = family.Record("QU_");
    EXPECT_EQ(missing.hProcess, 0);
    EXPECT_EQ(missing.dwProcessId, 0);
    EXPECT_EQ(missing.dwThreadId, 0);
    family.launcher.MonitorStop();
}

TEST(CompanionLauncherTest, MonitorStopEndsTheMonitorAndNothingElse) {
    Family family;
    family.launcher.MonitorStart();
    family.Started("dlmon.dll");
    const pid_t monitor = family.Record("Mon_").dwProcessId;
    ASSERT_TRUE(Alive(monitor));

    // An unrelated process whose pid is written where the monitor's was.
    const pid_t unrelated = ::fork();
    if (unrelated == 0) {
        ::pause();
        ::_exit(0);
    }
    family.settings.WriteLong("Mon_dwProcessId", unrelated);
    family.settings.WriteLong("Mon_dwThreadId", unrelated);
    family.launcher.MonitorStop();
    std::this_thread::sleep_for(200ms);
    EXPECT_TRUE(Alive(unrelated));
    EXPECT_TRUE(Alive(monitor)); // its record no longer names it

    family.settings.WriteLong("Mon_dwProcessId", monitor);
    family.launcher.MonitorStop();
    bool ended = false;
    for (auto waited = 0ms; waited < 5s && !ended; waited += 20ms) {
        std::this_thread::sleep_for(20ms);
        family.processes.ReapExited();
        ended = !Alive(monitor);
    }
    EXPECT_TRUE(ended);
    EXPECT_TRUE(Alive(unrelated));
    ::kill(unrelated, SIGKILL);
    ::waitpid(unrelated, nullptr, 0);

    // Pids of 0 and below are never signalled.
    for (const std::int32_t pid : {0, -1}) {
        family.settings.WriteLong("Mon_dwProcessId", pid);
        family.launcher.MonitorStop();
    }
    EXPECT_TRUE(Alive(::getpid()));
}

TEST(CompanionLauncherTest, AHundredLimiterStartsLeaveNoZombie) {
    Family family;
    for (int i = 0; i < 100; ++i) {
        family.launcher.CheckLimitDLL(false);
    }
    ASSERT_EQ(family.Started("ZVlimiter.dll", 100).size(), 100u);
    for (auto waited = 0ms; waited < 10s && family.processes.LiveChildren() > 0; waited += 20ms) {
        std::this_thread::sleep_for(20ms);
        family.processes.ReapExited(); // as the tick does, never waiting
    }
    EXPECT_EQ(family.processes.LiveChildren(), 0u);
    // None of the hundred is left as a zombie (children of earlier tests may be).
    int zombies = 0;
    for (const auto& entry : fs::directory_iterator(family.argsDirectory)) {
        const std::string name = entry.path().filename().string();
        std::ifstream stat("/proc/" + name.substr(name.rfind('.') + 1) + "/stat");
        std::string pid, command, state;
        if (stat >> pid >> command >> state && state == "Z") {
            ++zombies;
        }
    }
    EXPECT_EQ(zombies, 0);
}

TEST(CompanionLauncherTest, QtsProcessClassStillGetsItsOwnChildren) {
    Family family;
    for (int i = 0; i < 5; ++i) {
        family.launcher.CheckLimitDLL(false);
    }
    QProcess process;
    process.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("exit 3")});
    for (int i = 0; i < 50; ++i) { // the meter's ticks go on meanwhile
        family.processes.ReapExited();
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_TRUE(process.waitForFinished(10'000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 3);
}

TEST(CompanionLauncherTest, StartUpStartsStatisticsMonitorAndLimiter) {
    for (const bool infoFile : {false, true}) {
        Family family;
        if (infoFile) {
            values::Write(family.settings, values::kInfoFile, true);
        }
        testing::FakeClock clock;
        testing::FakeInterfaceTable table;
        testing::FakeInstanceLock lock;
        testing::ScriptedDialog dialog;
        testing::RecordingNotifier notifier;
        testing::NoWindow window;
        testing::RecordingCompanions updates;
        platform::linux_impl::IniRegistrySettings settings{(family.dir.Path() / "config").string()};
        shell::Meter meter({settings, clock, table, lock, dialog, notifier, window, window,
                            family.launcher, family.launcher, updates, window, window,
                            family.programDirectory.string(), [](const std::string& path) {
                                return platform::linux_impl::OpenTrafficDatabase(path);
                            }});
        family.launcher.Attach(meter.State());
        ASSERT_EQ(meter.StartUp(""), shell::Meter::StartUpResult::Running);

        const std::string directory = family.programDirectory.string();
        EXPECT_EQ(family.Started("dlmon.dll"),
                  (std::vector<std::vector<std::string>>{{directory + "/dlmon.dll"}}));
        EXPECT_EQ(family.Started("ZVlimiter.dll"),
                  (std::vector<std::vector<std::string>>{
                      {directory + "/ZVlimiter.dll", "/0", "/0", "/yes"}}));
        const auto statistics = family.Started("ZVstat.dll", infoFile ? 0 : 1);
        EXPECT_EQ(statistics.size(), infoFile ? 0u : 1u) << infoFile;
        meter.Form_Unload(); // stops the monitor
    }
}

} // namespace
} // namespace quantiro::companions
