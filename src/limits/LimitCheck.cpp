#include "limits/LimitCheck.h"

#include "common/DecimalText.h"
#include "presentation/AmountFormat.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace quantiro::limits {

double CountedKb(double received, double sent, CountedDirection direction) {
    switch (direction) {
    case CountedDirection::Received:
        return received;
    case CountedDirection::Sent:
        return sent;
    case CountedDirection::Both:
        break;
    }
    return received + sent;
}

std::string Serialize(const WatchState& state) {
    std::string text = "period=" + FormatIsoDate(state.period.first) + " " +
                       FormatIsoDate(state.period.last) + "\n";
    auto line = [&](const char* key, double value) {
        char number[48];
        std::snprintf(number, sizeof number, "%.17g", value);
        text += std::string(key) + "=" + number + "\n";
    };
    if (state.haveBase) {
        line("baseReceived", state.baseReceived);
        line("baseSent", state.baseSent);
    }
    if (state.lastReceived && state.lastSent) {
        line("lastReceived", *state.lastReceived);
        line("lastSent", *state.lastSent);
    }
    line("notified", state.notified);
    line("limit", state.limitMb);
    line("notice", state.noticeId);
    return text;
}

WatchState ParseState(std::string_view text) {
    std::map<std::string, std::string, std::less<>> fields;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        const std::size_t equals = line.find('=');
        if (equals != std::string_view::npos) {
            fields.emplace(line.substr(0, equals), line.substr(equals + 1));
        }
    }
    WatchState state;
    const auto period = fields.find("period");
    if (period == fields.end() || period->second.size() != 21) {
        return state;
    }
    const auto first = ParseIsoDate(std::string_view(period->second).substr(0, 10));
    const auto last = ParseIsoDate(std::string_view(period->second).substr(11));
    if (!first || !last) {
        return state;
    }
    state.period = {*first, *last};
    auto number = [&](const char* key) -> std::optional<double> {
        const auto found = fields.find(key);
        const auto value =
            found == fields.end() ? std::nullopt : ParseWholeText<double>(found->second);
        return value && std::isfinite(*value) ? value : std::nullopt;
    };
    const auto baseReceived = number("baseReceived"), baseSent = number("baseSent");
    if (baseReceived && baseSent) {
        state.haveBase = true;
        state.baseReceived = *baseReceived;
        state.baseSent = *baseSent;
    }
    if (const auto lastReceived = number("lastReceived"), lastSent = number("lastSent");
        lastReceived && lastSent) {
        state.lastReceived = lastReceived;
        state.lastSent = lastSent;
    }
    state.notified = static_cast<std::uint32_t>(number("notified").value_or(0)) & 7u;
    state.limitMb =
        static_cast<std::int32_t>(std::clamp(number("limit").value_or(0), 0.0, 2147483647.0));
    state.noticeId =
        static_cast<std::uint32_t>(std::clamp(number("notice").value_or(0), 0.0, 4294967295.0));
    return state;
}

std::optional<std::int32_t> DueThreshold(WatchState& state, const LimitSettings& settings,
                                         double percent) {
    if (settings.limitMb > state.limitMb) {
        for (std::size_t i = 0; i < settings.thresholds.size(); ++i) {
            if (settings.thresholds[i] > percent) {
                state.notified &= ~(1u << i);
            }
        }
    }
    state.limitMb = settings.limitMb;

    std::optional<std::size_t> due;
    for (std::size_t i = 0; i < settings.thresholds.size(); ++i) {
        const std::int32_t threshold = settings.thresholds[i];
        if (threshold > 0 && percent >= threshold) {
            if (!(state.notified & (1u << i)) && (!due || threshold > settings.thresholds[*due])) {
                due = i;
            }
        }
    }
    if (!due || !settings.enabled || settings.suppressed) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < settings.thresholds.size(); ++i) {
        if (settings.thresholds[i] > 0 && percent >= settings.thresholds[i]) {
            state.notified |= 1u << i;
        }
    }
    return settings.thresholds[*due];
}

