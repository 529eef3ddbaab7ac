#include "limits/LimitCheck.h"

#include "fakes/RecordsRig.h"
#include "platform/linux/SqliteDatabase.h"
#include "records/PeriodSum.h"

#include <gtest/gtest.h>

namespace quantiro::limits {
namespace {

TEST(BillingPeriodTest, APeriodRunsFromItsBillingDayToTheDayBeforeTheNext) {
    struct Case {
        CalendarDate day;
        int billingDay;
        Period expected;
    };
    const Case cases[] = {
        {{2026, 12, 6}, 1, {{2026, 12, 1}, {2026, 12, 31}}},
        {{2026, 12, 6}, 15, {{2026, 11, 15}, {2026, 12, 14}}},
        {{2026, 12, 20}, 15, {{2026, 12, 15}, {2027, 1, 14}}},
        {{2027, 2, 10}, 31, {{2027, 1, 31}, {2027, 2, 27}}}, // February's day 31 is its last
        {{2027, 2, 28}, 31, {{2027, 2, 28}, {2027, 3, 30}}},
        {{2028, 2, 29}, 31, {{2028, 2, 29}, {2028, 3, 30}}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PeriodContaining(c.day, c.billingDay), c.expected)
            << c.day.month << "/" << c.day.day << " day " << c.billingDay;
    }
}

TEST(LimitCheckTest, EachThresholdWarnsOncePerPeriodAndTheFigureIsTheMetersSum) {
    testing::RecordsRig rig; // the meter's database, on a real file
    testing::TrafficTable table(rig.database);
    // An empty table is a period of nothing yet, not a database that cannot be read.
    EXPECT_EQ(records::SumPeriod(*platform::linux_impl::OpenTrafficDatabaseForReading(rig.database),
                                 {2026, 12, 1}, {2026, 12, 31})
                  .download,
              0);
    table.Insert({"2026-11-30", 23, 1, 900'000, 1}); // the month before
    table.Insert({"2026-12-02", 10, 1, 500'000, 1});
    auto stored = [&](const Period& period) -> std::optional<PeriodTraffic> {
        const auto database = platform::linux_impl::OpenTrafficDatabaseForReading(rig.database);
        const auto sum = records::SumPeriod(*database, period.first, period.last);
        return PeriodTraffic{sum.download, sum.upload};
    };
    LimitSettings settings{
        .limitMb = 1000, .direction = CountedDirection::Received, .enabled = true}; // 1,024,000 kB
    WatchState state;
    struct Step {
        CalendarDate day;
        double received;
        bool atStartUp;
        std::int32_t warned; // the threshold warned of, 0 for none
        std::function<void()> before = nullptr;
    };
    const Step steps[] = {
        {{2026, 12, 6}, 0, true, 0},          // 500,000 kB: 48 %
        {{2026, 12, 6}, 330'000, false, 80},  // 81 %
        {{2026, 12, 6}, 340'000, false, 0},   // the same threshold again
        {{2026, 12, 6}, 560'000, false, 100}, // 90 and 100 at once: one warning
        {{2026, 12, 7},
         0,
         true,
         0, // a restart after a reboot: the run's
         [&] {
             table.Insert({"2026-12-06", 12, 1, 560'000, 1});
         }}, // hours are stored
        {{2026, 12, 7},
         10'000,
         false,
         0,
         [&] {
             settings.limitMb = 2000;
         }},                                   // 52 %: re-armed
        {{2026, 12, 7}, 600'000, false, 80},   // 81 % of the new limit
        {{2027, 1, 1}, 650'000, false, 0},     // a new period: 50,000 kB so far
        {{2027, 1, 1}, 2'700'000, false, 100}, // 2,100,000 kB of 2,048,000
        {{2027, 1, 1},
         -5,
         false,
         0,
         [&] {
             settings.limitMb = 0;
         }},
    };
    for (const Step& step : steps) {
        if (step.before) {
            step.before();
        }
        const auto notice =
            Check(state, settings, {step.day, 0.5}, step.received, 0, step.atStartUp, stored);
        const std::string label =
            std::to_string(step.day.day) + ": " + std::to_string(step.received);
        EXPECT_EQ(notice ? notice->threshold : 0, step.warned) << label;
        if (notice) {
            EXPECT_EQ(notice->critical, step.warned >= 100) << label;
        }
        // Every start leaves a state the next one reads back the same.
        EXPECT_EQ(Serialize(ParseState(Serialize(state))), Serialize(state)) << label;
    }
    EXPECT_EQ(state.period, (Period{{2027, 1, 1}, {2027, 1, 31}}));
}

TEST(LimitCheckTest, TheWarningSaysWhatIsUsedLeftAndLikelyAndABadStateStartsAfresh) {
    LimitSettings settings{.limitMb = 100, .enabled = true}; // received and sent count
    WatchState state = ParseState("period=2026-13-01 garbage\nnotified=7\n");
    EXPECT_FALSE(state.haveBase);
    const auto notice = Check(state, settings, {{2026, 12, 11}, 0}, 61'440, 20'480, true,
                              [](const Period&) { return PeriodTraffic{}; });
    ASSERT_TRUE(notice);
    EXPECT_EQ(notice->summary, "Wykorzystano 80 % limitu transferu");
    // 80 MB in 10 days of a 31-day period: 248 MB at this pace.
    EXPECT_EQ(notice->body, "Wykorzystano 80.00 MB z 100.00 MB, zostało 20.00 MB.\n"
                            "Do końca okresu rozliczeniowego (2026-12-31): 21 dni.\n"
                            "Przy obecnym tempie na koniec okresu: 248.00 MB.");
    // Warnings off or held back: the figure is kept, nobody is told.
    settings.suppressed = true;
    EXPECT_FALSE(Check(state, settings, {{2026, 12, 11}, 0}, 200'000, 0, false,
                       [](const Period&) { return PeriodTraffic{}; }));
}

} // namespace
} // namespace quantiro::limits
