#include "monitor/RateHistory.h"

#include <gtest/gtest.h>

namespace quantiro::monitor {
namespace {

TEST(RateHistoryTest, RatesComeFromCounterStepsAndEachSpanKeepsItsResolution) {
    RateHistory history;
    history.AddCounters(5'000'000'000, 0, 0); // the first sample only sets the start
    history.AddCounters(5'000'010'000, 1'000, 100);
    history.AddCounters(5'000'010'000, 1'000, 0); // no time passed: no rate
    history.AddCounters(100, 1'500, 100);         // the counter went back: no rate
    history.AddCounters(20'100, 2'500, 200);
    const auto& fine = history.Points(Span::TwoMinutes);
    ASSERT_EQ(fine.size(), 2u);
    EXPECT_DOUBLE_EQ(fine[0].download, 100'000);
    EXPECT_DOUBLE_EQ(fine[0].upload, 10'000);
    EXPECT_DOUBLE_EQ(fine[1].download, 100'000); // 20,000 bytes in 200 ms
    EXPECT_TRUE(history.Points(Span::OneHour).empty());

    // Ten 100 ms samples make one second; two minutes and an hour are kept, no more.
    for (int i = 0; i < 1250; ++i) {
        history.Add({i % 10 == 9 ? 1000.0 : 0.0, 0});
    }
    EXPECT_EQ(history.Points(Span::TwoMinutes).size(), RateHistory::kFinePoints);
    const auto& coarse = history.Points(Span::OneHour);
    EXPECT_EQ(coarse.size(), 125u);
    EXPECT_DOUBLE_EQ(coarse.back().download, 100);
    const SpanFigures figures = history.Figures(Span::TwoMinutes);
    EXPECT_DOUBLE_EQ(figures.current.download, 1000);
    EXPECT_DOUBLE_EQ(figures.average.download, 100);
    EXPECT_DOUBLE_EQ(figures.peak.download, 1000);
}

TEST(RateHistoryTest, TheScaleIsRoundAndChangesUnitAtAMegabyte) {
    struct Case {
        double peak;
        double maximum;
        const char* unit;
        std::vector<std::string> labels;
    };
    const Case cases[] = {
        {0, 1'000, "kB/s", {"0", "0.25", "0.5", "0.75", "1"}},
        {1'500, 2'000, "kB/s", {"0", "0.5", "1", "1.5", "2"}},
        {4'100, 10'000, "kB/s", {"0", "2.5", "5", "7.5", "10"}},
        {999'999, 1'000'000, "kB/s", {"0", "250", "500", "750", "1000"}},
        {1'000'000, 1'000'000, "MB/s", {"0", "0.25", "0.5", "0.75", "1"}},
        {12'500'000, 20'000'000, "MB/s", {"0", "5", "10", "15", "20"}},
    };
    for (const Case& c : cases) {
        const GraphScale scale = ScaleFor(c.peak);
        EXPECT_DOUBLE_EQ(scale.maximum, c.maximum) << c.peak;
        EXPECT_EQ(scale.unit, c.unit) << c.peak;
        EXPECT_EQ(scale.labels, c.labels) << c.peak;
    }
}

} // namespace
} // namespace quantiro::monitor
