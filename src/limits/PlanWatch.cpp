#include "limits/PlanWatch.h"

#include <algorithm>

namespace quantiro::limits {

int PlanWatch::Reached(const Tracked& tracked) {
    const double used =
        CountedKb(tracked.traffic.received, tracked.traffic.sent, tracked.settings.direction);
    const double percent = used * 100 / tracked.settings.LimitKb();
    return static_cast<int>(std::count_if(
        tracked.settings.thresholds.begin(), tracked.settings.thresholds.end(),
        [&](std::int32_t threshold) { return threshold > 0 && percent >= threshold; }));
}

void PlanWatch::Reset(
    const std::vector<NetworkPlan>& plans, const LimitSettings& shared, const CalendarDate& today,
    const std::function<PeriodTraffic(const NetworkPlan&, const Period&)>& stored) {
    m_day = today;
    m_plans.clear();
    for (const NetworkPlan& plan : plans) {
        const auto period = PlanPeriod(plan, today);
        if (!period || plan.limitMb <= 0) {
            continue;
        }
        Tracked tracked{.plan = plan,
                        .settings = PlanLimitSettings(plan, shared),
                        .period = *period,
                        .traffic = stored(plan, *period)};
        tracked.reached = Reached(tracked);
        m_plans.push_back(std::move(tracked));
    }
}

bool PlanWatch::Add(std::string_view network, double receivedKb, double sentKb) {
    bool crossed = false;
    for (Tracked& tracked : m_plans) {
        if (tracked.plan.network != network) {
            continue;
        }
        tracked.traffic.received += receivedKb;
        tracked.traffic.sent += sentKb;
        const int reached = Reached(tracked);
        crossed = crossed || reached > tracked.reached;
        tracked.reached = std::max(reached, tracked.reached);
    }
    return crossed;
}

PlanWatch::Use PlanWatch::UseOfTracked(const Tracked& tracked) {
    return {.usedKb = CountedKb(tracked.traffic.received, tracked.traffic.sent,
                                tracked.settings.direction),
            .limitKb = tracked.settings.LimitKb(),
            .period = tracked.period};
}

std::optional<PlanWatch::Use> PlanWatch::UseOf(std::string_view network) const {
    for (const Tracked& tracked : m_plans) {
        if (tracked.plan.network == network) {
            return UseOfTracked(tracked);
        }
    }
    return std::nullopt;
}

std::vector<std::pair<std::string, PlanWatch::Use>> PlanWatch::Uses() const {
    std::vector<std::pair<std::string, Use>> uses;
    for (const Tracked& tracked : m_plans) {
        uses.emplace_back(tracked.plan.network, UseOfTracked(tracked));
    }
    return uses;
}

} // namespace quantiro::limits
