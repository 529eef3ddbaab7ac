// quantiro-limits: started by the meter as ZVlimiter.dll /<received> /<sent> /yes
// at its start and ... /no every two seconds while warnings are on. It warns once
// per threshold and billing period, and costs almost nothing when no warning is
// due: no Qt, no D-Bus and no SQLite are loaded then.
#include "app/DesktopNotice.h"
#include "app/FamilySettings.h"
#include "app/LimitsRecordsModule.h"
#include "app/Modules.h"
#include "common/Console.h"
#include "common/DecimalText.h"
#include "common/FamilyPaths.h"
#include "common/IgnoringErrors.h"
#include "limits/LimitCheck.h"
#include "limits/NetworkPlans.h"
#include "platform/Files.h"
#include "platform/linux/IniFileSettings.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

using namespace quantiro;

// "/<whole number>" as the meter writes its totals.
std::optional<double> Amount(const char* argument) {
    const std::string_view text(argument);
    long long value = 0;
    if (text.size() < 2 || text[0] != '/') {
        return std::nullopt;
    }
    const auto [end, error] = std::from_chars(text.data() + 1, text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return static_cast<double>(value);
}

// One start at a time: an overlapping one leaves the work to the one running. The
// state directory is made only when it is not there yet. False when another start
// holds the lock; throws PathError when the directory cannot be made.
bool TakeWatchLock(const paths::FamilyPaths& paths) {
    const std::string lockPath = paths.stateDirectory + "/limits.lock";
    int lock = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock < 0 && errno == ENOENT) {
        platform::MakePrivateDirectory(paths.stateDirectory);
        lock = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    }
    // The descriptor stays open, and the lock held, until the process ends.
    return lock >= 0 && ::flock(lock, LOCK_EX | LOCK_NB) == 0;
}

limits::Moment LocalMoment() {
    const std::time_t clock = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&clock, &local);
    return {{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday},
            (local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec) / 86400.0};
}

// The period's stored traffic, summed by the records module; nothing when it
// cannot be loaded or the database read.
std::optional<limits::PeriodTraffic> StoredTraffic(const paths::FamilyPaths& paths,
                                                   const limits::Period& period) {
    const auto sum = app::LoadModuleFunction<app::SumPeriodFunction>(
        paths.programDirectory, app::kLimitsRecordsModule, app::kSumPeriodSymbol);
    if (!sum) {
        quantiro::Write(stderr, "quantiro-limits: " + std::string(::dlerror()) + '\n');
        return std::nullopt;
    }
    const std::string database = paths::TrafficDatabase(paths.dataDirectory);
    limits::PeriodTraffic traffic;
    if (!sum(database.c_str(), &period.first, &period.last, &traffic.received, &traffic.sent)) {
        return std::nullopt;
    }
    return traffic;
}

// A network's stored traffic in a period, the hour given apart, summed by the
// records module; nothing when it cannot be loaded or the database read.
std::optional<std::pair<limits::PeriodTraffic, limits::PeriodTraffic>>
StoredNetworkTraffic(const paths::FamilyPaths& paths, const std::string& network,
                     const limits::Period& period, const CalendarDate& hourDate, int hour) {
    const auto sum = app::LoadModuleFunction<app::SumNetworkFunction>(
        paths.programDirectory, app::kLimitsRecordsModule, app::kSumNetworkSymbol);
    if (!sum) {
        quantiro::Write(stderr, "quantiro-limits: " + std::string(::dlerror()) + '\n');
        return std::nullopt;
    }
    const std::string database = paths::TrafficDatabase(paths.dataDirectory);
    limits::PeriodTraffic other, inHour;
    if (!sum(database.c_str(), network.c_str(), &period.first, &period.last, &hourDate, hour,
             &other.received, &other.sent, &inHour.received, &inHour.sent)) {
        return std::nullopt;
    }
    return std::pair{other, inHour};
}

