#include "shell/Meter.h"

#include "common/ApplicationNames.h"
#include "common/CalendarDate.h"
#include "common/CompanionCommands.h"
#include "common/FamilyPaths.h"
#include "common/IgnoringErrors.h"
#include "common/Rounding.h"
#include "platform/Files.h"
#include "presentation/RateScale.h"
#include "records/MonthlySum.h"
#include "records/PeriodSum.h"
#include "shell/MenuRows.h"
#include "shell/Texts.h"

#include <algorithm>
#include <utility>

namespace quantiro::shell {

namespace {
constexpr std::chrono::milliseconds kUnwrittenRetryInterval{2000};
// The plans are counted on once a second, as often as the open hour's figures per
// network are written for the watcher.
constexpr int kPlanTicks = 10;
} // namespace

Meter::Meter(SystemParts system, FrontEndParts frontEnd)
    : m_system(std::move(system))
    , m_frontEnd(frontEnd)
    , m_settingsFile(m_system.settings, *m_system.shape)
    , m_companions(m_system.programDirectory, m_system.launcher)
    , m_noticeFeed(m_system.cacheDirectory, messages::UpdateServer(), m_system.downloader,
                   m_settingsFile, m_system.clock, m_frontEnd.noticeBrowser)
    , m_closer([this](CloseReason reason) { Close(reason); },
               [this] { m_frontEnd.dialog.CloseOpenDialog(); })
    , m_reader(m_system.interfaceTable, m_frontEnd.notifier)
    , m_limits(paths::ParameterFile(m_system.programDirectory))
    , m_metrics(m_system.clock, m_frontEnd.notifier, QUANTIRO_VERSION)
    , m_networkHourFile(m_system.networks && !m_system.runtimeDirectory.empty()
                            ? paths::NetworkHourFile(m_system.runtimeDirectory)
                            : std::string(),
                        m_system.clock) {}

Meter::~Meter() = default;

bool Meter::TakeInstance(const std::string& commandLine) {
    // The family starts its members with "/START", which skips the check (exactly,
    // case included). The lock is taken either way, for the life of the process.
    const bool anotherRunning = m_system.instanceLock.AnotherInstanceRunning();
    if (commandLine != companion_commands::kStartSwitch && anotherRunning) {
        m_frontEnd.dialog.Inform(std::string(texts::kApplicationTitle),
                                 std::string(texts::kAlreadyRunning));
        return false;
    }
    return true;
}

void Meter::OpenRecords() {
    m_database = m_system.openDatabase(paths::TrafficDatabase(m_system.dataDirectory));
    m_hours =
        std::make_unique<records::HourlyRecords>(*m_database, m_system.clock, m_frontEnd.notifier);
    m_hours->OpenCurrentHour();
    m_account = std::make_unique<accounting::TrafficAccount>(
        *m_hours, m_system.clock, m_system.applicationCounters, m_system.networks);
    m_exitBookkeeping = std::make_unique<ExitBookkeeping>(
        ExitBookkeeping::Parts{.settings = m_settingsFile,
                               .hours = *m_hours,
                               .clock = m_system.clock,
                               .desktop = m_frontEnd.desktop,
                               .companions = m_companions,
                               .notifier = m_frontEnd.notifier,
                               .shape = *m_system.shape,
                               .instanceLock = m_system.instanceLock});
    m_sampler = std::make_unique<sampling::Sampler>(
        m_reader, m_system.clock, m_limits,
        sampling::TickCollaborators{.display = m_frontEnd.display,
                                    .records = *m_account,
                                    .reload = *this,
                                    .update = *this,
                                    .limits = m_companions});
}

Meter::StartUpResult Meter::StartUp(const std::string& commandLine) {
    if (!TakeInstance(commandLine)) {
        return StartUpResult::AlreadyRunning;
    }
    // Before anything is written, so that a directory that cannot be had leaves no trace.
    platform::MakePrivateDirectory(m_system.dataDirectory);
    platform::MakePrivateDirectory(m_system.cacheDirectory);

    m_settingsFile.StoreRunning(true);
    const MeterSettings settings = m_settingsFile.Read();
    // Before the first tick reads the table: a choice made later waits for the next start.
    m_system.interfaceTable.PreferInterface(settings.interfaceName);
    OpenRecords();
    ApplySettings(settings);
    m_sampler->SetMonthBase(records::SumMonth(*m_database, m_system.clock));
    // The totals count from the start, so the records hold nothing they count
    // again: the previous exit's correction is cleared, never subtracted.
    IgnoringErrors([&] { m_settingsFile.ClearCorrection(); });
    StartWithSettings(settings);
    if (m_frontEnd.desktop) {
        m_frontEnd.desktop->StartTimer();
    }
    return StartUpResult::Running;
}

void Meter::StartWithSettings(const MeterSettings& settings) {
    DesktopWindow* desktop = m_frontEnd.desktop;
    if (desktop) {
        desktop->MoveTo(m_settingsFile.Position());
        desktop->ShowTrayIcon();
    }
    if (settings.startMonitor) {
        m_settingsFile.StoreMonitorRecord(m_companions.StartMonitor());
    }
    if (desktop) {
        if (settings.startHidden) {
            desktop->HideWindow();
        }
        desktop->RebuildMenu();
    }

    const platform::LocalDateTime now = m_system.clock.Now();
    const std::int16_t monthDay = RoundToInt16(DaysSinceEpoch(now.year, now.month, 1));
    if (settings.monthDay != monthDay) {
        m_settingsFile.StoreMonthDay(monthDay);
    }

    if (settings.startSummary) {
        m_companions.StartStatistics();
    }
    m_companions.StartLimitWatcher(true, m_sampler->RunTotals());
    if (desktop && settings.onTop) {
        desktop->SetOnTop(true);
    }
}

void Meter::ApplySettings(const MeterSettings& settings) {
    m_settings = settings;
    m_frontEnd.window.ApplyScale(settings.scale);
    if (m_frontEnd.desktop) {
        m_frontEnd.desktop->ApplyFixedSize();
    }
    m_sampler->SetLimitWarnings(settings.limitWarnings);
    m_hours->SetExactCounting(settings.exactCounting);
    m_account->SetInternetOnly(settings.internetOnly);
    m_limits.Update(settings.speeds);
    m_metrics.SetDirectory(settings.metricsDirectory);
    FollowBillingPeriod();
    FollowPlans();
    if (m_system.applicationCounters) {
        m_system.applicationCounters->SetLocalNetworks(settings.localNetworks);
    }
}

void Meter::OnTick() {
    // A message box shown from inside a tick runs an event loop of its own, in which
    // the timer fires again; that firing is skipped, never nested.
    if (m_tickRunning) {
        return;
    }
    Handle([&] {
        m_tickRunning = true;
        m_sampler->OnTick();
        const std::uint32_t now = m_system.clock.TickMilliseconds();
        FollowNetwork();
        CountApplications();
        CountPlans();
        // After the tick's own database work, never inside it: a kill or a power
        // cut loses at most the minutes since this save.
        m_hours->SaveIfDue();
        if (m_metrics.Due()) {
            m_metrics.Offer(Figures());
        }
        if (m_networkHourFile.Due()) {
            m_networkHourFile.Offer(m_hours->OpenHourDate(), m_hours->OpenHourOfDay(),
                                    m_hours->NetworkRows());
        }
        m_tickRunning = false;
        RetryUnwrittenSettings(now);
        // Ended companions and fetches are collected here, never waited for.
        m_system.launcher.ReapExited();
        m_system.downloader.CollectFinished();
    });
}

bool Meter::ChangedByFamily() {
    return m_settingsFile.ChangedByFamily();
}

bool Meter::LimitWarningsSilenced() {
    return m_settingsFile.LimitWarningsSilenced();
}

void Meter::ReloadSettings() {
    const MeterSettings settings = m_settingsFile.Read();
    if (settings.chosenShape && settings.chosenShape->variant != m_system.shape->variant) {
        // Another window shape is chosen: this one ends, and its exit starts the other.
        m_closer.Request(CloseReason::OtherVariant);
        return;
    }
    ApplySettings(settings);
    // Taken only on a reload: the update check counts from the start of the run.
    m_sampler->SetAutoUpdate(settings.autoUpdate);
    // Cleared last, so a flag raised again during the reload is taken by it. When
    // it cannot be cleared the next tick reloads again, which does no harm.
    Store([&] { m_settingsFile.ClearChanged(); });
}

void Meter::CountApplications() {
    const std::string interfaceName = m_sampler->MeasuredInterface();
    if (m_system.applicationCounters && interfaceName != m_countingOf) {
        m_countingOf = interfaceName;
        m_linkCounting = m_system.interfaceTable.CountingOf(interfaceName);
    }
    m_account->OnTick({.interfaceName = interfaceName,
                       .interfaceIndex = m_sampler->MeasuredInterfaceIndex(),
                       .headerBytes = m_sampler->MeasuredLinkHeaderBytes(),
                       .counting = m_linkCounting,
                       .carried = m_sampler->LinkTotals()});
    // Counting billed traffic only without the service: said once, and the whole
    // link counts, as the meter errs towards the bill.
    if (m_system.applicationCounters && m_settings.internetOnly && !m_internetOnlyWarned &&
        m_account->ServiceSilent()) {
        m_internetOnlyWarned = true;
        m_frontEnd.notifier.ShowMessage(texts::kInternetOnlyWithoutCollector);
    }
    // Said once a run: each later edit would only say it again.
    if (m_system.applicationCounters && m_system.applicationCounters->TakeLocalNetworksRefused() &&
        !std::exchange(m_localNetworksRefusalShown, true)) {
        m_frontEnd.notifier.ShowMessage(texts::kLocalNetworksRefused);
    }
}

void Meter::FollowNetwork() {
    if (!m_system.networks) {
        return;
    }
    // Asked again only when the followed interface changes: the watch follows its
    // network from the system's announcements, and Current() costs the tick nothing.
    if (std::string interfaceName = m_sampler->MeasuredInterface(); interfaceName != m_networkOf) {
        m_networkOf = std::move(interfaceName);
        m_system.networks->Follow(m_networkOf);
    }
    const platform::Network& current = m_system.networks->Current();
    // The plan's use moves with the traffic: shown again at most once a second, so
    // the tooltip is not rewritten every tick.
    const std::uint32_t now = m_system.clock.TickMilliseconds();
    const bool changed = current != m_shownNetwork;
    if (!changed && now - m_networkShownAt < 1000) {
        return;
    }
    std::optional<sampling::PlanUse> plan;
    if (const std::optional<limits::PlanWatch::Use> use = CurrentPlanUse()) {
        plan = sampling::PlanUse{
            .usedKb = use->usedKb, .limitKb = use->limitKb, .lastDay = use->period.last};
    }
    if (changed || plan != m_shownPlan) {
        m_shownNetwork = current;
        m_shownPlan = plan;
        m_networkShownAt = now;
        m_frontEnd.display.ShowNetwork(current, plan);
    }
}

void Meter::RetryUnwrittenSettings(std::uint32_t now) {
    // A write a full disk refused lands on its own once there is room, not only
    // with the next write, which may never come.
    if (now - m_unwrittenTriedAt >= kUnwrittenRetryInterval.count()) {
        m_unwrittenTriedAt = now;
        m_system.settings.RetryUnwritten();
    }
}

void Meter::StoreStartHidden(bool hidden) {
    m_settings.startHidden = hidden;
    Store([&] { m_settingsFile.StoreStartHidden(hidden); });
}

void Meter::SettingsWriteFailed(const platform::SettingsError& error) {
    if (!m_settingsFailureShown) {
        m_settingsFailureShown = true;
        m_frontEnd.notifier.ShowMessage(error.what());
    }
}

void Meter::FollowBillingPeriod() {
    const platform::LocalDateTime now = m_system.clock.Now();
    const limits::Period period =
        limits::PeriodContaining({now.year, now.month, now.day}, m_settings.billingDay);
    // The limit watcher's own reckoning, so the metrics' period is the watcher's.
    const bool atStartUp = !m_billing.lastReceived;
    limits::FollowPeriod(m_billing, period, atStartUp, [&](const limits::Period& stored) {
        records::StoredTraffic traffic;
        IgnoringErrors(
            [&] { records::AddPeriod(*m_database, stored.first, stored.last, traffic); });
        return std::optional<limits::PeriodTraffic>({traffic.download, traffic.upload});
    });
    m_billing.lastReceived = m_sampler->RunTotals().received;
    m_billing.lastSent = m_sampler->RunTotals().sent;
}

void Meter::FollowPlans() {
    const platform::LocalDateTime now = m_system.clock.Now();
    const limits::LimitSettings shared{.thresholds = m_settings.limitThresholds};
    m_plansCounted = PlanCountedTotals();
    if (!m_system.openNetworkRecords || m_settings.networkPlans.empty()) {
        m_planWatch.Reset({}, shared, {now.year, now.month, now.day}, nullptr);
        return;
    }
    // The open hour goes in first, so the sums hold what this run counted before the
    // plans were (re)read: the run's counts since then are all that is added on.
    if (m_hours) {
        IgnoringErrors([&] { m_hours->SaveHour(); });
    }
    std::unique_ptr<platform::NetworkRecords> records;
    IgnoringErrors([&] {
        records = m_system.openNetworkRecords(paths::TrafficDatabase(m_system.dataDirectory));
    });
    m_planWatch.Reset(m_settings.networkPlans, shared, {now.year, now.month, now.day},
                      [&](const limits::NetworkPlan& plan, const limits::Period& period) {
                          platform::NetworkTraffic other, inHour;
                          if (records) {
                              IgnoringErrors([&] {
                                  records->SumNetwork(plan.network, FormatIsoDate(period.first),
                                                      FormatIsoDate(period.last), "", -1, other,
                                                      inHour);
                              });
                          }
                          return limits::PeriodTraffic{static_cast<double>(other.download),
                                                       static_cast<double>(other.upload)};
                      });
}

void Meter::CountPlans() {
    if (++m_planTicks < kPlanTicks) {
        return;
    }
    m_planTicks = 0;
    const platform::LocalDateTime now = m_system.clock.Now();
    if (!(m_planWatch.Day() == CalendarDate{now.year, now.month, now.day})) {
        FollowPlans(); // a new day may start a period, or end a package
        return;
    }
    const sampling::Totals totals = PlanCountedTotals();
    const double received = totals.received - m_plansCounted.received;
    const double sent = totals.sent - m_plansCounted.sent;
    m_plansCounted = totals;
    const platform::Network* network = KnownNetwork();
    if (!network || !m_planWatch.Add(network->id, received, sent)) {
        return;
    }
    if (m_settings.limitWarnings && !m_settingsFile.LimitWarningsSilenced()) {
        m_companions.StartLimitWatcher(false, m_sampler->RunTotals());
    }
}

sampling::Totals Meter::PlanCountedTotals() const {
    // Counting billed traffic only, a plan leaves the local network's part out too.
    sampling::Totals totals = m_sampler->RunTotals();
    if (m_settings.internetOnly) {
        totals.received -= m_account->LocalTotals().received;
        totals.sent -= m_account->LocalTotals().sent;
    }
    return totals;
}

const platform::Network* Meter::KnownNetwork() const {
    const platform::Network* network = m_system.networks ? &m_system.networks->Current() : nullptr;
    return network && network->Known() ? network : nullptr;
}

std::optional<limits::PlanWatch::Use> Meter::CurrentPlanUse() const {
    const platform::Network* network = KnownNetwork();
    return network ? m_planWatch.UseOf(network->id) : std::nullopt;
}

std::vector<metrics::ApplicationFigures> Meter::ApplicationTotals() const {
    std::vector<metrics::ApplicationFigures> figures;
    for (const auto& [application, total] : m_account->ApplicationTotals()) {
        figures.push_back(
            {.application = application, .receivedKb = total.receivedKb, .sentKb = total.sentKb});
    }
    return figures;
}

metrics::MeterFigures Meter::Figures() {
    FollowBillingPeriod();
    const CalendarDate& first = m_billing.period.first;
    const sampling::Totals totals = m_sampler->RunTotals();
    return {.device = m_sampler->MeasuredInterface(),
            .receivedKb = totals.received,
            .sentKb = totals.sent,
            .monthReceivedKb = m_sampler->MonthReceived(),
            .periodReceivedKb = m_billing.baseReceived + totals.received,
            .periodSentKb = m_billing.baseSent + totals.sent,
            .periodLimitKb = m_settings.periodLimitKb,
            .periodStartSeconds = metrics::UnixSeconds({first.year, first.month, first.day}),
            .rejectedSamples = m_sampler->RejectedSamples(),
            .applications = ApplicationTotals(),
            .localReceivedKb = m_account->LocalTotals().received,
            .localSentKb = m_account->LocalTotals().sent,
            .networks = NetworkTotals(),
            .plans = PlanFigures()};
}

std::vector<metrics::NetworkFigures> Meter::NetworkTotals() const {
    std::vector<metrics::NetworkFigures> figures;
    for (const auto& [id, total] : m_hours->NetworkTotals()) {
        figures.push_back(
            {.id = id,
             .name = id.empty() ? std::string(applications::kUnknownNetwork) : total.network.name,
             .kind = std::string(platform::KindWord(total.network.kind)),
             .metered = total.network.metered,
             .receivedKb = total.receivedKb,
             .sentKb = total.sentKb});
    }
    return figures;
}

std::vector<metrics::PlanFigures> Meter::PlanFigures() const {
    std::vector<metrics::PlanFigures> figures;
    for (const auto& [network, use] : m_planWatch.Uses()) {
        figures.push_back({.network = network, .usedKb = use.usedKb, .limitKb = use.limitKb});
    }
    return figures;
}

void Meter::RunUpdateCheck() {
    // Linux keeps no cache of downloads to clear first: the updater simply starts.
    m_companions.StartUpdater();
}

void Meter::ShowNewNotice() {
    Handle([&] { m_noticeFeed.ShowNewNotice(); });
}

void Meter::SaveBeforeSleep() {
    if (m_hours && !Finished()) {
        Handle([&] { m_hours->SaveNow(); });
    }
}

void Meter::OnUserClose() {
    Handle([&] {
        // Closing the window only hides it: counting goes on in the background.
        if (m_settings.showCloseNotice) {
            std::string notice(texts::kCloseNotice);
            if (m_frontEnd.desktop && !m_frontEnd.desktop->InTray()) {
                notice += texts::kCloseNoticeTaskbar;
            }
            const bool dontShowAgain =
                m_frontEnd.dialog.InformWithOptOut(std::string(texts::kCloseNoticeTitle), notice,
                                                   std::string(texts::kCloseNoticeCheckBox));
            m_settings.showCloseNotice = !dontShowAgain;
            Store([&] { m_settingsFile.StoreShowCloseNotice(!dontShowAgain); });
        }
        if (m_frontEnd.desktop) {
            m_frontEnd.desktop->HideWindow();
        }
    });
}

void Meter::AskToEnd() {
    Handle([&] {
        if (m_frontEnd.dialog.AskYesNo(std::string(texts::kExitQuestionTitle),
                                       std::string(texts::kExitQuestion))) {
            m_closer.Request(CloseReason::UserEnded);
        }
    });
}

void Meter::RunMenuCommand(MenuCommand command) {
    Handle([&] {
        switch (command) {
        case MenuCommand::Options:
            m_companions.StartOptions();
            break;
        case MenuCommand::OnTop:
            ToggleOnTop();
            break;
        case MenuCommand::Reports:
            ShowReports();
            break;
        case MenuCommand::Hide:
            StoreStartHidden(true);
            if (m_frontEnd.desktop) {
                m_frontEnd.desktop->HideWindow();
            }
            break;
        case MenuCommand::End:
            AskToEnd();
            break;
        case MenuCommand::About:
            m_frontEnd.about.ShowAbout();
            break;
        }
    });
}

void Meter::ToggleOnTop() {
    DesktopWindow* desktop = m_frontEnd.desktop;
    if (!desktop) {
        return; // no window to keep on top
    }
    const bool onTop = !desktop->OnTopChosen();
    desktop->SetOnTop(onTop);
    m_settings.onTop = onTop;
    Store([&] { m_settingsFile.StoreOnTop(onTop); });
    desktop->RebuildMenu(); // the check mark follows only through a rebuild
}

void Meter::ShowReports() {
    // The reports read the database: the hour so far goes in first. The counters
    // keep running.
    try {
        m_hours->SaveHour();
    } catch (const platform::DatabaseError& error) {
        m_frontEnd.notifier.ShowMessage(error.what());
    }
    m_companions.StartReports();
}

void Meter::Close(CloseReason reason) {
    // The tick stops first, so nothing samples or writes once the exit steps begin.
    m_frontEnd.window.Closing();
    m_system.downloader.CancelAll();
    if (m_account) {
        m_account->SettleAll(); // nothing waits past the last save
    }
    if (m_exitBookkeeping) {
        m_exitBookkeeping->Run(reason == CloseReason::SystemShutdown);
    }
    if (m_frontEnd.desktop) {
        m_frontEnd.desktop->Closed();
    }
}

} // namespace quantiro::shell
