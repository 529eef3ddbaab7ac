#pragma once

#include "limits/NetworkPlans.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quantiro::limits {

// The plans of networks as the meter follows them between the limit watcher's
// starts: each plan's use in its period, summed once from the records and then
// counted on in memory, so the meter sees a threshold crossed without asking the
// system anything, and can show the current network's use.
class PlanWatch {
public:
    struct Use {
        double usedKb = 0; // as the plan counts it (its direction)
        double limitKb = 0;
        Period period;
    };

    // The plans with a limit in force on `today`, each starting from what the
    // records hold for its network and period (`stored`); the thresholds are the
    // shared ones. Crossings already behind a plan's use do not count again.
    void Reset(const std::vector<NetworkPlan>& plans, const LimitSettings& shared,
               const CalendarDate& today,
               const std::function<PeriodTraffic(const NetworkPlan&, const Period&)>& stored);
    // Adds what `network` carried; true when that took its plan over a threshold.
    bool Add(std::string_view network, double receivedKb, double sentKb);
    std::optional<Use> UseOf(std::string_view network) const;
    // Every plan followed, by its network's id.
    std::vector<std::pair<std::string, Use>> Uses() const;
    // The day Reset reckoned the periods for.
    const CalendarDate& Day() const { return m_day; }

private:
    struct Tracked {
        NetworkPlan plan;
        LimitSettings settings;
        Period period;
        PeriodTraffic traffic;
        int reached = 0; // thresholds at or below the use
    };
    static int Reached(const Tracked& tracked);
    static Use UseOfTracked(const Tracked& tracked);

    std::vector<Tracked> m_plans;
    CalendarDate m_day{};
};

} // namespace quantiro::limits
