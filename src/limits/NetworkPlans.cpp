#include "limits/NetworkPlans.h"

#include "common/DecimalText.h"
#include "common/SettingsValues.h"
#include "presentation/NetworkText.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace quantiro::limits {

namespace {

constexpr std::string_view kGroupPrefix = "Siec-";
constexpr std::int32_t kLongestPackage = 3660;

std::string Key(std::string_view networkId, std::string_view name) {
    return PlanGroup(networkId) + "/" + std::string(name);
}

bool KeptAsItIs(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.';
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

std::string Amount(double kilobytes, double unitKb, std::string_view separator) {
    return FixedDecimal(kilobytes / unitKb, 2, separator);
}

} // namespace

CountedDirection DirectionOfStored(std::int32_t stored) {
    switch (stored) {
    case 0:
        return CountedDirection::Received;
    case 1:
        return CountedDirection::Sent;
    default:
        return CountedDirection::Both;
    }
}

std::int32_t StoredDirection(CountedDirection direction) {
    switch (direction) {
    case CountedDirection::Received:
        return 0;
    case CountedDirection::Sent:
        return 1;
    case CountedDirection::Both:
        break;
    }
    return 2;
}

std::string PlanGroup(std::string_view networkId) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string group(kGroupPrefix);
    for (const char c : networkId) {
        if (KeptAsItIs(c)) {
            group += c;
        } else {
            const auto byte = static_cast<unsigned char>(c);
            group += '_';
            group += kHex[byte >> 4];
            group += kHex[byte & 15];
        }
    }
    return group;
}

std::optional<std::string> NetworkOfPlanGroup(std::string_view group) {
    if (!group.starts_with(kGroupPrefix)) {
        return std::nullopt;
    }
    group.remove_prefix(kGroupPrefix.size());
    std::string id;
    for (std::size_t i = 0; i < group.size(); ++i) {
        if (KeptAsItIs(group[i])) {
            id += group[i];
            continue;
        }
        if (group[i] != '_' || i + 2 >= group.size() || HexDigit(group[i + 1]) < 0 ||
            HexDigit(group[i + 2]) < 0) {
            return std::nullopt;
        }
        id += static_cast<char>(HexDigit(group[i + 1]) * 16 + HexDigit(group[i + 2]));
        i += 2;
    }
    return id;
}

std::optional<NetworkPlan> ReadNetworkPlan(platform::SettingsStore& settings,
                                           std::string_view networkId) {
    const std::int32_t kind = settings.ReadLong(Key(networkId, values::kPlanKind.name), -1);
    if (kind < 0 || kind > 2) {
        return std::nullopt;
    }
    NetworkPlan plan{
        .network = std::string(networkId),
        .kind = static_cast<PlanKind>(kind),
        .limitMb = settings.ReadLong(Key(networkId, values::kPlanLimit.name),
                                     values::kPlanLimit.defaultValue),
        .direction = DirectionOfStored(settings.ReadLong(
            Key(networkId, values::kPlanDirection.name), values::kPlanDirection.defaultValue)),
        .billingDay = std::clamp(settings.ReadLong(Key(networkId, values::kPlanBillingDay.name),
                                                   values::kPlanBillingDay.defaultValue),
                                 1, 31),
        .days = settings.ReadLong(Key(networkId, values::kPackageDays.name),
                                  values::kPackageDays.defaultValue)};
    if (plan.kind == PlanKind::Unlimited) {
        plan.limitMb = 0;
        return plan;
    }
    if (plan.limitMb <= 0) {
        return std::nullopt;
    }
    if (plan.kind == PlanKind::Package) {
        const auto start = ParseIsoDate(
            settings.ReadText(Key(networkId, values::kPackageStart.name), std::string()));
        if (!start || plan.days < 1 || plan.days > kLongestPackage) {
            return std::nullopt;
        }
        plan.start = *start;
    }
    return plan;
}

std::vector<NetworkPlan> ReadNetworkPlans(platform::SettingsStore& settings) {
    std::vector<NetworkPlan> plans;
    for (const std::string& group : settings.Groups()) {
        if (const auto network = NetworkOfPlanGroup(group)) {
            if (auto plan = ReadNetworkPlan(settings, *network)) {
                plans.push_back(std::move(*plan));
            }
        }
    }
    return plans;
}

