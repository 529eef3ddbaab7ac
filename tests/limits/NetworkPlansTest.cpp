#include "limits/NetworkPlans.h"

#include "fakes/TempDir.h"
#include "limits/PlanWatch.h"
#include "platform/linux/IniFileSettings.h"
#include "platform/linux/IniSettingsStore.h"
#include "presentation/NetworkText.h"

#include <algorithm>

#include <gtest/gtest.h>

namespace quantiro::limits {
namespace {

// Written by the options program's store, read back as the watcher reads the file.
TEST(NetworkPlansTest, PlansOfAnyIdComeBackFromTheFileWithThePeriodOfTheDay) {
    testing::TempDir directory;
    const std::string file = (directory.Path() / "Quantiro.conf").string();
    const std::string oddSsid = "wifi:Kawiarnia [1]/\xff\t=\"x\"";
    const NetworkPlan hotspot{
        .network = "nm:5d2c-41", .kind = PlanKind::Monthly, .limitMb = 5120, .billingDay = 31};
    const NetworkPlan modem{.network = oddSsid,
                            .kind = PlanKind::Package,
                            .limitMb = 10240,
                            .direction = CountedDirection::Received,
                            .start = {2026, 12, 15},
                            .days = 30};
    const NetworkPlan home{.network = "gw:aa:bb", .kind = PlanKind::Unlimited};
    {
        platform::linux_impl::IniSettingsStore store(file);
        store.WriteLong("LimitMiesieczny", 700); // the shared plan stays where it was
        for (const NetworkPlan& plan : {hotspot, modem, home}) {
            WriteNetworkPlan(store, plan);
        }
        WriteNetworkPlan(store, {.network = "if:ppp0", .limitMb = 1});
        RemoveNetworkPlan(store, "if:ppp0");
        EXPECT_EQ(ReadNetworkPlans(store).size(), 3u); // as the meter reads them
    }
    platform::linux_impl::IniFileSettings read(file);
    EXPECT_EQ(read.ReadLong("LimitMiesieczny", 0), 700);
    std::vector<NetworkPlan> plans = ReadNetworkPlans(read);
    std::ranges::sort(plans, {}, &NetworkPlan::network); // the file keeps groups sorted
    EXPECT_EQ(plans, (std::vector<NetworkPlan>{home, hotspot, modem}));

    struct Case {
        const NetworkPlan& plan;
        CalendarDate today;
        std::optional<Period> period;
        bool inForce;
    };
    const Case cases[] = {
        {hotspot, {2027, 2, 10}, Period{{2027, 1, 31}, {2027, 2, 27}}, true},
        {hotspot, {2026, 12, 31}, Period{{2026, 12, 31}, {2027, 1, 30}}, true},
        // 30 days from 15 December run over the year's end to 13 January.
        {modem, {2026, 12, 15}, Period{{2026, 12, 15}, {2027, 1, 13}}, true},
        {modem, {2027, 1, 13}, Period{{2026, 12, 15}, {2027, 1, 13}}, true},
        {modem, {2027, 1, 14}, std::nullopt, false}, // ended: no plan until renewed
        {modem, {2026, 12, 14}, std::nullopt, false},
        {home, {2026, 12, 14}, std::nullopt, true}, // counted apart, never warned
    };
    for (const Case& c : cases) {
        const std::string label = c.plan.network + " " + FormatIsoDate(c.today);
        EXPECT_EQ(PlanPeriod(c.plan, c.today), c.period) << label;
        EXPECT_EQ(PlanInForce(c.plan, c.today), c.inForce) << label;
    }
    EXPECT_EQ(presentation::PlanUseText(4215.0 * 1024, 5120.0 * 1024, {2026, 12, 12}, ","),
              "4,12 z 5,00 GB do 12 grudnia");
}

// The watcher keeps a network's records summed once an hour and takes the open
// hour's larger figure of the records' and the meter's file, which may be stale.
TEST(NetworkPlansTest, ANetworksUseIsItsRecordsAndTheOpenHoursLargerFigure) {
    const Period december{{2026, 12, 1}, {2026, 12, 31}};
    int sums = 0;
    const NetworkRecordsSum records = [&](const std::string&, const Period&, const CalendarDate&,
                                          int hour) {
        ++sums;
        return std::pair{PeriodTraffic{1000, 10}, PeriodTraffic{hour == 14 ? 300.0 : 0, 0}};
    };
    const auto file = ParseNetworkHour("quantiro-networks 1\nhour 2026-12-07 14\n"
                                       "nm:a\t500\t1\t0\t0\nnm:b\t100\t0\t0\t0\n");
    ASSERT_TRUE(file);
    struct Case {
        std::string network;
        std::optional<NetworkHour> open;
        double received;
        int sumsAfter; // the records are summed again only for another hour
    };
    const Case cases[] = {
        {"nm:a", file, 1500, 1},         // the file's figure is the larger
        {"nm:b", file, 1300, 2},         // the records' is, after a restart within the hour
        {"nm:a", std::nullopt, 1000, 3}, // no file: the hour is the clock's (9)
    };
    PlanStates states;
    for (const Case& c : cases) {
        std::vector<NetworkUseSum> used;
        const auto use =
            NetworkUse(states, used, c.network, december, c.open, {2026, 12, 7}, 9, false, records);
        ASSERT_TRUE(use) << c.network;
        EXPECT_EQ(use->received, c.received) << c.network;
        EXPECT_EQ(sums, c.sumsAfter) << c.network;
        states = ParsePlans(SerializePlans({.plans = {}, .sums = used}));
        used.clear();
        EXPECT_EQ(
            NetworkUse(states, used, c.network, december, c.open, {2026, 12, 7}, 9, false, records)
                ->received,
            c.received);
        EXPECT_EQ(sums, c.sumsAfter) << "summed again for the same hour";
    }
    EXPECT_FALSE(ParseNetworkHour("quantiro-networks 1\nhour 2026-12-07 14\nnm:a\t5"));
}

// The meter's own count between the watcher's starts: only the plan's network
// moves it, and each threshold is crossed once.
TEST(NetworkPlansTest, TheMetersPlanWatchSeesEachThresholdCrossedOnceOnItsNetworkOnly) {
    const NetworkPlan hotspot{.network = "nm:telefon", .limitMb = 100, .billingDay = 12};
    const NetworkPlan ended{.network = "nm:modem",
                            .kind = PlanKind::Package,
                            .limitMb = 1,
                            .start = {2026, 11, 1},
                            .days = 30};
    PlanWatch watch;
    watch.Reset({hotspot, ended}, {.thresholds = {80, 90, 100}}, {2026, 12, 20},
                [](const NetworkPlan&, const Period&) {
                    return PeriodTraffic{70 * 1024, 0};
                });
    struct Step {
        std::string network;
        double receivedKb;
        bool crossed;
    };
    const Step steps[] = {
        {"nm:dom", 50 * 1024, false},    // home's traffic is no hotspot's
        {"nm:modem", 5 * 1024, false},   // an ended package watches nothing
        {"nm:telefon", 10 * 1024, true}, // 80 %
        {"nm:telefon", 1024, false},     {"nm:telefon", 30 * 1024, true}, // 90 and 100 % at once
        {"nm:telefon", 1024, false},
    };
    for (const Step& step : steps) {
        EXPECT_EQ(watch.Add(step.network, step.receivedKb, 0), step.crossed) << step.receivedKb;
    }
    EXPECT_EQ(watch.UseOf("nm:telefon")->usedKb, 112 * 1024);
    EXPECT_EQ(watch.UseOf("nm:telefon")->period, (Period{{2026, 12, 12}, {2027, 1, 11}}));
    EXPECT_FALSE(watch.UseOf("nm:modem"));
}

} // namespace
} // namespace quantiro::limits
