#pragma once

#include "accounting/TrafficAccount.h"
#include "common/WindowShapes.h"
#include "companions/CompanionLauncher.h"
#include "ifstats/InterfaceTableReader.h"
#include "limits/LimitCheck.h"
#include "limits/PlanWatch.h"
#include "messages/MessageFeed.h"
#include "messages/NoticeBrowser.h"
#include "metrics/MetricsFile.h"
#include "platform/ApplicationCounters.h"
#include "platform/Clock.h"
#include "platform/Dialogs.h"
#include "platform/Downloads.h"
#include "platform/HourStore.h"
#include "platform/InstanceLock.h"
#include "platform/InterfaceTable.h"
#include "platform/NetworkRecords.h"
#include "platform/Networks.h"
#include "platform/Notifier.h"
#include "platform/Processes.h"
#include "platform/Settings.h"
#include "records/HourlyRecords.h"
#include "sampling/Sampler.h"
#include "sampling/TransferLimits.h"
#include "shell/CloseController.h"
#include "shell/ExitBookkeeping.h"
#include "shell/MenuRows.h"
#include "shell/MeterSettings.h"
#include "shell/MeterWindow.h"
#include "shell/NetworkHourFile.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace quantiro::shell {

// What the meter takes from the system it runs on.
struct SystemParts {
    platform::SettingsStore& settings;
    platform::Clock& clock;
    platform::InterfaceTable& interfaceTable;
    platform::InstanceLock& instanceLock;
    platform::ProcessLauncher& launcher;
    platform::Downloader& downloader;
    // Holds the family's programs and the parameter file; read-only once installed.
    std::string programDirectory;
    // Hold the traffic database, and the downloaded notice list and pages; made at
    // start-up when missing.
    std::string dataDirectory;
    std::string cacheDirectory;
    std::function<std::unique_ptr<platform::HourStore>(const std::string& path)> openDatabase;
    // The same database's networks, read for their plans' use; none: the meter
    // follows no plan, and the watcher's starts every two seconds see them alone.
    std::function<std::unique_ptr<platform::NetworkRecords>(const std::string& path)>
        openNetworkRecords = nullptr;
    // Which of the family's window shapes this meter shows.
    const shapes::WindowShape* shape = &shapes::kFull;
    // The counting service's per-application counters; none: the meter counts the
    // link alone, as it always did.
    platform::ApplicationCounterSource* applicationCounters = nullptr;
    // Which network the followed interface is on; none: every tick's network is
    // unknown, and the records keep no network rows.
    platform::NetworkWatch* networks = nullptr;
    // Holds the open hour's figures per network for the limit watcher; empty: none
    // are kept.
    std::string runtimeDirectory;
};

// How a front-end shows and asks: the window's widgets, or the terminal's lines.
struct FrontEndParts {
    platform::MessageDialog& dialog;
    platform::AboutDialog& about;
    platform::Notifier& notifier;
    sampling::RateDisplay& display;
    MeterWindow& window;
    messages::NoticeBrowser& noticeBrowser;
    // The window on a desktop; none for the terminal.
    DesktopWindow* desktop = nullptr;
};

// The meter's core, the same under both front-ends: start-up, the tick, the settings
// reload, the menu's commands and the close. It owns the sampler, the traffic
// database, the interface reader and the companions for the whole run. Every entry
// from a front-end's event loop goes through one of its public calls.
class Meter final : public sampling::SettingsReload, public sampling::UpdateCheck {
public:
    Meter(SystemParts system, FrontEndParts frontEnd);
    ~Meter() override;

    enum class StartUpResult { Running, AlreadyRunning };

    // The whole start-up, once per process, ending with the timer started. A fatal
    // error (the database, the settings store) is thrown; nothing runs after it.
    StartUpResult StartUp(const std::string& commandLine);

    // One timer firing; nothing once a close was requested.
    void OnTick();
    // A command of the popup menu.
    void RunMenuCommand(MenuCommand command);
    // "Zakończ": asks first; unless the answer is No, the meter closes.
    void AskToEnd();
    // The user closed the window: it only hides, after the notice.
    void OnUserClose();
    // The notice check, once per run.
    void ShowNewNotice();
    // The system is about to sleep: the open hour is written now, outside any tick.
    void SaveBeforeSleep();
    void RequestClose(CloseReason reason) { m_closer.Request(reason); }
    bool Finished() const { return m_closer.Finished(); }

    bool ChangedByFamily() override;
    void ReloadSettings() override;
    bool LimitWarningsSilenced() override;
    void RunUpdateCheck() override;

    // The run's totals, as the tick keeps them; zero before the start-up.
    sampling::Totals RunTotals() const {
        return m_sampler ? m_sampler->RunTotals() : sampling::Totals{};
    }
    // The month's figure as shown: its records at start plus what this run received.
    double MonthReceived() const { return m_sampler ? m_sampler->MonthReceived() : 0; }
    // The open hour's amounts; zero before the start-up.
    platform::HourAmounts HourAmounts() const {
        return m_hours ? m_hours->Amounts() : platform::HourAmounts{};
    }

