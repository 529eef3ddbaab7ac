#include "sampling/Sampler.h"

#include "fakes/FakeClock.h"
#include "fakes/FakeInterfaceTable.h"
#include "fakes/RecordingNotifier.h"
#include "fakes/TempDir.h"
#include "platform/linux/IniRegistrySettings.h"
#include "sampling/ContinuousTotal.h"
#include "shell/RegistryValues.h"

#include <gtest/gtest.h>

namespace quantiro::sampling {
namespace {

using platform::linux_impl::IniRegistrySettings;

constexpr double H = static_cast<double>(kHalfRange);
// A machine that has been up for a while, so the first tick's gap is long.
constexpr std::uint32_t kUptimeMs = 50'000'000;

struct RecordingDisplay final : RateDisplay {
    void RefreshDetails(const ifstats::CInterface&, const ifstats::CInterface&) override {
        ++refreshes;
    }
    void ShowErrorMarker(bool visible) override { marker = visible; }
    void ShowRates(double download, double upload) override {
        downloadRate = download;
        uploadRate = upload;
    }
    void ShowAmounts(double r, double s, double m) override {
        received = r;
        sent = s;
        month = m;
        ++amountUpdates;
    }
    int refreshes = 0;
    int amountUpdates = 0;
    bool marker = false;
    double downloadRate = -1, uploadRate = -1, received = -1, sent = -1, month = -1;
};

struct RecordingHooks final : HourRecords, SettingsReload, UpdateCheck, LimitWatcher {
    explicit RecordingHooks(platform::RegistrySettings& settings)
        : settings(settings) {}
    bool IsTimeChanged() override {
        ++hourChecks;
        return hourChanged;
    }
    void MakeNextRecord() override { ++nextRecords; }
    void ChangeParameters() override {
        ++reloads;
        values::Write(settings, values::kWasChanged, false);
    }
    void CheckForUpdate() override { ++updateChecks; }
    void CheckLimitDLL(bool start) override {
        EXPECT_FALSE(start);
        ++limitChecks;
    }
    platform::RegistrySettings& settings;
    bool hourChanged = false;
    int hourChecks = 0, nextRecords = 0, reloads = 0, updateChecks = 0, limitChecks = 0;
};

// Kilobytes to the 32-bit byte counter that reads as that (signed) sample.
std::uint32_t CounterFor(std::int64_t kilobytes) {
    return static_cast<std::uint32_t>(kilobytes * 1024);
}

struct Meter {
    Meter() {
        settings.SetKeyPath(std::string(values::kKeyPath));
        settings.SetRootKey(platform::kHkeyCurrentUser);
        clock.SetTick(kUptimeMs);
        SetCounters(0, 0);
    }
    void SetCounters(std::int64_t receivedKb, std::int64_t sentKb) {
        table.SetRows({{.name = u"eth0",
                        .inOctets = CounterFor(receivedKb),
                        .outOctets = CounterFor(sentKb)}});
    }
    // One tick `elapsedMs` after the previous one, with the counters moved by the deltas.
    void Tick(std::int64_t receivedDeltaKb, std::int64_t sentDeltaKb, std::uint32_t elapsedMs) {
        received += receivedDeltaKb;
        sent += sentDeltaKb;
        SetCounters(received, sent);
        clock.Advance(elapsedMs);
        sampler.ProcessTick(1);
    }
    // The first tick of a run: its gap is the whole uptime, so it never counts.
    void Prime(std::int64_t receivedKb = 1000, std::int64_t sentKb = 1000) {
        received = receivedKb;
        sent = sentKb;
        SetCounters(received, sent);
        sampler.ProcessTick(1);
    }

