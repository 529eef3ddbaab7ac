#pragma once

#include "limits/BillingPeriod.h"
#include "limits/LimitCheck.h"
#include "platform/Settings.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// A plan per network: the home Wi-Fi unlimited, a phone's hotspot 5 GB a month, a
// modem's prepaid 10 GB for 30 days. Each lives in a group of its own in the
// family's settings file; the limit values of the top level stay the plan shared
// by every network without one, so a user who never sets a network's plan sees
// no change.
namespace quantiro::limits {

enum class PlanKind { Monthly, Package, Unlimited };

struct NetworkPlan {
    std::string network; // the network's id, as the records hold it
    PlanKind kind = PlanKind::Monthly;
    std::int32_t limitMb = 0;
    CountedDirection direction = CountedDirection::Both;
    std::int32_t billingDay = 1; // monthly
    CalendarDate start{};        // a package's first day
    std::int32_t days = 30;      // and how many it lasts
    bool operator==(const NetworkPlan&) const = default;
};

// "LimitKierunek": 0 received, 1 sent, anything else both.
CountedDirection DirectionOfStored(std::int32_t stored);
std::int32_t StoredDirection(CountedDirection direction);

// The settings group of a network's plan: "Siec-" and the id with every byte but
// letters, digits, '-' and '.' written as "_XX", so any id (an SSID's odd bytes,
// the colon of "nm:") makes a group name the file keeps as it is.
std::string PlanGroup(std::string_view networkId);
// The network a group is for; nullopt for a group that is no plan's.
std::optional<std::string> NetworkOfPlanGroup(std::string_view group);

// The network's own plan; nullopt when it has none (or a stored one that makes no
// sense: no limit, a package without a start), and the shared plan is its plan.
std::optional<NetworkPlan> ReadNetworkPlan(platform::SettingsStore& settings,
                                           std::string_view networkId);
// Every network's own plan.
std::vector<NetworkPlan> ReadNetworkPlans(platform::SettingsStore& settings);
// Replaces the network's plan (and unforgets it); SettingsError when it cannot be written.
void WriteNetworkPlan(platform::SettingsStore& settings, const NetworkPlan& plan);
// The network goes back to the shared plan.
void RemoveNetworkPlan(platform::SettingsStore& settings, std::string_view networkId);
// Its plan goes, and the network is not listed again until it is seen on a day
// after `lastSeen`; its records stay.
void ForgetNetwork(platform::SettingsStore& settings, std::string_view networkId,
                   std::string_view lastSeen);
// Whether a network last seen on `lastSeen` (yyyy-mm-dd) stays forgotten.
bool Forgotten(platform::SettingsStore& settings, std::string_view networkId,
               std::string_view lastSeen);

// The plan's period that holds `today`; nullopt when no limit applies then: no
// limit at all, or a package not begun or already ended.
std::optional<Period> PlanPeriod(const NetworkPlan& plan, const CalendarDate& today);
// Whether the plan takes its network's traffic out of the shared plan on `today`:
// a monthly or unlimited plan always, a package only while it runs (ended, it
// counts as no plan until renewed).
bool PlanInForce(const NetworkPlan& plan, const CalendarDate& today);
// The plan's limit with the shared thresholds, switch and pause.
LimitSettings PlanLimitSettings(const NetworkPlan& plan, const LimitSettings& shared);

// "5,00 GB miesięcznie od 12. dnia", "pakiet 10,00 GB na 30 dni od 2026-12-01",
// "bez limitu": how the options list a plan.
std::string PlanText(const NetworkPlan& plan, std::string_view separator);

// The open hour's figures per network, as the meter writes them to
// paths::NetworkHourFile: kB received and sent by network id.
struct NetworkHour {
    CalendarDate date;
    int hour = 0;
    std::map<std::string, PeriodTraffic, std::less<>> networks;
};
// Nothing for a text that is not such a file (cut short, another version).
std::optional<NetworkHour> ParseNetworkHour(std::string_view text);

// What the limit watcher keeps between starts for the plans of networks: each
// plan's warnings, and each network's traffic in a period as the records last held
// it (every hour but one, and that hour), so a start sums the records once an hour.
struct NetworkUseSum {
    std::string network;
    Period period;
    std::string hour; // "yyyy-mm-dd hh": the hour apart
    PeriodTraffic otherHours, inHour;
};
struct PlanStates {
    std::map<std::string, WatchState, std::less<>> plans; // by network id
    std::vector<NetworkUseSum> sums;
};
// Lines the shared plan's state (Serialize, ParseState) passes over, so both share
// limits.state.
std::string SerializePlans(const PlanStates& states);
PlanStates ParsePlans(std::string_view text);

// The records' traffic of `network` in `period`: the hour "yyyy-mm-dd hh" apart
// from the other hours; nothing when they cannot be read.
using NetworkRecordsSum = std::function<std::optional<std::pair<PeriodTraffic, PeriodTraffic>>(
    const std::string& network, const Period& period, const CalendarDate& hourDate, int hour)>;

// A network's traffic in `period`: its records (summed again when the open hour is
// another than last time, or `fresh`) and, for the open hour, the larger of the
// records' and the meter's figure; the meter's file may be stale after it stopped,
// by when its hour was saved. `open` is that file; without it the hour is `now`'s.
// Nothing when the records cannot be read.
std::optional<PeriodTraffic> NetworkUse(PlanStates& states, std::vector<NetworkUseSum>& used,
                                        const std::string& network, const Period& period,
                                        const std::optional<NetworkHour>& open,
                                        const CalendarDate& today, int hourNow, bool fresh,
                                        const NetworkRecordsSum& sum);

// A network's own plan against its own traffic `used` in `period`; the warning
// names the network and the plan's use.
std::optional<Notice> CheckPlan(WatchState& state, const LimitSettings& settings,
                                const Period& period, const PeriodTraffic& used,
                                const std::function<std::string()>& networkName,
                                const std::function<std::string()>& decimalSeparator);

} // namespace quantiro::limits
