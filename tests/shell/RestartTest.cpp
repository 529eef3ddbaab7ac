// The meter's figures across kills and restarts within one life of the link: its
// month, the reports' month (the records) and the limit watcher's period agree,
// nothing counted twice, and a kill loses minutes, not the hour.
#include "fakes/ScratchMount.h"
#include "fakes/TestMeter.h"
#include "fakes/TrafficTable.h"
#include "limits/LimitCheck.h"
#include "platform/linux/IniFileSettings.h"
#include "shell/MenuRows.h"

#include <chrono>
#include <fstream>

#include <gtest/gtest.h>

namespace quantiro::shell {
namespace {

constexpr std::uint64_t kKb = 1024;

// One system whose link counters run on from run to run, as a link that stays up.
struct Machine {
    Machine() {
        // The link has carried 50 MB since boot before the meter ever starts.
        received = sent = 50'000 * kKb;
        system.table.SetCounters(received, sent);
    }
    // One run of the meter; `ticks` ticks of `kbPerTick` each way.
    struct Run {
        explicit Run(Machine& m)
            : machine(m) {
            EXPECT_EQ(meter.StartUp("/START"), Meter::StartUpResult::Running);
            Tick(0); // the first sample takes up the counters
        }
        void Tick(std::uint64_t kbPerTick) {
            machine.received += kbPerTick * kKb;
            machine.sent += kbPerTick * kKb;
            machine.system.table.SetCounters(machine.received, machine.sent);
            machine.system.clock.Advance(100);
            meter.OnTick();
        }
        Machine& machine;
        testing::RecordingFrontEnd ui;
        Meter meter{machine.system.Parts(), ui.Parts()};
    };
    // The month's downloads in the records, as the reports sum them.
    double RecordedMonth(const char* month) {
        double sum = 0;
        for (const auto& row : testing::TrafficTable(system.Database()).Rows()) {
            sum += row.data.starts_with(month) ? static_cast<double>(row.download) : 0;
        }
        return sum;
    }
    // The billing period's received kB as the limit watcher reckons it: the records
    // as it found them at the meter's start, plus the totals it is given.
    double WatcherPeriod(const Run& run, limits::WatchState& state, bool atStartUp) {
        const platform::LocalDateTime now = system.clock.Now();
        limits::LimitSettings settings{
            .limitMb = 1'000'000, .direction = limits::CountedDirection::Received, .enabled = true};
        limits::Check(state, settings, {{now.year, now.month, now.day}, 0.5},
                      run.meter.RunTotals().received, run.meter.RunTotals().sent, atStartUp,
                      [&](const limits::Period& period) {
                          char month[8];
                          std::snprintf(month, sizeof month, "%04d-%02d", period.first.year,
                                        period.first.month);
                          return limits::PeriodTraffic{.received = RecordedMonth(month)};
                      });
        return state.baseReceived + *state.lastReceived;
    }