    // The plan of the network the followed interface is on, and its use; none
    // without a network, a plan of its own with a limit, or the meter's start.
    std::optional<limits::PlanWatch::Use> CurrentPlanUse() const;

    // Writes "Hide" for the front-end; a failure (a full disk) is told once and the
    // value is written again every few seconds until it lands.
    void StoreStartHidden(bool hidden);

private:
    // The instance check; false when another meter runs and this one must not.
    bool TakeInstance(const std::string& commandLine);
    // The traffic database, the hour records on it, the sampler and the exit steps.
    void OpenRecords();
    // What a snapshot of the settings sets, the same at start-up and on a reload.
    void ApplySettings(const MeterSettings& settings);
    // What only a start does with the settings: the window's place and state, the
    // companions started with the meter.
    void StartWithSettings(const MeterSettings& settings);
    // Runs a write of the settings file; a failure is told once and waits for the
    // retry.
    template <typename Write> void Store(Write&& write) {
        try {
            write();
        } catch (const platform::SettingsError& error) {
            SettingsWriteFailed(error);
        }
    }
    // `now`: the tick's time, as the clock's tick count.
    void RetryUnwrittenSettings(std::uint32_t now);
    // The network watch told which interface is followed, and the display which
    // network it is on.
    void FollowNetwork();
    // The counting service's part of the tick, through the account.
    void CountApplications();
    // A settings write that failed: counting goes on, the user hears of it once.
    void SettingsWriteFailed(const platform::SettingsError& error);
    // The billing period of today, followed as the limit watcher follows it.
    void FollowBillingPeriod();
    // The networks' plans from the records, at start-up, on a reload and when the
    // day changes.
    void FollowPlans();
    // Once a second: what the run carried since goes to the current network's
    // plan, and a threshold it crossed starts the limit watcher at once.
    void CountPlans();
    // The run's totals as the plans count them.
    sampling::Totals PlanCountedTotals() const;
    // The network the followed interface is on; none when there is no watch or it
    // cannot tell.
    const platform::Network* KnownNetwork() const;
    metrics::MeterFigures Figures();
    // What each application moved this run, as the metrics take it.
    std::vector<metrics::ApplicationFigures> ApplicationTotals() const;
    // What each network carried this run, as the metrics take it.
    std::vector<metrics::NetworkFigures> NetworkTotals() const;
    // Each network's own plan as the meter counts it, for the metrics.
    std::vector<metrics::PlanFigures> PlanFigures() const;
    // Runs an event handler unless a close is under way; a close it requests waits
    // until it returns.
    template <typename Handler> void Handle(Handler&& handler) {
        if (m_closer.Requested()) {
            return;
        }
        CloseController::Handler running(m_closer);
        try {
            handler();
        } catch (const platform::SettingsError& error) {
            SettingsWriteFailed(error); // what the handler did not finish waits for the next event
        }
    }
    void Close(CloseReason reason);
    void ToggleOnTop();
    void ShowReports();

    SystemParts m_system;
    FrontEndParts m_frontEnd;
    MeterSettingsFile m_settingsFile;
    // The snapshot last applied, kept in step with what the meter writes itself.
    MeterSettings m_settings;
    companions::CompanionLauncher m_companions;
    messages::MessageFeed m_noticeFeed;
    CloseController m_closer;
    ifstats::InterfaceTableReader m_reader;
    sampling::TransferLimits m_limits;
    // Made at start-up, once the database is open.
    std::unique_ptr<platform::HourStore> m_database;
    std::unique_ptr<records::HourlyRecords> m_hours;
    // Between the sampler and the hours: billed or local, and whose.
    std::unique_ptr<accounting::TrafficAccount> m_account;
    std::unique_ptr<ExitBookkeeping> m_exitBookkeeping;
    std::unique_ptr<sampling::Sampler> m_sampler;
    bool m_tickRunning = false;
    metrics::MetricsFile m_metrics;
    NetworkHourFile m_networkHourFile;
    // The billing period the metrics report, reckoned as the limit watcher reckons
    // it: its base plus the totals.
    limits::WatchState m_billing;
    limits::PlanWatch m_planWatch;
    sampling::Totals m_plansCounted; // the run's totals last given to the plans
    int m_planTicks = 0;
    bool m_settingsFailureShown = false;
    std::uint32_t m_unwrittenTriedAt = 0; // tick count of the last retry
    bool m_internetOnlyWarned = false;
    bool m_localNetworksRefusalShown = false;
    // How the measured link counts large packets, asked once per link: its driver
    // and offloads stay as they were.
    std::string m_countingOf;
    platform::LinkCounting m_linkCounting;
    std::string m_networkOf; // the interface the network watch follows
    platform::Network m_shownNetwork;
    std::optional<sampling::PlanUse> m_shownPlan;
    std::uint32_t m_networkShownAt = 0;
};

} // namespace quantiro::shell
