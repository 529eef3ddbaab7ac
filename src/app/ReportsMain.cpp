// quantiro-reports: the traffic history. Started by the meter's menu as
// "zvraport.dll 1" it opens the reports window; as "ZVstat.dll 1" at the meter's
// start it tells of a month that has ended, once; from a terminal it exports. The
// window is a module loaded only when it opens, so the start-up summary and the
// exports load no Qt.
#include "app/DesktopNotice.h"
#include "app/Display.h"
#include "app/FamilySettings.h"
#include "app/Modules.h"
#include "app/Usage.h"
#include "common/DecimalText.h"
#include "common/FamilyPaths.h"
#include "common/IgnoringErrors.h"
#include "limits/BillingPeriod.h"
#include "platform/Files.h"
#include "platform/linux/GioDesktopEntries.h"
#include "platform/linux/IniFileSettings.h"
#include "platform/linux/SqliteDatabase.h"
#include "reports/ApplicationUse.h"
#include "reports/Exports.h"
#include "reports/MonthSummary.h"
#include "reports/NetworkUse.h"
#include "reports/ReportRows.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <iostream>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

using namespace quantiro;

struct Now {
    CalendarDate today;
    int hour = 0;
    int minute = 0;
    double DayFraction() const { return (hour * 60 + minute) / 1440.0; }
};

Now LocalNow() {
    const std::time_t clock = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&clock, &local);
    return {{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday}, local.tm_hour, local.tm_min};
}

struct TerminalRequest {
    enum class Output { Csv, Json, Summary } output = Output::Summary;
    std::optional<reports::Grouping> by;
    std::optional<CalendarDate> from, to;
    // --apps: the applications of this day or month instead of the traffic.
    std::optional<reports::ApplicationRange> applications;
    // --networks: the networks of this day or month, or each one's billing period,
    // instead of the traffic.
    std::optional<reports::ApplicationRange> networks;
    // --network: only this network's traffic, as the user named it.
    std::optional<std::string> network;
};

// "RRRR-MM-DD" a day, "RRRR-MM" its month; nullopt for anything else.
std::optional<reports::ApplicationRange> ApplicationRangeNamed(std::string_view text) {
    if (const auto day = ParseIsoDate(text)) {
        return reports::ApplicationRange{.span = reports::ApplicationRange::Span::Day,
                                         .anchor = *day};
    }
    if (const auto month = reports::ParseYearMonth(text); month && text.size() == 7) {
        return reports::ApplicationRange{.span = reports::ApplicationRange::Span::Month,
                                         .anchor = {month->year, month->month, 1}};
    }
    return std::nullopt;
}