namespace {

// The warning's Polish text: what was used of the limit, what is left, the days to
// the period's end and where the present pace leads.
Notice Warning(std::int32_t threshold, double used, double limit, const Period& period,
               const Moment& now, const std::string& separator) {
    auto amount = [&](double kilobytes) {
        return presentation::FormatMonthAmount(std::max(kilobytes, 0.0), separator);
    };
    const double elapsedDays =
        std::max(DaysBetween(period.first, now.today) + now.dayFraction, 1.0);
    const double estimate = used / elapsedDays * period.Days();
    const int daysLeft = DaysBetween(now.today, period.last) + 1;
    Notice notice;
    notice.threshold = threshold;
    notice.critical = threshold >= 100;
    notice.summary = threshold >= 100
                         ? "Limit transferu został wykorzystany"
                         : "Wykorzystano " + std::to_string(threshold) + " % limitu transferu";
    notice.body = "Wykorzystano " + amount(used) + " z " + amount(limit) + ", zostało " +
                  amount(limit - used) + ".\nDo końca okresu rozliczeniowego (" +
                  FormatIsoDate(period.last) + "): " + std::to_string(daysLeft) +
                  (daysLeft == 1 ? " dzień" : " dni") +
                  ".\nPrzy obecnym tempie na koniec okresu: " + amount(estimate) + ".";
    return notice;
}

} // namespace

// What the period held before: the records the meter started with, or, for a period
// crossed while the meter ran, less what its totals held then.
void FollowPeriod(WatchState& state, const Period& period, bool atStartUp,
                  const std::function<std::optional<PeriodTraffic>(const Period&)>& storedTraffic) {
    if (!(state.period == period)) {
        // A new period starts clean. Crossed while the meter ran, it holds what the
        // totals gained since the start before, two seconds ago at most.
        const bool crossedWhileRunning = !atStartUp && state.haveBase && state.lastReceived;
        state.period = period;
        state.notified = 0;
        state.haveBase = crossedWhileRunning;
        if (crossedWhileRunning) {
            state.baseReceived = -*state.lastReceived;
            state.baseSent = -*state.lastSent;
        }
    }
    if (atStartUp || !state.haveBase) {
        // As the meter sums its month at start: the stored records, to which the
        // meter's totals, counted from its start, add what they have not saved.
        if (const auto stored = storedTraffic(period)) {
            state.baseReceived = stored->received;
            state.baseSent = stored->sent;
            state.haveBase = true;
        }
    }
}

std::optional<Notice>
Check(WatchState& state, const LimitSettings& settings, const Moment& now, double received,
      double sent, bool atStartUp,
      const std::function<std::optional<PeriodTraffic>(const Period&)>& storedTraffic,
      const std::function<std::string()>& decimalSeparator,
      const std::function<PeriodTraffic(const Period&)>& ownPlansTraffic) {
    const Period period = PeriodContaining(now.today, settings.billingDay);
    FollowPeriod(state, period, atStartUp, storedTraffic);
    state.lastReceived = received;
    state.lastSent = sent;
    if (!state.haveBase || settings.limitMb <= 0) {
        return std::nullopt;
    }
    const PeriodTraffic elsewhere = ownPlansTraffic(period);
    const double usedReceived = state.baseReceived + received - elsewhere.received;
    const double usedSent = state.baseSent + sent - elsewhere.sent;
    const double used = std::max(CountedKb(usedReceived, usedSent, settings.direction), 0.0);
    const double limit = settings.LimitKb();
    const std::optional<std::int32_t> threshold = DueThreshold(state, settings, used * 100 / limit);
    if (!threshold) {
        return std::nullopt;
    }
    return Warning(*threshold, used, limit, period, now, decimalSeparator());
}

} // namespace quantiro::limits