void WriteNetworkPlan(platform::SettingsStore& settings, const NetworkPlan& plan) {
    // Whole: a monthly plan keeps no start of an earlier package, nor a forgetting.
    settings.RemoveGroup(PlanGroup(plan.network));
    const std::string_view id = plan.network;
    settings.WriteLong(Key(id, values::kPlanKind.name), static_cast<std::int32_t>(plan.kind));
    if (plan.kind == PlanKind::Unlimited) {
        return;
    }
    settings.WriteLong(Key(id, values::kPlanLimit.name), plan.limitMb);
    settings.WriteLong(Key(id, values::kPlanDirection.name), StoredDirection(plan.direction));
    if (plan.kind == PlanKind::Monthly) {
        settings.WriteLong(Key(id, values::kPlanBillingDay.name), plan.billingDay);
    } else {
        settings.WriteText(Key(id, values::kPackageStart.name), FormatIsoDate(plan.start));
        settings.WriteLong(Key(id, values::kPackageDays.name), plan.days);
    }
}

void RemoveNetworkPlan(platform::SettingsStore& settings, std::string_view networkId) {
    const std::string forgotten =
        settings.ReadText(Key(networkId, values::kForgottenAt.name), std::string());
    settings.RemoveGroup(PlanGroup(networkId));
    if (!forgotten.empty()) {
        settings.WriteText(Key(networkId, values::kForgottenAt.name), forgotten);
    }
}

void ForgetNetwork(platform::SettingsStore& settings, std::string_view networkId,
                   std::string_view lastSeen) {
    settings.RemoveGroup(PlanGroup(networkId));
    settings.WriteText(Key(networkId, values::kForgottenAt.name), std::string(lastSeen));
}

bool Forgotten(platform::SettingsStore& settings, std::string_view networkId,
               std::string_view lastSeen) {
    const std::string forgottenAt =
        settings.ReadText(Key(networkId, values::kForgottenAt.name), std::string());
    // Dates compare as text; seen again later, the network is back.
    return !forgottenAt.empty() && lastSeen <= forgottenAt;
}

std::optional<Period> PlanPeriod(const NetworkPlan& plan, const CalendarDate& today) {
    switch (plan.kind) {
    case PlanKind::Monthly:
        return PeriodContaining(today, plan.billingDay);
    case PlanKind::Package: {
        const std::int32_t first = DaysSinceEpoch(plan.start);
        const Period period{plan.start, DateOfDay(first + plan.days - 1)};
        if (today < period.first || period.last < today) {
            return std::nullopt;
        }
        return period;
    }
    case PlanKind::Unlimited:
        break;
    }
    return std::nullopt;
}

bool PlanInForce(const NetworkPlan& plan, const CalendarDate& today) {
    return plan.kind != PlanKind::Package || PlanPeriod(plan, today).has_value();
}

LimitSettings PlanLimitSettings(const NetworkPlan& plan, const LimitSettings& shared) {
    LimitSettings settings = shared;
    settings.limitMb = plan.kind == PlanKind::Unlimited ? 0 : plan.limitMb;
    settings.direction = plan.direction;
    settings.billingDay = plan.billingDay;
    return settings;
}

std::string PlanText(const NetworkPlan& plan, std::string_view separator) {
    const double limitKb = LimitKilobytes(plan.limitMb);
    const bool inGigabytes = plan.limitMb >= 1024;
    const std::string limit = Amount(limitKb, inGigabytes ? 1024.0 * 1024 : 1024.0, separator) +
                              (inGigabytes ? " GB" : " MB");
    switch (plan.kind) {
    case PlanKind::Monthly:
        return limit + " miesięcznie od " + std::to_string(plan.billingDay) + ". dnia";
    case PlanKind::Package:
        return "pakiet " + limit + " na " + std::to_string(plan.days) +
               (plan.days == 1 ? " dzień" : " dni") + " od " + FormatIsoDate(plan.start);
    case PlanKind::Unlimited:
        break;
    }
    return "bez limitu";
}

