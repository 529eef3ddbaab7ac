#pragma once

#include <cstdint>
#include <string_view>

// Every named value the meter reads or writes in the family's settings file, with
// its type and the default its reader uses. Where two readers use different defaults
// there is one entry per reader, so no default is ever written twice in the code.
// The names are shared with the other programs of the family and never change.
namespace quantiro::values {

struct BoolValue {
    std::string_view name;
    bool defaultValue;
};

struct LongValue {
    std::string_view name;
    std::int32_t defaultValue;
};

struct TextValue {
    std::string_view name;
    std::string_view defaultValue;
};

// Running flag: written at start-up and exit, read only by the rest of the family.
inline constexpr BoolValue kIsRunning{"IsRunning", false};
inline constexpr BoolValue kWarningsEnabled{"OstrzezeniaEnabled", false};
inline constexpr BoolValue kWarningsSuppressed{"OstrzezeniaNiePokazuj", false};
// Raised by another program of the family after it changed a setting.
inline constexpr BoolValue kSettingsChanged{"WasChanged", false};
// Window variant of the family: 0 is this window, 1 and 2 the others.
inline constexpr LongValue kWindowVariant{"Size", 0};
inline constexpr LongValue kAutoUpdate{"Autoupdate", 0};
inline constexpr BoolValue kShowCloseNotice{"UnloadInfo", true};
inline constexpr BoolValue kStartMonitor{"MonitorShow", true};
inline constexpr BoolValue kStartHidden{"Hide", false};
inline constexpr BoolValue kOnTop{"OnTop", true};
// The first day of the current month as a day number (see DaysSinceEpoch).
inline constexpr LongValue kMonthDay{"Okres", 1};
// True: no statistics summary at start-up.
inline constexpr BoolValue kNoStartSummary{"InfoFile", false};
// Nominal speeds: the display scales from them with its own defaults, the limits
// use them only when they are not 0.
inline constexpr LongValue kDownloadForScale{"Download", 512};
inline constexpr LongValue kUploadForScale{"Upload", 128};
inline constexpr LongValue kDownloadForLimits{"Download", 0};
inline constexpr LongValue kUploadForLimits{"Upload", 0};
inline constexpr BoolValue kRateCheck{"ExtError", true};
inline constexpr LongValue kRateTolerancePercent{"ExtErrorValue", 130};
inline constexpr LongValue kWindowLeft{"LeftP", 100};
inline constexpr LongValue kWindowTop{"TopP", 0};
// The correction the previous exit left for the next monthly sum.
inline constexpr BoolValue kCorrectionPending{"Odejmij", false};
inline constexpr LongValue kCorrectionDownload{"OdejmijDownload", 0};
inline constexpr LongValue kCorrectionUpload{"OdejmijUpload", 0};
inline constexpr LongValue kCorrectionTime{"OdejmijTime", 0};

// Values the family's programs add: the options program writes them; the meter, the
// limit watcher and the reports read them.
// Kernel name of the monitored interface; empty: the default-route interface.
inline constexpr TextValue kInterfaceName{"Interfejs", ""};
// The billing period's data limit in MB (1 MB = 1024 kB); 0: none.
inline constexpr LongValue kPeriodLimit{"LimitMiesieczny", 0};
// What counts against the limit: 0 received, 1 sent, 2 both.
inline constexpr LongValue kLimitDirection{"LimitKierunek", 2};
// Warn when this percentage of the limit is reached; 0: off.
inline constexpr LongValue kLimitThreshold1{"LimitProg1", 80};
inline constexpr LongValue kLimitThreshold2{"LimitProg2", 90};
inline constexpr LongValue kLimitThreshold3{"LimitProg3", 100};
// First day of the billing period, 1-31 (past the month's end: its last day).
inline constexpr LongValue kBillingDay{"DzienRozliczeniowy", 1};
// True: every kilobyte of every tick reaches the hour's records; false: only ticks
// that moved more than 1 kB, as the family has always counted. On by default: the
// old rule lost steady background traffic (3 kB/s reached the records as 1 of
// 190 kB), which the provider bills all the same.
inline constexpr BoolValue kExactCounting{"ZliczanieDokladne", true};
// Directory for the Prometheus textfile-collector file quantiro.prom; empty: none.
inline constexpr TextValue kMetricsDirectory{"KatalogMetryk", ""};
// True: the figures count billed traffic only, the link's less what the counting
// service classified as the local network's; needs quantiro-collector.
inline constexpr BoolValue kInternetOnly{"TylkoInternet", false};
// The user's own local prefixes, CIDRs separated by commas, besides the built-in
// local ranges.
inline constexpr TextValue kLocalNetworks{"SiecLokalna", ""};

// A network's own plan, in the group limits::PlanGroup() names for it; a value is
// read as "<group>/<name>". The limit values above stay the plan shared by every
// network without one of its own.
// 0: monthly from its billing day, 1: a package of days from a start date, 2: no
// limit (counted, never warned). A group without it holds no plan.
inline constexpr LongValue kPlanKind{"RodzajPlanu", 0};
// The plan's limit in MB (1 GB = 1024 MB); what counts, as "LimitKierunek".
inline constexpr LongValue kPlanLimit{"Limit", 0};
inline constexpr LongValue kPlanDirection{"LimitKierunek", 2};
inline constexpr LongValue kPlanBillingDay{"DzienRozliczeniowy", 1};
// A package's first day (yyyy-mm-dd) and how many days it lasts.
inline constexpr TextValue kPackageStart{"Poczatek", ""};
inline constexpr LongValue kPackageDays{"Dni", 30};
// A forgotten network: its last day seen (yyyy-mm-dd) when it was forgotten. It is
// listed again once the records see it on a later day.
inline constexpr TextValue kForgottenAt{"Zapomniana", ""};

// The live monitor's own window, apart from the meter's.
inline constexpr LongValue kMonitorLeft{"MonitorLeft", 140};
inline constexpr LongValue kMonitorTop{"MonitorTop", 40};
inline constexpr LongValue kMonitorWidth{"MonitorWidth", 420};
inline constexpr LongValue kMonitorHeight{"MonitorHeight", 250};
inline constexpr BoolValue kMonitorOnTop{"MonitorOnTop", false};
// 0: the last two minutes, 1: the last hour.
inline constexpr LongValue kMonitorSpan{"MonitorSpan", 0};

// Process records of started companions: four integers under a prefix.
inline constexpr std::string_view kMonitorRecordPrefix = "Mon_";
inline constexpr std::string_view kVariantRecordPrefix = "QU_";
inline constexpr std::string_view kProcessRecordFields[] = {"hProcess", "hThread", "dwProcessId",
                                                            "dwThreadId"};

// "mID_<n>": the notice with identifier n has been shown.
inline constexpr std::string_view kNoticeShownPrefix = "mID_";

} // namespace quantiro::values
