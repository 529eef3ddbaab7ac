// Eight simulated hours across a new year: counter wraps, hour, day, month and
// year changes, and an interface that goes away and comes back. The long version
// (31 days) is bench/endurance.
#include "endurance/EnduranceDriver.h"

#include <gtest/gtest.h>

namespace quantiro::testing {
namespace {

// The last hour is written at exit only when all three of its amounts are above 0.
std::vector<TrafficRow> AsStored(std::vector<TrafficRow> expected) {
    TrafficRow& last = expected.back();
    if (last.czas <= 0 || last.download <= 0 || last.upload <= 0) {
        last.czas = last.download = last.upload = 0;
    }
    return expected;
}

TEST(EnduranceTest, EveryCountedHourHoldsExactlyWhatTheCountersCarried) {
    constexpr std::int64_t kNewYearsEve2026At20 = 1'798'747'200;
    EnduranceDriver driver(kNewYearsEve2026At20, 8 * 36'000, 7);
    const EnduranceReport report = driver.Run();

    EXPECT_GE(report.wraps, 5);
    EXPECT_EQ(report.losses, 1);
    EXPECT_EQ(report.notices, 0u);
    ASSERT_GE(report.expected.size(), 9u);
    EXPECT_EQ(report.expected[4].data, "2027-01-01");
    EXPECT_EQ(report.stored, AsStored(report.expected));
    EXPECT_EQ(report.monthBase, report.expectedMonth);
    EXPECT_GT(report.monthBase, 0);
}

} // namespace
} // namespace quantiro::testing