std::optional<NetworkHour> ParseNetworkHour(std::string_view text) {
    auto line = [&]() -> std::optional<std::string_view> {
        const std::size_t end = text.find('\n');
        if (end == std::string_view::npos) {
            return std::nullopt; // a line cut short is no line
        }
        const std::string_view taken = text.substr(0, end);
        text.remove_prefix(end + 1);
        return taken;
    };
    const auto header = line();
    const auto hourLine = line();
    if (header != "quantiro-networks 1" || !hourLine || hourLine->size() != 18 ||
        !hourLine->starts_with("hour ")) {
        return std::nullopt;
    }
    const auto date = ParseIsoDate(hourLine->substr(5, 10));
    const auto hour = ParseWholeText<int>(hourLine->substr(16));
    if (!date || !hour || *hour < 0 || *hour > 23) {
        return std::nullopt;
    }
    NetworkHour parsed{.date = *date, .hour = *hour, .networks = {}};
    while (!text.empty()) {
        const auto row = line();
        if (!row) {
            return std::nullopt;
        }
        std::string_view fields[5];
        std::string_view rest = *row;
        for (std::size_t i = 0; i < 5; ++i) {
            const std::size_t tab = i < 4 ? rest.find('\t') : rest.size();
            if (tab == std::string_view::npos) {
                return std::nullopt;
            }
            fields[i] = rest.substr(0, tab);
            rest.remove_prefix(std::min(tab + 1, rest.size()));
        }
        const auto download = ParseWholeText<std::int64_t>(fields[1]);
        const auto upload = ParseWholeText<std::int64_t>(fields[2]);
        if (fields[0].empty() || !download || !upload) {
            return std::nullopt;
        }
        parsed.networks[std::string(fields[0])] = {static_cast<double>(*download),
                                                   static_cast<double>(*upload)};
    }
    return parsed;
}

namespace {

std::string Number(double value) {
    char number[48];
    std::snprintf(number, sizeof number, "%.17g", value);
    return number;
}

std::vector<std::string_view> Fields(std::string_view line) {
    std::vector<std::string_view> fields;
    while (true) {
        const std::size_t tab = line.find('\t');
        fields.push_back(line.substr(0, tab));
        if (tab == std::string_view::npos) {
            return fields;
        }
        line.remove_prefix(tab + 1);
    }
}

std::optional<Period> PeriodOf(std::string_view first, std::string_view last) {
    const auto from = ParseIsoDate(first), to = ParseIsoDate(last);
    if (!from || !to) {
        return std::nullopt;
    }
    return Period{*from, *to};
}

std::string HourKey(const CalendarDate& date, int hour) {
    char text[8];
    std::snprintf(text, sizeof text, " %02d", hour % 100);
    return FormatIsoDate(date) + text;
}

} // namespace

std::string SerializePlans(const PlanStates& states) {
    // Ids go as their group names, which hold no tab or line end.
    std::string text;
    for (const auto& [network, state] : states.plans) {
        text += "plan\t" + PlanGroup(network) + "\t" + FormatIsoDate(state.period.first) + "\t" +
                FormatIsoDate(state.period.last) + "\t" + std::to_string(state.notified) + "\t" +
                std::to_string(state.limitMb) + "\t" + std::to_string(state.noticeId) + "\n";
    }
    for (const NetworkUseSum& sum : states.sums) {
        text += "use\t" + PlanGroup(sum.network) + "\t" + FormatIsoDate(sum.period.first) + "\t" +
                FormatIsoDate(sum.period.last) + "\t" + sum.hour + "\t" +
                Number(sum.otherHours.received) + "\t" + Number(sum.otherHours.sent) + "\t" +
                Number(sum.inHour.received) + "\t" + Number(sum.inHour.sent) + "\n";
    }
    return text;
}