// The network's name as the records know it, else its id.
std::string NetworkName(const paths::FamilyPaths& paths, const std::string& network) {
    if (const auto name = app::LoadModuleFunction<app::NetworkNameFunction>(
            paths.programDirectory, app::kLimitsRecordsModule, app::kNetworkNameSymbol)) {
        const std::string database = paths::TrafficDatabase(paths.dataDirectory);
        char text[256] = {};
        if (name(database.c_str(), network.c_str(), text, sizeof text)) {
            return text;
        }
    }
    return network;
}

// The warning's text, with what used the period (on `network` only, when given)
// when the counting service recorded it.
std::string NoticeBody(const paths::FamilyPaths& paths, const limits::Notice& notice,
                       const limits::Period& period, const char* network = nullptr) {
    std::string body = notice.body;
    if (const auto top = app::LoadModuleFunction<app::TopApplicationsFunction>(
            paths.programDirectory, app::kLimitsRecordsModule, app::kTopApplicationsSymbol)) {
        const std::string database = paths::TrafficDatabase(paths.dataDirectory);
        char names[256] = {};
        if (top(database.c_str(), network, &period.first, &period.last, names, sizeof names)) {
            body += std::string("\nNajwięcej zużyły: ") + names + ".";
        }
    }
    return body;
}

// The plans of networks in force today, and whether any of them has a limit to watch.
struct PlansToday {
    std::vector<limits::NetworkPlan> inForce;
    bool anyLimit = false;
};
PlansToday PlansOf(platform::SettingsStore& settings, const CalendarDate& today) {
    PlansToday plans;
    for (limits::NetworkPlan& plan : limits::ReadNetworkPlans(settings)) {
        if (limits::PlanInForce(plan, today)) {
            plans.anyLimit =
                plans.anyLimit || (plan.limitMb > 0 && limits::PlanPeriod(plan, today));
            plans.inForce.push_back(std::move(plan));
        }
    }
    return plans;
}

} // namespace

