#pragma once

#include "limits/BillingPeriod.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// The limit watcher's reckoning: the traffic of the billing period against its
// limit, and which warning is due. The period's traffic is the meter's own sum:
// what the database held when the meter started plus the meter's totals, which
// count from its start.
namespace quantiro::limits {

// What counts against the limit.
enum class CountedDirection { Received, Sent, Both };

// The kilobytes of `received` and `sent` that count against the limit.
double CountedKb(double received, double sent, CountedDirection direction);

// A limit of `megabytes` in kilobytes, 1 MB being 1024 kB; 0 (none) for 0 or less.
inline double LimitKilobytes(std::int32_t megabytes) {
    return std::max(megabytes, 0) * 1024.0;
}

struct LimitSettings {
    std::int32_t limitMb = 0; // 0: none
    CountedDirection direction = CountedDirection::Both;
    std::array<std::int32_t, 3> thresholds{80, 90, 100};
    std::int32_t billingDay = 1;
    bool enabled = false;
    bool suppressed = false;
    double LimitKb() const { return LimitKilobytes(limitMb); }
};

// What must survive from one start to the next.
struct WatchState {
    Period period{};
    bool haveBase = false;
    double baseReceived = 0; // kB; the period's traffic is the base plus the totals
    double baseSent = 0;
    std::optional<double> lastReceived, lastSent; // the totals at the previous start
    std::uint32_t notified = 0;                   // bit i: threshold i warned of
    std::int32_t limitMb = 0;                     // the limit those warnings were about
    std::uint32_t noticeId = 0;                   // the desktop notice a new one replaces
};
std::string Serialize(const WatchState& state);
// A text that is not a state (cut short, garbage) gives a fresh state.
WatchState ParseState(std::string_view text);

struct PeriodTraffic {
    double received = 0; // kB
    double sent = 0;
};

struct Notice {
    std::int32_t threshold;
    bool critical;
    std::string summary;
    std::string body;
};

struct Moment {
    CalendarDate today;
    double dayFraction; // how much of today has passed, 0 to 1
};

// One start of the watcher, with the meter's totals in kB. Updates `state` and
// returns the warning that is due, if any. `storedTraffic` sums the period's
// records, or gives nothing when the database cannot be read (tried again at the
// next start).
// Makes `state` follow the billing period `period`: a new one starts clean, its
// base the stored records at the meter's start (`atStartUp`, or when there is no
// base yet), or, crossed while the meter ran, less the totals last seen. The
// period's traffic is then the base plus the meter's totals.
void FollowPeriod(WatchState& state, const Period& period, bool atStartUp,
                  const std::function<std::optional<PeriodTraffic>(const Period&)>& storedTraffic);

// `ownPlansTraffic` is what networks with a plan of their own moved in the period:
// it counts against their plans, not against this one.
std::optional<Notice> Check(
    WatchState& state, const LimitSettings& settings, const Moment& now, double received,
    double sent, bool atStartUp,
    const std::function<std::optional<PeriodTraffic>(const Period&)>& storedTraffic,
    const std::function<std::string()>& decimalSeparator = [] { return "."; },
    const std::function<PeriodTraffic(const Period&)>& ownPlansTraffic =
        [](const Period&) { return PeriodTraffic{}; });

// The highest threshold `percent` reached and not yet warned of, marked in `state`
// with those below it; nothing while warnings are off or paused. A raised limit lets
// the warnings it put out of reach come again.
std::optional<std::int32_t> DueThreshold(WatchState& state, const LimitSettings& settings,
                                         double percent);

} // namespace quantiro::limits