    testing::TestSystem system;
    std::uint64_t received = 0, sent = 0;
};

TEST(RestartTest, TheThreeMonthFiguresAgreeAfterEveryStartAndNothingCountsTwice) {
    struct Step {
        const char* name;
        platform::LocalDateTime start;
        const char* month; // the records' month the figures are of
        int ticks;         // of 20 kB each way, then a close from the menu
    };
    const Step steps[] = {
        {"first start, the link up for a while", {2026, 12, 30, 22, 10, 0}, "2026-12", 3000},
        {"started again within the hour", {2026, 12, 30, 22, 20, 0}, "2026-12", 600},
        {"started again the next day", {2026, 12, 31, 23, 40, 0}, "2026-12", 300},
        {"started again in the new month", {2027, 1, 1, 0, 5, 0}, "2027-01", 300},
    };
    Machine machine;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        machine.system.clock.SetNow(step.start);
        {
            Machine::Run run(machine);
            const double recorded = machine.RecordedMonth(step.month);
            EXPECT_EQ(run.ui.receivedAmount, 0); // counted from the start
            // The previous exit's correction is cleared, never taken off the month.
            EXPECT_EQ(run.ui.month, recorded);
            EXPECT_FALSE(
                platform::Read(*machine.system.OtherProgram(), values::kCorrectionPending));
            limits::WatchState watcher;
            EXPECT_EQ(machine.WatcherPeriod(run, watcher, true), recorded);
            for (int i = 0; i < step.ticks; ++i) {
                run.Tick(20);
            }
            EXPECT_EQ(run.ui.month, recorded + 20.0 * step.ticks);
            EXPECT_EQ(machine.WatcherPeriod(run, watcher, false), run.ui.month);
            run.meter.RequestClose(CloseReason::UserEnded);
            // All of it is in the records, once.
            EXPECT_EQ(machine.RecordedMonth(step.month), run.ui.month);
        }
    }
}

TEST(RestartTest, AKillSixMinutesIntoAnHourLosesAtMostFiveMinutes) {
    for (const bool exact : {false, true}) {
        SCOPED_TRACE(exact ? "exact counting" : "the usual counting");
        Machine machine;
        platform::Write(*machine.system.OtherProgram(), values::kExactCounting, exact);
        machine.system.clock.SetNow({2026, 12, 5, 10, 0, 0});
        // Killed: the run ends without its exit steps (its destruction runs none),
        // and its record is read as the next start would find it.
        Machine::Run run(machine);
        constexpr int kSixMinutes = 3600;
        for (int i = 0; i < kSixMinutes; ++i) {
            run.Tick(2);
        }
        const double recorded = machine.RecordedMonth("2026-12");
        EXPECT_GE(recorded, 2.0 * kSixMinutes / 6 * 5 - 2) << "the first five minutes";
        EXPECT_LE(recorded, 2.0 * kSixMinutes);
    }
}

// Another program holding the database's write lock while the hour changes: the
// tick fails at once rather than waiting, and the hour is saved once it lets go.
TEST(RestartTest, ALockedDatabaseHoldsNoTickUpAndLosesNothing) {
    Machine machine;
    machine.system.clock.SetNow({2026, 12, 5, 10, 59, 0});
    Machine::Run run(machine);
    for (int i = 0; i < 10; ++i) {
        run.Tick(20);
    }
    testing::TrafficTable other(machine.system.Database().string());
    other.Exec("BEGIN IMMEDIATE");
    machine.system.clock.SetNow({2026, 12, 5, 11, 0, 0});
    const auto started = std::chrono::steady_clock::now();
    run.Tick(20); // the first tick of the new hour tries to close the old one
    const auto took = std::chrono::steady_clock::now() - started;
    // Waiting out the lock took two seconds before; a loaded machine takes far less.
    EXPECT_LT(took, std::chrono::milliseconds(1500));
    for (int i = 0; i < 10; ++i) {
        run.Tick(20);
    }
    other.Exec("COMMIT");
    machine.system.clock.Advance(11'000); // past the wait before the next try
    run.Tick(20);                         // after a gap of 11 s: its kilobytes still count
    run.Tick(20);                         // and the hour changes now
    EXPECT_EQ(testing::TrafficTable(machine.system.Database().string()).Rows().size(), 2u);
    run.meter.RequestClose(CloseReason::UserEnded);
    EXPECT_EQ(machine.RecordedMonth("2026-12"), 20.0 * 23);
}

// The settings file on a small disk that fills and empties while the user toggles
// "Zawsze na wierzchu" and another program asks for a reload.
TEST(RestartTest, AFullSettingsDiskNeverEndsTheMeterAndTheSettingLandsOnceThereIsRoom) {
    if (!testing::ScratchMount::Why().empty()) {
        GTEST_SKIP() << testing::ScratchMount::Why();
    }
    Machine machine;
    testing::ScratchMount disk(machine.system.configHome);
    ASSERT_TRUE(disk.Mounted());
    machine.system.clock.SetNow({2026, 12, 5, 10, 0, 0});
    Machine::Run run(machine);
    platform::Write(*machine.system.OtherProgram(), values::kSettingsChanged, true);
    const std::filesystem::path filler = machine.system.configHome / "filler";
    {
        std::ofstream fill(filler, std::ios::binary);
        const std::string block(4096, 'x');
        while (fill.write(block.data(), block.size()) && fill.flush()) {
        }
    }
    {
        std::ofstream probe(machine.system.configHome / "probe");
        probe << std::string(10000, 'y');
        probe.flush();
        ASSERT_FALSE(probe.good()) << "the disk is not full";
    }
    const bool onTopBefore = run.ui.OnTopChosen();
    for (int i = 0; i < 50; ++i) {
        if (i == 10 || i == 20) {
            run.meter.RunMenuCommand(MenuCommand::OnTop);
        }
        run.Tick(20);
    }
    EXPECT_FALSE(run.meter.Finished());
    EXPECT_EQ(run.ui.messages.size(), 1u) << "told once";
    EXPECT_EQ(run.meter.HourAmounts().download, 20 * 50); // it counted throughout

    // Room again: what the reload could not clear lands within seconds, with no
    // other write to carry it, and the exit, which writes without fault, tells nothing.
    std::filesystem::remove(filler);
    for (int i = 0; i < 100; ++i) {
        run.Tick(20);
    }
    // Read from the disk as another process reads it: a store in this process
    // would share Qt's unsaved values with the meter's.
    platform::linux_impl::IniFileSettings onDisk(machine.system.SettingsFile().string());
    EXPECT_FALSE(platform::Read(onDisk, values::kSettingsChanged));
    run.meter.RunMenuCommand(MenuCommand::OnTop);
    run.Tick(20);
    EXPECT_EQ(platform::Read(*machine.system.OtherProgram(), values::kOnTop), !onTopBefore);
    run.meter.RequestClose(CloseReason::UserEnded);
    EXPECT_EQ(run.ui.messages.size(), 1u) << run.ui.messages.back();
    EXPECT_EQ(machine.RecordedMonth("2026-12"), 20.0 * 151);
}

} // namespace
} // namespace quantiro::shell
