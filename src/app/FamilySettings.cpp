#include "app/FamilySettings.h"

#include <algorithm>

namespace quantiro::app {

using platform::Read;
using platform::Write;

limits::LimitSettings ReadLimitSettings(platform::SettingsStore& settings) {
    return {.limitMb = std::max(Read(settings, values::kPeriodLimit), 0),
            .direction = limits::DirectionOfStored(Read(settings, values::kLimitDirection)),
            .thresholds = {Read(settings, values::kLimitThreshold1),
                           Read(settings, values::kLimitThreshold2),
                           Read(settings, values::kLimitThreshold3)},
            .billingDay = Read(settings, values::kBillingDay),
            .enabled = Read(settings, values::kWarningsEnabled),
            .suppressed = Read(settings, values::kWarningsSuppressed)};
}

ReportSettings ReadReportSettings(platform::SettingsStore& settings) {
    return {.limit = ReadLimitSettings(settings),
            .localCounting = Read(settings, values::kInternetOnly)
                                 ? reports::LocalCounting::LeftOut
                                 : reports::LocalCounting::Included,
            .interfaceName = Read(settings, values::kInterfaceName),
            .networkPlans = limits::ReadNetworkPlans(settings)};
}

monitor::MonitorSettings ReadMonitorSettings(platform::SettingsStore& settings) {
    return {.left = Read(settings, values::kMonitorLeft),
            .top = Read(settings, values::kMonitorTop),
            .width = Read(settings, values::kMonitorWidth),
            .height = Read(settings, values::kMonitorHeight),
            .onTop = Read(settings, values::kMonitorOnTop),
            .span = Read(settings, values::kMonitorSpan) == 1 ? monitor::Span::OneHour
                                                              : monitor::Span::TwoMinutes,
            .startWithMeter = Read(settings, values::kStartMonitor),
            .interfaceName = Read(settings, values::kInterfaceName)};
}

monitor::MonitorSettingsWrites MonitorWritesTo(platform::SettingsStore& settings) {
    return {.window =
                [&settings](const monitor::MonitorSettings& window) {
                    Write(settings, values::kMonitorLeft, window.left);
                    Write(settings, values::kMonitorTop, window.top);
                    Write(settings, values::kMonitorWidth, window.width);
                    Write(settings, values::kMonitorHeight, window.height);
                    Write(settings, values::kMonitorOnTop, window.onTop);
                    Write(settings, values::kMonitorSpan,
                          window.span == monitor::Span::OneHour ? 1 : 0);
                },
            .startWithMeter =
                [&settings](bool start) {
                    Write(settings, values::kStartMonitor, start);
                }};
}

} // namespace quantiro::app