// The terminal's options; a message for the user when they make no sense.
std::variant<TerminalRequest, std::string> ParseOptions(int argc, char** argv) {
    TerminalRequest request;
    int outputs = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        const bool hasValue = i + 1 < argc;
        if (option == "--csv" || option == "--json" || option == "--summary") {
            ++outputs;
            request.output = option == "--csv"    ? TerminalRequest::Output::Csv
                             : option == "--json" ? TerminalRequest::Output::Json
                                                  : TerminalRequest::Output::Summary;
        } else if (option == "--apps") {
            request.applications = reports::ApplicationRange{
                .span = reports::ApplicationRange::Span::Day, .anchor = LocalNow().today};
            if (hasValue && !std::string_view(argv[i + 1]).starts_with("--")) {
                request.applications = ApplicationRangeNamed(argv[++i]);
                if (!request.applications) {
                    return std::string("--apps przyjmuje dzień RRRR-MM-DD albo miesiąc RRRR-MM");
                }
            }
        } else if (option == "--networks") {
            const CalendarDate today = LocalNow().today;
            request.networks =
                reports::ApplicationRange{.span = reports::ApplicationRange::Span::Month,
                                          .anchor = {today.year, today.month, 1}};
            if (hasValue && std::string_view(argv[i + 1]) == "okres") {
                // Each network's own billing period; the shared billing day is read later.
                request.networks->span = reports::ApplicationRange::Span::BillingPeriod;
                request.networks->anchor = today;
                ++i;
            } else if (hasValue && !std::string_view(argv[i + 1]).starts_with("--")) {
                request.networks = ApplicationRangeNamed(argv[++i]);
                if (!request.networks) {
                    return std::string("--networks przyjmuje dzień RRRR-MM-DD, miesiąc RRRR-MM "
                                       "albo okres");
                }
            }
        } else if (option == "--network") {
            if (!hasValue || std::string_view(argv[i + 1]).empty()) {
                return std::string("--network przyjmuje nazwę sieci");
            }
            request.network = argv[++i];
        } else if (option == "--by") {
            request.by = hasValue ? reports::GroupingNamed(argv[++i]) : std::nullopt;
            if (!request.by) {
                return std::string("--by przyjmuje hour, day, month albo year");
            }
        } else if (option == "--from" || option == "--to") {
            const auto date = hasValue ? ParseIsoDate(argv[++i]) : std::nullopt;
            if (!date) {
                return std::string(option) + " przyjmuje datę w postaci RRRR-MM-DD";
            }
            (option == "--from" ? request.from : request.to) = date;
        } else {
            return "nieznana opcja " + std::string(option);
        }
    }
    if (request.networks) {
        if (request.applications || request.network || outputs > 1 ||
            (outputs == 1 && request.output != TerminalRequest::Output::Json) || request.by ||
            request.from || request.to) {
            return std::string("--networks przyjmuje tylko --json");
        }
        return request;
    }
    if (request.applications) {
        if (outputs > 1 || (outputs == 1 && request.output != TerminalRequest::Output::Json) ||
            request.by || request.from || request.to) {
            return std::string("--apps przyjmuje tylko --json i --network");
        }
        return request;
    }
    if (outputs != 1) {
        return std::string("podaj jedno z --csv, --json, --summary");
    }
    if (request.output == TerminalRequest::Output::Summary &&
        (request.by || request.from || request.to)) {
        return std::string("--summary nie przyjmuje --by, --from ani --to");
    }
    if (request.from && request.to && *request.to < *request.from) {
        return std::string("data --from jest późniejsza niż --to");
    }
    return request;
}

// The id of the network `--network` named; nullopt, told on standard error, when
// the records know no such network.
std::optional<std::optional<std::string>> NetworkFilter(const TerminalRequest& request,
                                                        platform::HourStore& database) {
    if (!request.network) {
        return std::optional<std::string>();
    }
    if (auto id = reports::NetworkIdNamed(database, *request.network)) {
        return id;
    }
    std::cerr << "quantiro-reports: nie ma zapisanej sieci „" << *request.network << "”\n";
    return std::nullopt;
}

