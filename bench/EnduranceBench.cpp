// Thirty-one simulated days of the meter's core at ten ticks a second (26.8
// million ticks) on a real database: every counted hour against what the
// simulated counters carried, the month's sum, and the peak memory.
#include "driver/EnduranceDriver.h"

#include <cstdio>

using namespace quantiro::testing;

int main(int argc, char** argv) {
    const std::int64_t days = argc > 1 ? std::atoll(argv[1]) : 31;
    // From mid-November, so the run crosses a month and ends in the middle of one.
    constexpr std::int64_t kNovember15th2026 = 1'794'700'800;
    EnduranceDriver driver(kNovember15th2026, days * 864'000, 2026);
    const EnduranceReport report = driver.Run();

    std::vector<TrafficRow> expected = report.expected;
    TrafficRow& last = expected.back();
    if (last.czas <= 0 || last.download <= 0 || last.upload <= 0) {
        last.czas = last.download = last.upload =
            0; // written at exit only when all three are above 0
    }
    std::size_t wrong = 0;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        if (i >= report.stored.size() || !(report.stored[i] == expected[i])) {
            ++wrong;
        }
    }
    const long growth = report.rssAtEndKb - report.rssAfterFirstDayKb;
    std::printf("%-34s %18s %18s %s\n", "endurance", "measured", "target", "");
    std::printf("%-34s %18lld %18s\n", "simulated days", static_cast<long long>(days), "31");
    std::printf("%-34s %18lld %18s\n", "ticks", static_cast<long long>(report.ticks), "26,784,000");
    std::printf("%-34s %18d %18s\n", "counter wraps", report.wraps, "> 0");
    std::printf("%-34s %18d %18s\n", "interface losses", report.losses, "> 0");
    std::printf("%-34s %18zu %18zu\n", "hour records", report.stored.size(), expected.size());
    std::printf("%-34s %18zu %18s %s\n", "hours differing from the counters", wrong, "0",
                wrong == 0 ? "met" : "NOT MET");
    std::printf("%-34s %18.0f %18.0f %s\n", "month sum (kB)", report.monthBase,
                report.expectedMonth, report.monthBase == report.expectedMonth ? "met" : "NOT MET");
    std::printf("%-34s %18ld %18s\n", "peak RSS after day 1 (kB)", report.rssAfterFirstDayKb, "");
    std::printf("%-34s %18ld %18s\n", "peak RSS at the end (kB)", report.rssAtEndKb, "");
    std::printf("%-34s %18ld %18s %s\n", "growth after day 1 (kB)", growth, "< 1024",
                growth < 1024 ? "met" : "NOT MET");
    return wrong == 0 && report.monthBase == report.expectedMonth && growth < 1024 ? 0 : 1;
}
