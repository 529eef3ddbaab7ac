#include "sampling/Sampler.h"

#include "fakes/TestMeter.h"
#include "platform/linux/SqliteDatabase.h"
#include "records/HourlyRecords.h"
#include "shell/MeterSettings.h"

#include <algorithm>

#include <gtest/gtest.h>

namespace quantiro::sampling {
namespace {

constexpr std::uint64_t kKb = 1024;
constexpr std::uint64_t k2To32 = std::uint64_t{1} << 32;

// The hour's amounts are the real records' (never opened: nothing is written); the
// hour change and the periodic work are counted.
struct Hooks final : HourRecords, SettingsReload, UpdateCheck, LimitWatcher {
    void Count(double downloadKb, double uploadKb, std::uint32_t onlineMs) override {
        hours->Count(downloadKb, uploadKb, onlineMs);
    }
    void Reject(double downloadKb, double uploadKb) override {
        hours->Reject(downloadKb, uploadKb);
    }
    Totals Withheld() const override { return {}; }
    bool CountsEveryKilobyte() const override { return hours->CountsEveryKilobyte(); }
    bool HourChanged() override { return hourChanged; }
    void StartNextHour() override { ++nextHours; }
    bool ChangedByFamily() override { return settings->ChangedByFamily(); }
    void ReloadSettings() override {
        ++reloads;
        settings->ClearChanged();
    }
    bool LimitWarningsSilenced() override { return settings->LimitWarningsSilenced(); }
    void RunUpdateCheck() override { ++updateChecks; }
    void StartLimitWatcher(bool, const Totals&) override { ++limitWatcherStarts; }
    shell::MeterSettingsFile* settings = nullptr;
    records::HourlyRecords* hours = nullptr;
    bool hourChanged = false;
    int nextHours = 0, reloads = 0, updateChecks = 0, limitWatcherStarts = 0;
};

// The sampler with the real reader over counters the test sets, real settings and
// a display that records.
struct Rig {
    Rig() {
        hooks.settings = &settingsFile;
        hooks.hours = &hours;
    }
    // One tick `elapsedMs` after the previous one, the counters moved by the deltas (kB).
    void Tick(std::int64_t receivedKb, std::int64_t sentKb, std::uint32_t elapsedMs = 100) {
        received += receivedKb * static_cast<std::int64_t>(kKb);
        sent += sentKb * static_cast<std::int64_t>(kKb);
        system.table.SetCounters(static_cast<std::uint64_t>(received),
                                 static_cast<std::uint64_t>(sent));
        system.clock.Advance(elapsedMs);
        sampler.SampleInterface();
    }
    // The first tick of a run: its gap is the whole uptime, so it never counts.
    void Prime() { Tick(1000, 1000, 0); }