PlanStates ParsePlans(std::string_view text) {
    PlanStates states;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        const std::vector<std::string_view> fields = Fields(text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));
        const auto network = fields.size() > 1 ? NetworkOfPlanGroup(fields[1]) : std::nullopt;
        const auto period = fields.size() > 3 ? PeriodOf(fields[2], fields[3]) : std::nullopt;
        if (!network || !period) {
            continue; // the shared plan's line, or garbage
        }
        if (fields[0] == "plan" && fields.size() == 7) {
            const auto notified = ParseWholeText<std::uint32_t>(fields[4]);
            const auto limit = ParseWholeText<std::int32_t>(fields[5]);
            const auto notice = ParseWholeText<std::uint32_t>(fields[6]);
            if (notified && limit && notice) {
                WatchState& state = states.plans[*network];
                state.period = *period;
                state.notified = *notified & 7u;
                state.limitMb = *limit;
                state.noticeId = *notice;
            }
        } else if (fields[0] == "use" && fields.size() == 9) {
            double figures[4];
            bool read = true;
            for (std::size_t i = 0; i < 4; ++i) {
                const auto figure = ParseWholeText<double>(fields[5 + i]);
                read = read && figure && std::isfinite(*figure);
                figures[i] = figure.value_or(0);
            }
            if (read) {
                states.sums.push_back({.network = *network,
                                       .period = *period,
                                       .hour = std::string(fields[4]),
                                       .otherHours = {figures[0], figures[1]},
                                       .inHour = {figures[2], figures[3]}});
            }
        }
    }
    return states;
}

std::optional<PeriodTraffic> NetworkUse(PlanStates& states, std::vector<NetworkUseSum>& used,
                                        const std::string& network, const Period& period,
                                        const std::optional<NetworkHour>& open,
                                        const CalendarDate& today, int hourNow, bool fresh,
                                        const NetworkRecordsSum& sum) {
    const CalendarDate hourDate = open ? open->date : today;
    const int hour = open ? open->hour : hourNow;
    const std::string key = HourKey(hourDate, hour);
    auto kept = std::find_if(used.begin(), used.end(), [&](const NetworkUseSum& entry) {
        return entry.network == network && entry.period == period;
    });
    if (kept == used.end()) {
        const auto stored =
            std::find_if(states.sums.begin(), states.sums.end(), [&](const NetworkUseSum& entry) {
                return entry.network == network && entry.period == period && entry.hour == key;
            });
        if (stored != states.sums.end() && !fresh) {
            used.push_back(*stored);
        } else if (const auto summed = sum(network, period, hourDate, hour)) {
            used.push_back({.network = network,
                            .period = period,
                            .hour = key,
                            .otherHours = summed->first,
                            .inHour = summed->second});
        } else {
            return std::nullopt;
        }
        kept = used.end() - 1;
    }
    PeriodTraffic traffic = kept->otherHours;
    PeriodTraffic hourTraffic = kept->inHour;
    const bool hourInPeriod = !(hourDate < period.first) && !(period.last < hourDate);
    if (open && hourInPeriod) {
        if (const auto figures = open->networks.find(network); figures != open->networks.end()) {
            hourTraffic.received = std::max(hourTraffic.received, figures->second.received);
            hourTraffic.sent = std::max(hourTraffic.sent, figures->second.sent);
        }
    }
    traffic.received += hourTraffic.received;
    traffic.sent += hourTraffic.sent;
    return traffic;
}

std::optional<Notice> CheckPlan(WatchState& state, const LimitSettings& settings,
                                const Period& period, const PeriodTraffic& used,
                                const std::function<std::string()>& networkName,
                                const std::function<std::string()>& decimalSeparator) {
    if (!(state.period == period)) {
        state.period = period; // a new period, or a renewed package, starts clean
        state.notified = 0;
    }
    if (settings.limitMb <= 0) {
        return std::nullopt;
    }
    const double usedKb = std::max(CountedKb(used.received, used.sent, settings.direction), 0.0);
    const double limitKb = settings.LimitKb();
    const std::optional<std::int32_t> threshold =
        DueThreshold(state, settings, usedKb * 100 / limitKb);
    if (!threshold) {
        return std::nullopt;
    }
    const std::string name = networkName();
    Notice notice;
    notice.threshold = *threshold;
    notice.critical = *threshold >= 100;
    notice.summary = *threshold >= 100
                         ? "Limit sieci " + name + " został wykorzystany"
                         : "Wykorzystano " + std::to_string(*threshold) + " % limitu sieci " + name;
    notice.body = name + ": " +
                  presentation::PlanUseText(usedKb, limitKb, period.last, decimalSeparator()) + ".";
    return notice;
}

} // namespace quantiro::limits