    testing::TempDir dir;
    IniRegistrySettings settings{dir.Path().string()};
    testing::FakeInterfaceTable table;
    testing::RecordingNotifier notifier;
    ifstats::CIpHelper reader{table, notifier};
    testing::FakeClock clock;
    SamplingState state;
    RecordingDisplay display;
    RecordingHooks hooks{settings};
    Sampler sampler{state, reader, clock, settings, {display, hooks, hooks, hooks, hooks}};
    std::int64_t received = 0, sent = 0;
};

TEST(SamplerTest, TotalsStayContinuousAcrossSignChanges) {
    struct Case {
        std::vector<std::int64_t> samples; // signed kilobyte samples of the received counter
        std::int32_t halfWraps;
        double total;
    };
    const Case cases[] = {
        {{5, -3}, 1, 2 * H - 3},
        {{5, 0, -3}, 0, H - 3}, // through exactly 0: no change
        {{-5}, 1, 2 * H - 5},   // already in the upper half at the first tick
        {{0}, 0, H},
        {{5, -3, 5}, 2, 2 * H + 5},          // a full wrap
        {{2'097'151, -2'097'151}, 1, H + 1}, // 2 kB apart across 2^31 bytes
        {{100, 2'097'150, -2'097'150, -1, 7}, 2, 2 * H + 7},
    };
    for (const Case& c : cases) {
        Meter meter;
        for (const std::int64_t sample : c.samples) {
            meter.SetCounters(sample, 1);
            meter.clock.Advance(100);
            meter.sampler.ProcessTick(1);
        }
        EXPECT_EQ(meter.state.receivedHalfWraps, c.halfWraps)
            << ::testing::PrintToString(c.samples);
        EXPECT_EQ(meter.state.totalReceived, c.total) << ::testing::PrintToString(c.samples);
        EXPECT_EQ(meter.state.totalSent, 1);
    }
}

TEST(SamplerTest, OnlyTicksWithMoreThanOneKilobyteWithinASecondCount) {
    struct Case {
        std::int64_t dr, ds;
        std::uint32_t elapsed;
        std::int32_t hourTime, hourDownload, hourUpload;
    };
    const Case cases[] = {
        {1, 1, 100, 0, 0, 0}, // exactly 1 kB both ways is not traffic
        {2, 0, 100, 100, 2, 0},
        {0, 2, 100, 100, 0, 2},
        {5, 5, 1000, 0, 0, 0}, // a gap of a second is never counted
        {5, 5, 999, 999, 5, 5},
        {-3, 5, 100, 100, -3, 5}, // a counter that went back lowers the hour
        {-3, 0, 100, 0, 0, 0},
        {0, 0, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        Meter meter;
        meter.Prime();
        meter.Tick(c.dr, c.ds, c.elapsed);
        const bool counted = c.hourTime != 0 || c.hourDownload != 0 || c.hourUpload != 0;
        EXPECT_EQ(meter.state.hourTime, c.hourTime) << c.dr << "/" << c.ds << "/" << c.elapsed;
        EXPECT_EQ(meter.state.hourDownload, c.hourDownload)
            << c.dr << "/" << c.ds << "/" << c.elapsed;
        EXPECT_EQ(meter.state.hourUpload, c.hourUpload) << c.dr << "/" << c.ds << "/" << c.elapsed;
        // The hour change is looked at on counting ticks only.
        EXPECT_EQ(meter.hooks.hourChecks, counted ? 1 : 0)
            << c.dr << "/" << c.ds << "/" << c.elapsed;
    }
}

TEST(SamplerTest, ImplausibleTicksAreTakenOffTheHour) {
    struct Case {
        bool checkOn;
        std::int64_t dr, ds;
        std::uint32_t elapsed;
        bool exceeded;
        std::int32_t hourTime, hourDownload, hourUpload;
    };
    // Limits of 10 kB/s both ways; the hour already holds 1000 ms, 1000 kB, 1000 kB.
    const Case cases[] = {
        {true, 10, 0, 1000, false, 1000, 1000, 1000}, // 10,000 units: at the limit
        {true, 10, 0, 999, true, 1000, 990, 1000},    // 10,010 units: above it
        {true, 500, 0, 100, true, 1000, 500, 1000},
        {true, 1, 500, 100, true, 1000, 999, 500},
        {true, -500, 0, 100, false, 1000, 1000, 1000}, // a negative rate never exceeds
        {true, 1, 1, 100, false, 1000, 1000, 1000},
        {false, 500, 0, 100, false, 1100, 1500, 1000}, // check off: counted as usual
    };
    for (const Case& c : cases) {
        Meter meter;
        meter.state.rateCheckEnabled = c.checkOn;
        meter.state.limitDownload = 10;
        meter.state.limitUpload = 10;
        meter.Prime(); // the first tick's average since boot is far below the limit
        meter.state.hourTime = meter.state.hourDownload = meter.state.hourUpload = 1000;
        const int amountsBefore = meter.display.amountUpdates;
        meter.Tick(c.dr, c.ds, c.elapsed);
        const std::string label = std::to_string(c.dr) + "/" + std::to_string(c.ds) + "/" +
                                  std::to_string(c.elapsed) + (c.checkOn ? " on" : " off");
        EXPECT_EQ(meter.state.rateExceeded, c.exceeded) << label;
        EXPECT_EQ(meter.display.marker, c.exceeded) << label;
        EXPECT_EQ(meter.display.amountUpdates, amountsBefore + (c.exceeded ? 0 : 1)) << label;
        EXPECT_EQ(meter.state.hourTime, c.hourTime) << label;
        EXPECT_EQ(meter.state.hourDownload, c.hourDownload) << label;
        EXPECT_EQ(meter.state.hourUpload, c.hourUpload) << label;
        if (c.exceeded) {
            EXPECT_EQ(meter.display.downloadRate, 0) << label;
            EXPECT_EQ(meter.display.uploadRate, 0) << label;
        }
    }
}

TEST(SamplerTest, RatesAreKilobytesPerSecondTimesAThousand) {
    Meter meter;
    meter.state.monthBase = 5000;
    meter.Prime(1000, 1000);
    EXPECT_EQ(meter.display.received, 1000);
    EXPECT_EQ(meter.display.month, 6000);

    meter.Tick(25, 3, 100);
    EXPECT_DOUBLE_EQ(meter.display.downloadRate, 250'000);
    EXPECT_DOUBLE_EQ(meter.display.uploadRate, 30'000);

    meter.Tick(-4, 0, 100); // negative rates show as 0
    EXPECT_EQ(meter.display.downloadRate, 0);

    meter.Tick(7, 7, 0); // two ticks within one millisecond: no division by zero
    EXPECT_EQ(meter.display.downloadRate, 0);
    EXPECT_EQ(meter.display.uploadRate, 0);

    // The tick count wraps after 49.7 days; the gap across the wrap is still 100 ms.
    meter.clock.SetTick(0xFFFFFFFFu - 49);
    meter.Tick(0, 0, 0);
    meter.Tick(10, 0, 100);
    EXPECT_DOUBLE_EQ(meter.display.downloadRate, 100'000);
}

TEST(SamplerTest, AVanishedInterfaceMakesTheTickDoNothing) {
    Meter meter;
    meter.Prime();
    meter.Tick(5, 5, 100);
    ASSERT_EQ(meter.state.hourDownload, 5);
    const int refreshes = meter.display.refreshes;

    meter.table.SetRows({});
    for (int i = 0; i < 20; ++i) {
        meter.clock.Advance(100);
        meter.sampler.ProcessTick(1);
    }
    EXPECT_EQ(meter.display.refreshes, refreshes);

    meter.Tick(50, 50, 100); // back after two seconds: the gap is not counted
    EXPECT_EQ(meter.state.hourDownload, 5);
    meter.Tick(3, 3, 100);
    EXPECT_EQ(meter.state.hourDownload, 8);
    EXPECT_EQ(meter.state.hourTime, 200);
}

TEST(SamplerTest, TheFirstCountingTickOfANewHourClosesTheRecord) {
    Meter meter;
    meter.Prime();
    meter.hooks.hourChanged = true;
    meter.Tick(1, 0, 100); // not counting: the hour is not even looked at
    EXPECT_EQ(meter.hooks.nextRecords, 0);
    meter.Tick(4, 0, 100);
    EXPECT_EQ(meter.hooks.nextRecords, 1);
    EXPECT_EQ(meter.state.hourDownload, 4); // the counting tick's traffic went to the old hour
}

TEST(SamplerTest, TheUpdateCheckRunsOnceAtTheSixThousandthCountedFiring) {
    Meter meter;
    for (int i = 0; i < 7000; ++i) { // never with automatic updating off
        meter.sampler.Timer1_Timer();
    }
    EXPECT_EQ(meter.hooks.updateChecks, 0);

    meter.state.AutoUpdateEnabled = true;
    for (int i = 0; i < 3000; ++i) {
        meter.sampler.Timer1_Timer();
    }
    meter.state.AutoUpdateEnabled = false; // the count waits while it is off
    for (int i = 0; i < 4000; ++i) {
        meter.sampler.Timer1_Timer();
    }
    meter.state.AutoUpdateEnabled = true;
    for (int i = 0; i < 2999; ++i) {
        meter.sampler.Timer1_Timer();
    }
    EXPECT_EQ(meter.hooks.updateChecks, 0);
    meter.sampler.Timer1_Timer();
    EXPECT_EQ(meter.hooks.updateChecks, 1);
    for (int i = 0; i < 6001; ++i) {
        meter.sampler.Timer1_Timer();
    }
    EXPECT_EQ(meter.hooks.updateChecks, 1);
}

TEST(SamplerTest, LimitWarningsRunEveryTwentiethFiringWhileOnAndNotSuppressed) {
    Meter meter;
    IniRegistrySettings otherProgram(meter.dir.Path().string());
    otherProgram.SetKeyPath(std::string(values::kKeyPath));
    otherProgram.SetRootKey(platform::kHkeyCurrentUser);
    auto fire = [&](int times) {
        for (int i = 0; i < times; ++i) {
            meter.sampler.Timer1_Timer();
        }
    };

    fire(40); // warnings off
    EXPECT_EQ(meter.hooks.limitChecks, 0);
    meter.state.WarningsEnabled = true;
    fire(45);
    EXPECT_EQ(meter.hooks.limitChecks, 2); // the count now stands at 5
    values::Write(otherProgram, values::kWarningsSuppressed, true);
    fire(100);
    EXPECT_EQ(meter.hooks.limitChecks, 2);
    values::Write(otherProgram, values::kWarningsSuppressed, false);
    fire(14);
    EXPECT_EQ(meter.hooks.limitChecks, 2);
    fire(1);
    EXPECT_EQ(meter.hooks.limitChecks, 3);
}

TEST(SamplerTest, ARaisedChangeFlagReloadsTheSettingsOnce) {
    Meter meter;
    IniRegistrySettings otherProgram(meter.dir.Path().string());
    otherProgram.SetKeyPath(std::string(values::kKeyPath));
    otherProgram.SetRootKey(platform::kHkeyCurrentUser);

    meter.sampler.Timer1_Timer();
    EXPECT_EQ(meter.hooks.reloads, 0);
    values::Write(otherProgram, values::kWasChanged, true);
    meter.sampler.Timer1_Timer();
    EXPECT_EQ(meter.hooks.reloads, 1);
    meter.sampler.Timer1_Timer();
    EXPECT_EQ(meter.hooks.reloads, 1);
    EXPECT_FALSE(values::Read(otherProgram, values::kWasChanged));
}

} // namespace
} // namespace quantiro::sampling
