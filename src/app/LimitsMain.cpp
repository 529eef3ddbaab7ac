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
#include "platform/Files.h"
#include "platform/linux/IniFileSettings.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <ctime>

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

// The warning's text, with what used the period when the counting service
// recorded it.
std::string NoticeBody(const paths::FamilyPaths& paths, const limits::Notice& notice,
                       const limits::Period& period) {
    std::string body = notice.body;
    if (const auto top = app::LoadModuleFunction<app::TopApplicationsFunction>(
            paths.programDirectory, app::kLimitsRecordsModule, app::kTopApplicationsSymbol)) {
        const std::string database = paths::TrafficDatabase(paths.dataDirectory);
        char names[256] = {};
        if (top(database.c_str(), &period.first, &period.last, names, sizeof names)) {
            body += std::string("\nNajwięcej zużyły: ") + names + ".";
        }
    }
    return body;
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
    if (limitSettings.limitMb <= 0) {
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
    // The decimal separator of the user's language, looked up only for a warning; the
    // process locale stays "C", so the state file's numbers always carry a point.
    const std::optional<limits::Notice> notice = limits::Check(
        state, limitSettings, LocalMoment(), *received, *sent, when == "/yes",
        [&](const limits::Period& period) { return StoredTraffic(paths, period); },
        EnvironmentDecimalSeparator);
    // Written whole (a start never reads half a state), and before the warning shows,
    // so that no later start warns of it again. An unchanged state is not rewritten:
    // while the line is idle most starts change nothing.
    const auto save = [&] {
        std::string text = limits::Serialize(state);
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
    return 0;
}
