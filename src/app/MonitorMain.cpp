// quantiro-monitor: the live graph of the monitored interface's rates. The meter
// starts it as dlmon.dll and ends it with SIGTERM, on which it saves its geometry.
#include "app/Display.h"
#include "app/FamilySettings.h"
#include "app/ShowRequests.h"
#include "app/Usage.h"
#include "common/FamilyPaths.h"
#include "platform/linux/CollectorReader.h"
#include "platform/linux/GioDesktopEntries.h"
#include "platform/linux/IniSettingsStore.h"
#include "platform/linux/NetlinkInterfaceTable.h"
#include "platform/linux/StopSignals.h"
#include "platform/linux/SystemNetworkWatch.h"
#include "ui/FamilyApplication.h"
#include "ui/MonitorWindow.h"

#include <QSocketNotifier>
#include <cstdio>
#include <optional>
#include <string_view>

namespace {

using namespace quantiro;

// The monitored interface's counters, the first row of the table; nothing while
// there is none. `last` is kept from one read to the next, ten a second: the rows'
// room, and how the link counts large packets, asked only when the link changes.
struct LastRead {
    std::vector<platform::InterfaceRow> rows;
    std::string countingOf;
    platform::LinkCounting counting;
};
std::optional<ui::MonitorWindow::Counters> ReadCounters(platform::InterfaceTable& table,
                                                        LastRead& last) {
    if (table.Read(last.rows) != platform::InterfaceTable::Status::Ok || last.rows.empty()) {
        return std::nullopt;
    }
    const platform::InterfaceRow& row = last.rows.front();
    if (row.name != last.countingOf) {
        last.countingOf = row.name;
        last.counting = table.CountingOf(row.name);
    }
    return ui::MonitorWindow::Counters{.received = row.bytesReceived,
                                       .sent = row.bytesSent,
                                       .interfaceName = row.name,
                                       .linkHeaderBytes = platform::LinkHeaderBytes(row),
                                       .counting = last.counting};
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 &&
        (std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "--version")) {
        std::fputs((std::string_view(argv[1]) == "--help" ? app::HelpText(app::MonitorUsage())
                                                          : app::VersionText(app::MonitorUsage()))
                       .c_str(),
                   stdout);
        return 0;
    }
    // A meter in a terminal starts its monitor too; without a display there is
    // nothing to show, and nothing to say about it on the meter's screen.
    if (!app::DisplayAvailable()) {
        return 0;
    }
    platform::linux_impl::StopSignals stopSignals;
    ui::FamilyApplication application(argc, argv, {.program = "quantiro-monitor"});
    const paths::FamilyPaths paths = paths::FromEnvironment();
    app::ShowRequests showRequests(paths.runtimeDirectory, "quantiro-monitor");
    if (showRequests.Send()) {
        return 0; // the monitor that runs already comes forward
    }
    platform::linux_impl::IniSettingsStore settings(paths::SettingsFile(paths.configHome));
    try {
        settings.Open();
    } catch (const platform::SettingsError& error) {
        std::fprintf(stderr, "quantiro-monitor: %s\n", error.what());
        return 1;
    }

    // The meter's interface: the environment's, else the setting's, else the route's.
    const monitor::MonitorSettings monitorSettings = app::ReadMonitorSettings(settings);
    platform::linux_impl::NetlinkInterfaceTable table;
    table.PreferInterface(monitorSettings.interfaceName);
    LastRead last;
    // The network is named as the meter names it, followed from the same
    // announcements; asked only when the interface changes.
    platform::linux_impl::SystemNetworkWatch networks;
    platform::Network shownNetwork;
    std::optional<ui::MonitorWindow> window;
    const auto showNetwork = [&] {
        if (networks.Current() != shownNetwork) {
            shownNetwork = networks.Current();
            window->ShowNetwork(shownNetwork);
        }
    };
    window.emplace(monitorSettings, app::MonitorWritesTo(settings), [&] {
        auto counters = ReadCounters(table, last);
        if (counters) {
            networks.Follow(counters->interfaceName);
            showNetwork();
        }
        return counters;
    });
    std::optional<QSocketNotifier> networksNotifier;
    if (networks.ChangesDescriptorForLoop() >= 0) {
        networksNotifier.emplace(networks.ChangesDescriptorForLoop(), QSocketNotifier::Read);
        QObject::connect(&*networksNotifier, &QSocketNotifier::activated, &*window, [&] {
            networks.ChangesReadable();
            showNetwork();
        });
    }
    platform::linux_impl::CollectorReader applicationCounters;
    platform::linux_impl::GioDesktopEntries entries;
    window->WatchApplications(applicationCounters, entries);
    showRequests.Listen([&] { ui::BringForward(*window); });
    // The meter's exit, or the session's end: close quietly, keeping the geometry.
    QSocketNotifier signalNotifier(stopSignals.Descriptor(), QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &*window, [&] {
        while (stopSignals.Next() != 0) {
        }
        window->close();
    });
    window->show();
    window->Start();
    return application.Run();
}
