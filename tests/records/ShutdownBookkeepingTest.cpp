#include "records/ShutdownBookkeeping.h"

#include "fakes/MeterFakes.h"
#include "fakes/RecordsFixture.h"
#include "fakes/TrafficTable.h"
#include "records/MonthlySum.h"

#include <gtest/gtest.h>

namespace quantiro::records {
namespace {

using namespace std::chrono_literals;
using testing::At;
using testing::TrafficRow;
using testing::TrafficTable;
using Rows = std::vector<TrafficRow>;

// The window and the tray, logging into the companions' log, so that the order of
// the exit path's steps shows in one list.
struct ExitWorld final : platform::WindowPlacement, platform::TrayIcon {
    double LeftTwips() override { return 1500.4; }
    double TopTwips() override { return 2999.5; }
    void Remove() override { companions.log.push_back("tray removed"); }
    testing::RecordingCompanions companions;
};

struct Exit {
    explicit Exit(bool shuttingDown, std::int32_t size = 0) {
        values::Write(meter.settings, values::kIsRunning, true);
        values::Write(meter.settings, values::kSize, size);
        meter.Start(At(2026, 12, 5, 10, 5));
        meter.state.SystemShuttingDown = shuttingDown;
    }
    void Run() {
        ShutdownBookkeeping({meter.settings, *meter.hours, *meter.records, meter.state, meter.clock,
                             world, world, world.companions})
            .Form_Unload();
    }
    testing::RecordsFixture meter;
    ExitWorld world;
};

TEST(ShutdownBookkeepingTest, AnExitSavesTheHourAndLeavesTheCorrection) {
    struct Case {
        bool shuttingDown;
        std::int32_t time, download, upload;
        TrafficRow stored;
        bool odejmij;
        std::int32_t odejmijTime, odejmijDownload, odejmijUpload;
        std::size_t readBackWaits;
    };
    const Case cases[] = {
        {false, 600'000, 300, 20, {"2026-12-05", 10, 600'000, 300, 20}, true, 600'000, 300, 20, 0},
        {true, 600'000, 300, 20, {"2026-12-05", 10, 600'000, 300, 20}, false, 0, 0, 0, 0},
        // Nothing sent: the record is not written and reads back 0, not 300.
        {false, 600'000, 300, 0, {"2026-12-05", 10, 0, 0, 0}, true, 600'000, 300, 0, 10},
    };
    for (const Case& c : cases) {
        Exit exit(c.shuttingDown);
        exit.meter.state.hourTime = c.time;
        exit.meter.state.hourDownload = c.download;
        exit.meter.state.hourUpload = c.upload;
        exit.Run();

        EXPECT_EQ(TrafficTable(exit.meter.DbPath()).Rows(), Rows{c.stored});
        auto& settings = exit.meter.settings;
        EXPECT_EQ(values::Read(settings, values::kOdejmij), c.odejmij);
        EXPECT_EQ(values::Read(settings, values::kOdejmijTime), c.odejmijTime);
        EXPECT_EQ(values::Read(settings, values::kOdejmijDownload), c.odejmijDownload);
        EXPECT_EQ(values::Read(settings, values::kOdejmijUpload), c.odejmijUpload);
        EXPECT_FALSE(values::Read(settings, values::kIsRunning));
        EXPECT_EQ(values::Read(settings, values::kLeftP), 1500);
        EXPECT_EQ(values::Read(settings, values::kTopP), 3000); // 2999.5 rounds to even

        std::vector<std::chrono::milliseconds> expectedSleeps(c.readBackWaits, 10ms);
        expectedSleeps.push_back(2000ms);
        EXPECT_EQ(exit.meter.clock.sleeps, expectedSleeps);
        EXPECT_EQ(exit.world.companions.log,
                  (std::vector<std::string>{"tray removed", "monitor stop"}));
    }
}

TEST(ShutdownBookkeepingTest, TheSizeSettingChoosesTheVariantStartedLast) {
    struct Case {
        std::int32_t size;
        std::vector<std::string> log;
    };
    const Case cases[] = {
        {0, {"tray removed", "monitor stop"}},
        {1, {"tray removed", "monitor stop", "variant 1"}},
        {2, {"tray removed", "monitor stop", "variant 2"}},
        {3, {"tray removed", "monitor stop"}},
    };
    for (const Case& c : cases) {
        Exit exit(false, c.size);
        exit.Run();
        EXPECT_EQ(exit.world.companions.log, c.log) << c.size;
    }
}

TEST(ShutdownBookkeepingTest, TheNextRunCountsTheMonthOnce) {
    Exit exit(false);
    exit.meter.state.hourTime = 600'000;
    exit.meter.state.hourDownload = 300;
    exit.meter.state.hourUpload = 20;
    exit.Run();
    exit.meter.Stop();

    // Restarted within the hour and without a reboot: the counters still hold the
    // 300 kB, so the month must not have them twice.
    exit.meter.Start(At(2026, 12, 5, 10, 30));
    MonthlySum(*exit.meter.records, exit.meter.settings, exit.meter.clock, exit.meter.state)
        .SumujMiesiac(false);
    EXPECT_EQ(exit.meter.state.monthBase, 0);
    EXPECT_EQ(exit.meter.state.hourDownload, 300);
    EXPECT_FALSE(values::Read(exit.meter.settings, values::kOdejmij));
}

} // namespace
} // namespace quantiro::records