int main(int argc, char** argv) {
    const std::optional<double> received = argc == 4 ? Amount(argv[1]) : std::nullopt;
    const std::optional<double> sent = argc == 4 ? Amount(argv[2]) : std::nullopt;
    const std::string_view when = argc == 4 ? argv[3] : "";
    if (!received || !sent || (when != "/yes" && when != "/no")) {
        quantiro::Write(stderr, "Użycie: quantiro-limits /<odebrane kB> /<wysłane kB> /yes|/no\n");
        return 2;
    }
    const paths::FamilyPaths paths = paths::FromEnvironment();
    platform::linux_impl::IniFileSettings settings(paths::SettingsFile(paths.configHome));
    const limits::LimitSettings limitSettings = app::ReadLimitSettings(settings);
    const limits::Moment now = LocalMoment();
    const PlansToday plans = PlansOf(settings, now.today);
    if (limitSettings.limitMb <= 0 && !plans.anyLimit) {
        return 0; // no limit, nothing to watch
    }
    try {
        if (!TakeWatchLock(paths)) {
            return 0;
        }
    } catch (const paths::PathError& error) {
        quantiro::Write(stderr, "quantiro-limits: " + std::string(error.what()) + '\n');
        return 1;
    }
    const std::string statePath = paths::LimitsState(paths.stateDirectory);
    std::string savedState = platform::ReadFileWhole(statePath);
    limits::WatchState state = limits::ParseState(savedState);
    limits::PlanStates planStates = limits::ParsePlans(savedState);
    // The open hour's figures per network, as the meter last wrote them; read only
    // for plans of networks, so a user without one costs the start nothing more.
    const std::optional<limits::NetworkHour> openHour =
        plans.inForce.empty() ? std::nullopt
                              : limits::ParseNetworkHour(platform::ReadFileWhole(
                                    paths::NetworkHourFile(paths.runtimeDirectory), 1 << 20));
    std::vector<limits::NetworkUseSum> sums;
    auto networkUse = [&](const std::string& network, const limits::Period& period) {
        return limits::NetworkUse(
            planStates, sums, network, period, openHour, now.today,
            static_cast<int>(now.dayFraction * 24), when == "/yes",
            [&](const std::string& id, const limits::Period& within, const CalendarDate& hourDate,
                int hour) { return StoredNetworkTraffic(paths, id, within, hourDate, hour); });
    };
    // The shared plan counts what no network's own plan takes; when that cannot be
    // known yet (the records unreadable), it waits for the next start.
    std::optional<limits::PeriodTraffic> ownPlansTraffic = limits::PeriodTraffic{};
    const limits::Period sharedPeriod =
        limits::PeriodContaining(now.today, limitSettings.billingDay);
    for (const limits::NetworkPlan& plan : plans.inForce) {
        if (limitSettings.limitMb <= 0) {
            break; // no shared limit: nothing to leave out of it
        }
        const auto use = ownPlansTraffic ? networkUse(plan.network, sharedPeriod) : std::nullopt;
        if (!use) {
            ownPlansTraffic.reset();
            break;
        }
        ownPlansTraffic->received += use->received;
        ownPlansTraffic->sent += use->sent;
    }
    // The decimal separator of the user's language, looked up only for a warning; the
    // process locale stays "C", so the state file's numbers always carry a point.
    std::optional<limits::Notice> notice;
    if (limitSettings.limitMb > 0 && ownPlansTraffic) {
        notice = limits::Check(
            state, limitSettings, now, *received, *sent, when == "/yes",
            [&](const limits::Period& period) { return StoredTraffic(paths, period); },
            EnvironmentDecimalSeparator, [&](const limits::Period&) { return *ownPlansTraffic; });
    }
    struct PlanNotice {
        std::string network;
        limits::Notice notice;
    };
    std::vector<PlanNotice> planNotices;
    std::map<std::string, limits::WatchState, std::less<>> planWarnings;
    for (const limits::NetworkPlan& plan : plans.inForce) {
        const auto period = limits::PlanPeriod(plan, now.today);
        const auto use = period ? networkUse(plan.network, *period) : std::nullopt;
        limits::WatchState& planState = planWarnings[plan.network] = planStates.plans[plan.network];
        if (!use) {
            continue;
        }
        if (auto warning = limits::CheckPlan(
                planState, limits::PlanLimitSettings(plan, limitSettings), *period, *use,
                [&] { return NetworkName(paths, plan.network); }, EnvironmentDecimalSeparator)) {
            planNotices.push_back({plan.network, std::move(*warning)});
        }
    }
    // Written whole (a start never reads half a state), and before the warning shows,
    // so that no later start warns of it again. An unchanged state is not rewritten:
    // while the line is idle most starts change nothing. Plans gone take their
    // warnings along, and only the sums this start used are kept.
    const auto save = [&] {
        std::string text = limits::Serialize(state) +
                           limits::SerializePlans({.plans = planWarnings, .sums = sums});
        if (text != savedState) {
            platform::WriteFileWhole(statePath, text);
            savedState = std::move(text);
        }
    };
    IgnoringErrors(save);
    if (notice) {
        state.noticeId =
            app::ShowDesktopNotice(paths.programDirectory, state.noticeId, notice->critical,
                                   notice->summary, NoticeBody(paths, *notice, state.period));
        IgnoringErrors(save);
    }
    for (const PlanNotice& planNotice : planNotices) {
        limits::WatchState& planState = planWarnings[planNotice.network];
        planState.noticeId = app::ShowDesktopNotice(
            paths.programDirectory, planState.noticeId, planNotice.notice.critical,
            planNotice.notice.summary,
            NoticeBody(paths, planNotice.notice, planState.period, planNotice.network.c_str()));
        IgnoringErrors(save);
    }
    return 0;
}