// The networks of a day or a month, as a table or as JSON.
int RunNetworks(const TerminalRequest& request, const paths::FamilyPaths& paths) {
    platform::linux_impl::IniFileSettings settings(paths::SettingsFile(paths.configHome));
    const app::ReportSettings reportSettings = app::ReadReportSettings(settings);
    reports::ApplicationRange range = *request.networks;
    range.billingDay = reportSettings.limit.billingDay;
    reports::NetworkShares shares;
    try {
        const auto database = platform::linux_impl::OpenTrafficDatabaseForReading(
            paths::TrafficDatabase(paths.dataDirectory));
        shares = reports::LoadNetworks(*database, range, reportSettings.networkPlans);
    } catch (const platform::DatabaseError& error) {
        std::cerr << "quantiro-reports: " << error.what() << '\n';
        return 1;
    }
    std::string output;
    if (request.output == TerminalRequest::Output::Json) {
        output = reports::NetworksJson(shares);
    } else {
        // Each row says its own period; the title the shared one.
        output = reports::NetworksText(shares, range.Title(), EnvironmentDecimalSeparator(),
                                       reportSettings.localCounting);
    }
    std::fwrite(output.data(), 1, output.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

// The applications of a day or a month, as a table or as JSON.
int RunApplications(const TerminalRequest& request, const paths::FamilyPaths& paths) {
    const reports::ApplicationRange& range = *request.applications;
    reports::ApplicationHistory history;
    try {
        const auto database = platform::linux_impl::OpenTrafficDatabaseForReading(
            paths::TrafficDatabase(paths.dataDirectory));
        const auto network = NetworkFilter(request, *database);
        if (!network) {
            return 1;
        }
        history = reports::LoadApplications(*database, range.First(), range.Last(), *network);
    } catch (const platform::DatabaseError& error) {
        std::cerr << "quantiro-reports: " << error.what() << '\n';
        return 1;
    }
    // A system unit shows with systemd's description of it where the system bus tells it.
    platform::linux_impl::SystemdUnits units;
    platform::linux_impl::GioDesktopEntries entries(&units);
    std::string output;
    if (request.output == TerminalRequest::Output::Json) {
        const auto all = history.All(range.First(), range.Last());
        output = reports::ApplicationsJson(all, entries);
        // Standard output stays for the data.
        if (all.empty()) {
            std::cerr << "quantiro-reports: " << reports::kApplicationsNeedCollector << '\n';
        }
    } else {
        platform::linux_impl::IniFileSettings settings(paths::SettingsFile(paths.configHome));
        const reports::LocalCounting counting = app::ReadReportSettings(settings).localCounting;
        output = reports::ApplicationsText(
            history.Ranked(range.First(), range.Last(), reports::kNamedApplications, counting),
            range.Title(), entries, EnvironmentDecimalSeparator(), counting);
    }
    std::fwrite(output.data(), 1, output.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

int RunTerminal(const TerminalRequest& request, const paths::FamilyPaths& paths) {
    if (request.networks) {
        return RunNetworks(request, paths);
    }
    if (request.applications) {
        return RunApplications(request, paths);
    }
    const std::string path = paths::TrafficDatabase(paths.dataDirectory);
    const Now now = LocalNow();
    platform::linux_impl::IniFileSettings settings(paths::SettingsFile(paths.configHome));
    const app::ReportSettings reportSettings = app::ReadReportSettings(settings);
    const limits::LimitSettings& limitSettings = reportSettings.limit;
    reports::TrafficHistory history;
    reports::ApplicationHistory applications;
    try {
        const auto database = platform::linux_impl::OpenTrafficDatabaseForReading(path);
        const auto network = NetworkFilter(request, *database);
        if (!network) {
            return 1;
        }
        history = reports::LoadHistory(*database, request.from, request.to, *network);
        if (request.output == TerminalRequest::Output::Summary) {
            // The local network's part of the summary's month and billing period.
            const CalendarDate periodFirst =
                limits::PeriodContaining(now.today, limitSettings.billingDay).first;
            applications = reports::LoadApplications(
                *database, std::min(periodFirst, CalendarDate{now.today.year, now.today.month, 1}),
                now.today, *network);
        }
    } catch (const platform::DatabaseError& error) {
        std::cerr << "quantiro-reports: " << error.what() << '\n';
        return 1;
    }
    const CalendarDate first = request.from.value_or(history.FirstDay().value_or(now.today));
    const CalendarDate last =
        request.to.value_or(std::max(history.LastDay().value_or(now.today), first));
    std::string output;
    switch (request.output) {
    case TerminalRequest::Output::Csv:
        output =
            reports::CsvReport(history, request.by.value_or(reports::Grouping::Day), first, last);
        break;
    case TerminalRequest::Output::Json: {
        const std::string& interfaceName = reportSettings.interfaceName;
        output = reports::JsonReport(
            history, request.by, first, last,
            {interfaceName.empty() ? "default" : interfaceName, now.today, now.hour, now.minute});
        break;
    }
    case TerminalRequest::Output::Summary:
        output = reports::SummaryText(
            history, applications, limitSettings, reportSettings.localCounting,
            {.today = now.today, .dayFraction = now.DayFraction()}, EnvironmentDecimalSeparator());
        // Narrowed, the summary says to what: its figures are one network's.
        if (request.network) {
            output = "Sieć: " + *request.network + "\n" + output;
        }
        break;
    }
    std::fwrite(output.data(), 1, output.size(), stdout);
    // The summary carries its own note; the exports keep standard output for data.
    if (request.output != TerminalRequest::Output::Summary) {
        if (const std::string note = reports::SkippedNote(history); !note.empty()) {
            std::cerr << "quantiro-reports: " << note << '\n';
        }
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}

// At the meter's start: one notice of the month that ended since the last run.
int RunMonthSummary(const paths::FamilyPaths& paths) {
    platform::linux_impl::IniFileSettings settings(paths::SettingsFile(paths.configHome));
    const Now now = LocalNow();
    const std::string statePath = paths::ReportsState(paths.stateDirectory);
    // The meter started twice in a row must not tell of the month twice.
    int lock = ::open(paths::ReportsLock(paths.stateDirectory).c_str(),
                      O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock < 0) {
        try {
            platform::MakePrivateDirectory(paths.stateDirectory);
        } catch (const paths::PathError& error) {
            std::cerr << "quantiro-reports: " << error.what() << '\n';
            return 1;
        }
        lock = ::open(paths::ReportsLock(paths.stateDirectory).c_str(),
                      O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    }
    if (lock < 0 || ::flock(lock, LOCK_EX | LOCK_NB) != 0) {
        return 0;
    }
    const auto due =
        reports::MonthDue(reports::ParseYearMonth(platform::ReadFileWhole(statePath)), now.today);
    if (!due) {
        return 0;
    }
    const CalendarDate first{due->year, due->month, 1};
    const CalendarDate last{due->year, due->month, DaysInMonth(due->year, due->month)};
    reports::TrafficHistory history;
    try {
        const auto database = platform::linux_impl::OpenTrafficDatabaseForReading(
            paths::TrafficDatabase(paths.dataDirectory));
        history = reports::LoadHistory(*database, first, last);
    } catch (const platform::DatabaseError&) {
        return 0; // busy or not there yet: the next start tries again
    }
    // Remembered before the notice shows, so that no later start tells of it again.
    try {
        platform::WriteFileWhole(statePath, reports::FormatYearMonth(*due) + "\n");
    } catch (const paths::PathError& error) {
        std::cerr << "quantiro-reports: " << error.what() << '\n';
        return 1;
    }
    const reports::Traffic traffic = history.Days(first, last);
    if (!traffic.recorded) {
        return 0; // a month the meter did not run in has nothing to tell
    }
    const reports::MonthNotice notice = reports::DescribeMonth(
        *due, traffic, app::ReadLimitSettings(settings), EnvironmentDecimalSeparator());
    app::ShowDesktopNotice(paths.programDirectory, 0, false, notice.summary, notice.body);
    return 0;
}

int RunWindow(int argc, char** argv, const paths::FamilyPaths& paths, reports::View view,
              bool startedByMeter) {
    if (!app::DisplayAvailable()) {
        // A meter in a terminal has no window to open; its screen is left alone.
        if (startedByMeter) {
            return 0;
        }
        std::cerr << "quantiro-reports: brak ekranu do otwarcia okna; w terminalu użyj --summary,"
                     " --csv, --json albo --apps (opisuje je quantiro-reports --help)\n";
        return 1;
    }
    using WindowMain = int (*)(int, char**, int);
    const auto windowMain = app::LoadModuleFunction<WindowMain>(
        paths.programDirectory, "quantiro-reports-window.so", "QuantiroReportsWindow");
    if (!windowMain) {
        std::cerr << "quantiro-reports: nie można wczytać okna raportów: " << ::dlerror() << '\n';
        return 1;
    }
    return windowMain(argc, argv, static_cast<int>(view));
}

} // namespace

int main(int argc, char** argv) {
    const std::string_view name = argv[0];
    const std::string_view program = name.substr(name.rfind('/') + 1);
    const paths::FamilyPaths paths = paths::FromEnvironment();
    if (program == "ZVstat.dll") {
        return RunMonthSummary(paths);
    }
    if (argc == 2 && std::string_view(argv[1]) == "--help") {
        std::cout << app::HelpText(app::ReportsUsage());
        return 0;
    }
    if (argc == 2 && std::string_view(argv[1]) == "--version") {
        std::cout << app::VersionText(app::ReportsUsage());
        return 0;
    }
    if (argc >= 2 && std::string_view(argv[1]).starts_with("--")) {
        const auto request = ParseOptions(argc, argv);
        if (const auto* message = std::get_if<std::string>(&request)) {
            std::cerr << "quantiro-reports: " << *message << '\n'
                      << app::HelpText(app::ReportsUsage());
            return 2;
        }
        return RunTerminal(std::get<TerminalRequest>(request), paths);
    }
    if (argc > 2) {
        std::cerr << "quantiro-reports: za dużo argumentów\n" << app::HelpText(app::ReportsUsage());
        return 2;
    }
    // Nothing, or "1" from the meter's menu: the days of the month.
    const std::string_view word = argc == 2 ? argv[1] : "1";
    const auto view = word == "1" ? reports::View::Days : reports::ViewNamed(word);
    if (!view) {
        std::cerr << "quantiro-reports: nieznany widok „" << word
                  << "”; widoki: " << reports::ViewWords() << '\n';
        return 2;
    }
    return RunWindow(argc, argv, paths, *view, program == "zvraport.dll");
}
