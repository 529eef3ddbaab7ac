// The reports window, a module quantiro-reports loads only when the window opens.
#include "app/FamilySettings.h"
#include "app/ShowRequests.h"
#include "common/FamilyPaths.h"
#include "common/IgnoringErrors.h"
#include "platform/linux/GioDesktopEntries.h"
#include "platform/linux/IniSettingsStore.h"
#include "platform/linux/SqliteDatabase.h"
#include "reports/NetworkUse.h"
#include "reports/TrafficHistory.h"
#include "ui/FamilyApplication.h"
#include "ui/QtText.h"
#include "ui/ReportsWindow.h"

#include <QDateTime>

extern "C" __attribute__((visibility("default"))) int QuantiroReportsWindow(int argc, char** argv,
                                                                            int view) {
    using namespace quantiro;
    ui::FamilyApplication application(argc, argv, {.program = "quantiro-reports"});
    const paths::FamilyPaths paths = paths::FromEnvironment();
    app::ShowRequests showRequests(paths.runtimeDirectory, "quantiro-reports");
    if (showRequests.Send()) {
        return 0; // the reports already open come forward
    }
    platform::linux_impl::IniSettingsStore settings(paths::SettingsFile(paths.configHome));
    const app::ReportSettings reportSettings = app::ReadReportSettings(settings);

    reports::TrafficHistory history;
    reports::ApplicationHistory applications;
    QString problem;
    // Kept open for the networks' view, which reads each range it shows.
    std::unique_ptr<platform::HourStore> database;
    try {
        database = platform::linux_impl::OpenTrafficDatabaseForReading(
            paths::TrafficDatabase(paths.dataDirectory));
        history = reports::LoadHistory(*database);
        applications = reports::LoadApplications(*database);
    } catch (const platform::DatabaseError& error) {
        problem = ui::FromUtf8(error.what());
    }
    ui::ReportsWindow::NetworkSource networks;
    if (database) {
        networks = [&database, &reportSettings](const reports::ApplicationRange& range) {
            // A busy or broken file shows no networks rather than ending the window.
            try {
                return reports::LoadNetworks(*database, range, reportSettings.networkPlans);
            } catch (const platform::DatabaseError&) {
                return reports::NetworkShares{};
            }
        };
    }
    const QDateTime now = QDateTime::currentDateTime();
    const QDate today = now.date();
    // A system unit shows with systemd's description of it where the system bus tells it.
    platform::linux_impl::SystemdUnits units;
    platform::linux_impl::GioDesktopEntries entries(&units);
    ui::ReportsWindow window(std::move(history), std::move(applications), entries,
                             reportSettings.limit, reportSettings.localCounting,
                             {.today = {today.year(), today.month(), today.day()},
                              .dayFraction = now.time().msecsSinceStartOfDay() / 86'400'000.0},
                             static_cast<reports::View>(view), problem, std::move(networks));
    if (database) {
        std::vector<platform::Network> seen;
        // Without the list the filter offers only the unknown network.
        IgnoringErrors([&] {
            for (const platform::StoredNetwork& stored : database->ReadNetworks("", "")) {
                seen.push_back(stored.network);
            }
        });
        // Hours recorded before networks were, or while none was known, are this one's.
        seen.push_back({});
        window.OfferNetworks(seen, [&database](const std::string& networkId) {
            ui::ReportsWindow::NetworkRecords records;
            // As the networks' view: a busy file shows nothing rather than end the window.
            try {
                records.history =
                    reports::LoadHistory(*database, std::nullopt, std::nullopt, networkId);
                records.applications =
                    reports::LoadApplications(*database, std::nullopt, std::nullopt, networkId);
            } catch (const platform::DatabaseError&) {
                return ui::ReportsWindow::NetworkRecords{};
            }
            return records;
        });
    }
    showRequests.Listen([&] { ui::BringForward(window); });
    window.show();
    return application.Run();
}
