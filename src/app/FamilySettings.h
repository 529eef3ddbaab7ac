#pragma once

#include "limits/LimitCheck.h"
#include "limits/NetworkPlans.h"
#include "monitor/RateHistory.h"
#include "platform/Settings.h"
#include "reports/ApplicationUse.h"

#include <string>
#include <vector>

// The family's programs other than the meter read the settings file here, each
// once, into the typed values their code takes; the monitor writes its window back
// here too.
namespace quantiro::app {

// The limit, what counts against it, the thresholds and the billing day.
limits::LimitSettings ReadLimitSettings(platform::SettingsStore& settings);

struct ReportSettings {
    limits::LimitSettings limit;
    // "TylkoInternet": the local network's traffic was left out of the figures.
    reports::LocalCounting localCounting = reports::LocalCounting::Included;
    std::string interfaceName;
    // The networks' own plans: a network's view reckons in its plan's period.
    std::vector<limits::NetworkPlan> networkPlans;
};
ReportSettings ReadReportSettings(platform::SettingsStore& settings);

monitor::MonitorSettings ReadMonitorSettings(platform::SettingsStore& settings);
// The monitor's writes into `settings`, which must outlive them.
monitor::MonitorSettingsWrites MonitorWritesTo(platform::SettingsStore& settings);

} // namespace quantiro::app