    testing::TestSystem system;
    testing::RecordingFrontEnd display;
    ifstats::InterfaceTableReader reader{system.table, display};
    std::unique_ptr<platform::HourStore> store =
        platform::linux_impl::OpenTrafficDatabase(system.Database());
    records::HourlyRecords hours{*store, system.clock, display};
    TransferLimits limits{(system.dir.Path() / "quantiro.par").string()};
    shell::MeterSettingsFile settingsFile{system.settings, shapes::kFull};
    Hooks hooks;
    Sampler sampler{reader, system.clock, limits, {display, hooks, hooks, hooks, hooks}};
    std::int64_t received = 0, sent = 0;
};

TEST(SamplerTest, TotalsFollowTheTrueTrafficThroughWrapsZerosAndResets) {
    struct Case {
        const char* name;
        std::vector<std::pair<std::uint64_t, double>> ticks; // byte counter, expected total kB
    };
    std::vector<Case> cases = {
        {"fresh interface starting at 0", {{0, 0}, {0, 0}, {300, 0}, {2 * kKb, 2}, {10 * kKb, 10}}},
        {"counter reset to 0 by re-creation", {{5000 * kKb, 5000}, {0, 0}, {0, 0}, {3 * kKb, 3}}},
        {"64-bit counter above 2^32, low bits in the lower half",
         {{3 * k2To32 + 1000 * kKb, 1000}, {3 * k2To32 + 1005 * kKb, 1005}}},
        {"64-bit counter above 2^32, low bits in the upper half",
         {{7 * k2To32 + k2To32 / 2 + 10 * kKb, 2'097'162},
          {7 * k2To32 + k2To32 / 2 + 20 * kKb, 2'097'172}}},
    };
    // Sweeps in steps of 1 kB through 2^31 and through 2^32, landing exactly on 0.
    for (const std::uint64_t edge : {k2To32 / 2, k2To32}) {
        Case sweep{edge == k2To32 ? "sweep through 2^32" : "sweep through 2^31", {}};
        for (std::uint64_t counter = edge - 50 * kKb; counter <= edge + 50 * kKb; counter += kKb) {
            sweep.ticks.push_back({counter, static_cast<double>(counter / kKb)});
        }
        cases.push_back(sweep);
    }
    for (const Case& c : cases) {
        Rig rig;
        // The totals count from the start: the first sample is their zero.
        const double start = c.ticks.front().second;
        for (const auto& [counter, expected] : c.ticks) {
            rig.system.table.SetCounters(counter, 0);
            rig.system.clock.Advance(100);
            rig.sampler.SampleInterface();
            ASSERT_NEAR(rig.sampler.RunTotals().received, expected - start, 1.0)
                << c.name << " at " << counter;
        }
    }
}

TEST(SamplerTest, OnlyTicksWithMoreThanOneKilobyteWithinASecondCountUnlessCountingExactly) {
    struct Case {
        bool exact;
        std::int64_t dr, ds;
        std::uint32_t elapsed;
        std::int32_t hourTime, hourDownload, hourUpload;
    };
    const Case cases[] = {
        {false, 1, 1, 100, 0, 0, 0}, // exactly 1 kB both ways is not traffic
        {false, 2, 0, 100, 100, 2, 0},
        {false, 0, 2, 100, 100, 0, 2},
        {false, 5, 5, 1000, 0, 0, 0}, // a gap of a second is never counted
        {false, 5, 5, 999, 999, 5, 5},
        {false, -3, 5, 100, 100, 0, 5}, // a counter that went back: never below zero
        {false, 0, 0, 0, 0, 0, 0},
        // Counting exactly: every kilobyte reaches the hour, only traffic adds time.
        {true, 1, 1, 100, 0, 1, 1},
        {true, 0, 1, 100, 0, 0, 1},
        {true, 5, 5, 1000, 0, 5, 5}, // across a gap too, as the kernel counted it
        {true, 2, 0, 100, 100, 2, 0},
        {true, 0, 0, 100, 0, 0, 0},
    };
    for (const Case& c : cases) {
        Rig rig;
        rig.hours.SetExactCounting(c.exact);
        rig.Prime();
        rig.Tick(c.dr, c.ds, c.elapsed);
        SCOPED_TRACE(&c - cases);
        EXPECT_EQ(rig.hours.Amounts().time, c.hourTime);
        EXPECT_EQ(rig.hours.Amounts().download, c.hourDownload);
        EXPECT_EQ(rig.hours.Amounts().upload, c.hourUpload);
    }
}

TEST(SamplerTest, ImplausibleTicksNeverCountAndNeverTakeTheHourBelowZero) {
    struct Case {
        bool checkOn, exact;
        std::int64_t dr, ds;
        std::uint32_t elapsed;
        bool exceeded;
        std::int32_t hourDownload, hourUpload;
    };
    // Limits of 10 kB/s both ways; the hour already holds 1000 kB each way.
    const Case cases[] = {
        {true, false, 10, 0, 1000, false, 1000, 1000}, // 10,000 units: at the limit
        {true, false, 10, 0, 999, true, 990, 1000},    // 10,010 units: above it
        {true, false, 1, 500, 100, true, 999, 500},
        {true, false, 1, 5000, 100, true, 999, 0},      // taken off down to zero, no further
        {true, false, -500, 0, 100, false, 1000, 1000}, // a negative rate never exceeds
        {false, false, 500, 0, 100, false, 1500, 1000}, // check off: counted as usual
        // Counting exactly, a rejected tick was never added, so nothing is taken off.
        {true, true, 10, 0, 999, true, 1000, 1000},
        {true, true, 1, 5000, 100, true, 1000, 1000},
    };
    for (const Case& c : cases) {
        Rig rig;
        rig.limits.Set({.download = 10, .upload = 10, .enabled = c.checkOn});
        rig.hours.SetExactCounting(c.exact);
        rig.Prime();
        rig.hours.Count(1000, 1000, 0);
        const double received = rig.sampler.RunTotals().received;
        rig.Tick(c.dr, c.ds, c.elapsed);
        SCOPED_TRACE(&c - cases);
        EXPECT_EQ(rig.display.errorMarker, c.exceeded);
        EXPECT_EQ(rig.hours.Amounts().download, c.hourDownload);
        EXPECT_EQ(rig.hours.Amounts().upload, c.hourUpload);
        // The run's totals keep the tick, as the counters say.
        EXPECT_EQ(rig.sampler.RunTotals().received, received + static_cast<double>(c.dr));
        // A plausible tick after it adds its own traffic and nothing of the rejected one.
        rig.Tick(3, 3, 999);
        EXPECT_FALSE(rig.display.errorMarker);
        EXPECT_EQ(rig.hours.Amounts().download, c.hourDownload + 3);
        EXPECT_EQ(rig.hours.Amounts().upload, c.hourUpload + 3);
    }
}

TEST(SamplerTest, RatesAndTheMonthFollowTheCountersAcrossGapsAndTheClockWrap) {
    Rig rig;
    rig.sampler.SetMonthBase(5000);
    rig.Prime();
    EXPECT_EQ(rig.display.month, 5000);     // the records, and nothing of this run yet
    EXPECT_EQ(rig.display.downloadRate, 0); // one sample has no rate
    rig.Tick(25, 3);
    EXPECT_DOUBLE_EQ(rig.display.downloadRate, 250'000);
    rig.Tick(-4, 0); // negative rates show as 0
    EXPECT_EQ(rig.display.downloadRate, 0);
    rig.Tick(7, 7, 0); // two ticks within one millisecond: no division by zero
    EXPECT_EQ(rig.display.downloadRate, 0);

    // The tick count wraps after 49.7 days; the gap across the wrap is still 100 ms.
    rig.system.clock.SetTick(0xFFFFFFFFu - 49);
    rig.Tick(0, 0, 0);
    rig.Tick(10, 0);
    EXPECT_DOUBLE_EQ(rig.display.downloadRate, 100'000);

    // A vanished interface makes ticks do nothing; its return after two seconds is
    // not counted, the tick after it is.
    const std::int32_t before = rig.hours.Amounts().download;
    rig.system.table.rows.clear();
    for (int i = 0; i < 20; ++i) {
        rig.system.clock.Advance(100);
        rig.sampler.SampleInterface();
    }
    // The display is told of the wait once, not at every tick.
    EXPECT_EQ(std::count(rig.display.log.begin(), rig.display.log.end(), "waiting"), 1);
    rig.system.table.rows = {{.name = "eth0", .index = 2}};
    rig.Tick(50, 50);
    EXPECT_EQ(rig.hours.Amounts().download, before);
    rig.Tick(3, 3);
    EXPECT_EQ(rig.hours.Amounts().download, before + 3);

    // The first counting tick of a new hour closes the record after counting.
    rig.hooks.hourChanged = true;
    rig.Tick(1, 0);
    EXPECT_EQ(rig.hooks.nextHours, 0);
    rig.Tick(4, 0);
    EXPECT_EQ(rig.hooks.nextHours, 1);
}

// The default route moving to another link, or a link made anew under its name.
TEST(SamplerTest, AnotherInterfaceIsTakenUpWithoutAJumpAndItsTrafficCounts) {
    struct Case {
        const char* name;
        platform::InterfaceRow next; // counters in kB below
        std::uint64_t nextReceivedKb;
    };
    const Case cases[] = {
        {"another link", {.name = "wlan0", .index = 3}, 900'000},
        {"the same name made anew", {.name = "eth0", .index = 7}, 0},
        {"a link whose counter is past 2^31", {.name = "wwan0", .index = 4}, 3'000'000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.limits.Set({.download = 1000, .upload = 1000, .enabled = true}); // kB/s
        rig.Prime();
        rig.Tick(5, 5);
        const double received = rig.sampler.RunTotals().received;
        const std::int32_t hour = rig.hours.Amounts().download;

        platform::InterfaceRow next = c.next;
        next.bytesReceived = c.nextReceivedKb * kKb;
        rig.system.table.rows = {next};
        rig.system.clock.Advance(100);
        rig.sampler.SampleInterface();
        EXPECT_EQ(rig.sampler.RunTotals().received, received); // no jump
        EXPECT_FALSE(rig.display.errorMarker);                 // never implausible
        EXPECT_EQ(rig.display.downloadRate, 0);
        EXPECT_EQ(rig.hours.Amounts().download, hour); // counts nothing

        rig.system.table.rows.front().bytesReceived += 40 * kKb;
        rig.system.clock.Advance(100);
        rig.sampler.SampleInterface();
        EXPECT_EQ(rig.sampler.RunTotals().received, received + 40);
        EXPECT_EQ(rig.hours.Amounts().download, hour + 40); // the same hour goes on
        EXPECT_DOUBLE_EQ(rig.display.downloadRate, 400'000);
    }
}

TEST(SamplerTest, PeriodicWorkRunsOnItsCountOfTicks) {
    Rig rig;
    const auto otherProgram = rig.system.OtherProgram();
    auto fire = [&](int times) {
        for (int i = 0; i < times; ++i) {
            rig.sampler.OnTick();
        }
    };
    // The update check: once, at the 6000th tick counted while automatic updating is on.
    fire(7000);
    rig.sampler.SetAutoUpdate(true);
    fire(5999);
    EXPECT_EQ(rig.hooks.updateChecks, 0);
    fire(1);
    EXPECT_EQ(rig.hooks.updateChecks, 1);
    fire(6001);
    EXPECT_EQ(rig.hooks.updateChecks, 1);

    // The limit watcher: every 20th tick while warnings are on and not suppressed.
    EXPECT_EQ(rig.hooks.limitWatcherStarts, 0);
    rig.sampler.SetLimitWarnings(true);
    fire(45);
    EXPECT_EQ(rig.hooks.limitWatcherStarts, 2);
    platform::Write(*otherProgram, values::kWarningsSuppressed, true);
    fire(100);
    EXPECT_EQ(rig.hooks.limitWatcherStarts, 2);
    platform::Write(*otherProgram, values::kWarningsSuppressed, false);
    fire(15);
    EXPECT_EQ(rig.hooks.limitWatcherStarts, 3);

    // Another program's change flag reloads the settings once.
    EXPECT_EQ(rig.hooks.reloads, 0);
    platform::Write(*otherProgram, values::kSettingsChanged, true);
    fire(3);
    EXPECT_EQ(rig.hooks.reloads, 1);
}

} // namespace
} // namespace quantiro::sampling
