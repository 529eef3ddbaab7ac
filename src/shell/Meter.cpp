#include "shell/Meter.h"

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

namespace quantiro::shell {

using platform::Read;
using platform::Write;

namespace {
constexpr std::chrono::milliseconds kUnwrittenRetryInterval{2000};
// The service's counters are read once a second, not on every tick.
constexpr std::chrono::milliseconds kApplicationsInterval{1000};
// Questions unanswered before the service is taken to be absent.
constexpr int kAsksBeforeAbsent = 3;
} // namespace

Meter::Meter(SystemParts system, FrontEndParts frontEnd)
    : m_system(std::move(system))
    , m_frontEnd(frontEnd)
    , m_companions(m_system.programDirectory, m_system.launcher, m_system.settings)
    , m_noticeFeed(m_system.cacheDirectory, messages::UpdateServer(), m_system.downloader,
                   m_system.settings, m_system.clock, m_frontEnd.noticeBrowser)
    , m_closer([this](CloseReason reason) { Close(reason); },
               [this] { m_frontEnd.dialog.CloseOpenDialog(); })
    , m_reader(m_system.interfaceTable, m_frontEnd.notifier)
    , m_limits(m_system.programDirectory + "/quantiro.par", m_system.settings)
    , m_metrics(m_system.clock, m_frontEnd.notifier, QUANTIRO_VERSION) {}

Meter::~Meter() = default;

Meter::StartUpResult Meter::StartUp(const std::string& commandLine) {
    // The family starts its members with "/START", which skips the check (exactly,
    // case included). The lock is taken either way, for the life of the process.
    const bool anotherRunning = m_system.instanceLock.AnotherInstanceRunning();
    if (commandLine != companion_commands::kStartSwitch && anotherRunning) {
        m_frontEnd.dialog.Inform(std::string(texts::kApplicationTitle),
                                 std::string(texts::kAlreadyRunning));
        return StartUpResult::AlreadyRunning;
    }

    // Before anything is written, so that a directory that cannot be had leaves no trace.
    platform::MakePrivateDirectory(m_system.dataDirectory);
    platform::MakePrivateDirectory(m_system.cacheDirectory);

    platform::SettingsStore& settings = m_system.settings;
    DesktopWindow* desktop = m_frontEnd.desktop;
    Write(settings, values::kIsRunning, true);
    const bool limitWarnings = Read(settings, values::kWarningsEnabled);
    const bool exactCounting = Read(settings, values::kExactCounting);

    m_database = m_system.openDatabase(m_system.dataDirectory + "/qub.db");
    m_hours =
        std::make_unique<records::HourlyRecords>(*m_database, m_system.clock, m_frontEnd.notifier);
    m_hours->SetExactCounting(exactCounting);
    m_hours->OpenCurrentHour();
    m_exitBookkeeping = std::make_unique<ExitBookkeeping>(
        ExitBookkeeping::Parts{.settings = settings,
                               .hours = *m_hours,
                               .clock = m_system.clock,
                               .desktop = desktop,
                               .companions = m_companions,
                               .notifier = m_frontEnd.notifier,
                               .shape = *m_system.shape,
                               .instanceLock = m_system.instanceLock});
    m_sampler = std::make_unique<sampling::Sampler>(
        m_reader, m_system.clock, settings, m_limits,
        sampling::TickCollaborators{m_frontEnd.display, *m_hours, *this, *this, m_companions});
    m_sampler->SetLimitWarnings(limitWarnings);

    m_frontEnd.window.ApplyScale(presentation::ScaleFromSettings(settings));
    if (desktop) {
        desktop->RestorePosition();
        desktop->ApplyFixedSize();
    }
    m_sampler->SetMonthBase(records::SumMonth(*m_database, settings, m_system.clock));
    ReadMetricsSettings();
    ReadLocalNetworkSettings();
    if (desktop) {
        desktop->ShowTrayIcon();
    }

    if (Read(settings, values::kStartMonitor)) {
        m_companions.StartMonitor();
    }
    if (desktop) {
        if (Read(settings, values::kStartHidden)) {
            desktop->HideWindow();
        }
        desktop->RebuildMenu();
    }

    const platform::LocalDateTime now = m_system.clock.Now();
    const std::int16_t monthDay = RoundToInt16(DaysSinceEpoch(now.year, now.month, 1));
    if (RoundToInt16(Read(settings, values::kMonthDay)) != monthDay) {
        Write(settings, values::kMonthDay, monthDay);
    }

    if (!Read(settings, values::kNoStartSummary)) {
        m_companions.StartStatistics();
    }
    m_companions.StartLimitWatcher(true, m_sampler->RunTotals());

    if (desktop && Read(settings, values::kOnTop)) {
        desktop->SetOnTop(true);
    }
    m_limits.Update();
    if (desktop) {
        desktop->StartTimer();
    }
    return StartUpResult::Running;
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
        CountApplications(now);
        // After the tick's own database work, never inside it: a kill or a power
        // cut loses at most the minutes since this save.
        m_hours->SaveIfDue();
        if (m_metrics.Due()) {
            m_metrics.Offer(Figures());
        }
        m_tickRunning = false;
        RetryUnwrittenSettings(now);
        // Ended companions and fetches are collected here, never waited for.
        m_system.launcher.ReapExited();
        m_system.downloader.CollectFinished();
    });
}

void Meter::ReloadSettings() {
    platform::SettingsStore& settings = m_system.settings;
    if (shapes::OtherShapeChosen(*m_system.shape, Read(settings, values::kWindowVariant))) {
        // Another window shape is chosen: this one ends, and its exit starts the other.
        m_closer.Request(CloseReason::OtherVariant);
        return;
    }
    m_frontEnd.window.ApplyScale(presentation::ScaleFromSettings(settings));
    if (m_frontEnd.desktop) {
        m_frontEnd.desktop->ApplyFixedSize();
    }
    m_sampler->SetLimitWarnings(Read(settings, values::kWarningsEnabled));
    m_hours->SetExactCounting(Read(settings, values::kExactCounting));
    m_limits.Update();
    ReadMetricsSettings();
    ReadLocalNetworkSettings();
    m_sampler->SetAutoUpdate(Read(settings, values::kAutoUpdate) == 1);
    // Cleared last, so a flag raised again during the reload is taken by it. When
    // it cannot be cleared the next tick reloads again, which does no harm.
    StoreSetting(values::kSettingsChanged, false);
}

void Meter::ReadLocalNetworkSettings() {
    m_internetOnly = Read(m_system.settings, values::kInternetOnly);
    if (m_system.applicationCounters) {
        m_system.applicationCounters->SetLocalNetworks(
            Read(m_system.settings, values::kLocalNetworks));
    }
}

void Meter::CountApplications(std::uint32_t now) {
    platform::ApplicationCounterSource* service = m_system.applicationCounters;
    const bool ask = now - m_applicationsReadAt >= kApplicationsInterval.count();
    // Asked once a second; the answer is looked for on the ticks after, so what it
    // says is a tick old, not a second.
    if (!service || (!ask && !service->Waiting())) {
        return;
    }
    if (ask) {
        m_applicationsReadAt = now;
    }
    // The link's own totals (what was left out of them is the link's all the same)
    // when the question the answer belongs to went out: a late answer must not be
    // set against traffic that came after it.
    const sampling::Totals carried = m_sampler->CarriedTotals();
    const applications::LinkTotals linkNow{.receivedKb = carried.received, .sentKb = carried.sent};
    const applications::LinkTotals linkAsked = m_linkAtQuestion;
    const auto answer = service->Poll(m_sampler->MeasuredInterface(), ask);
    if (ask && service->Waiting()) {
        m_linkAtQuestion = linkNow;
    }
    if (!answer) {
        // Counting billed traffic only without the service: said once, and the whole
        // link counts, as the meter errs towards the bill.
        if (ask && ++m_asksUnanswered == kAsksBeforeAbsent && m_internetOnly &&
            !m_internetOnlyWarned) {
            m_internetOnlyWarned = true;
            m_frontEnd.notifier.ShowMessage(texts::kInternetOnlyWithoutCollector);
        }
        return;
    }
    m_asksUnanswered = 0;
    double localDownload = 0;
    double localUpload = 0;
    for (const applications::ApplicationDelta& delta : m_applicationTraffic.Differences(
             *answer, m_sampler->MeasuredLinkHeaderBytes(), linkAsked)) {
        localDownload += delta.downloadLocalKb;
        localUpload += delta.uploadLocalKb;
        // Billed only: what the program exchanged with the local network stays out.
        const double download = m_internetOnly
                                    ? std::max(delta.downloadKb - delta.downloadLocalKb, 0.0)
                                    : delta.downloadKb;
        const double upload =
            m_internetOnly ? std::max(delta.uploadKb - delta.uploadLocalKb, 0.0) : delta.uploadKb;
        m_hours->CountApplication(delta.application, download, upload, delta.downloadLocalKb,
                                  delta.uploadLocalKb);
        metrics::ApplicationFigures& total = m_applicationTotals[delta.application];
        total.application = delta.application;
        total.receivedKb += download;
        total.sentKb += upload;
    }
    m_localTotals.received += localDownload;
    m_localTotals.sent += localUpload;
    if (m_internetOnly && (localDownload > 0 || localUpload > 0)) {
        // The month, the period, the watcher, the records and the metrics all take
        // these totals and the hour's amounts; the bars keep the link's rates.
        m_hours->TakeBack(localDownload, localUpload);
        m_sampler->LeaveOut(localDownload, localUpload);
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

void Meter::StoreSetting(const values::BoolValue& value, bool data) {
    try {
        Write(m_system.settings, value, data);
    } catch (const platform::SettingsError& error) {
        SettingsWriteFailed(error);
    }
}

void Meter::SettingsWriteFailed(const platform::SettingsError& error) {
    if (!m_settingsFailureShown) {
        m_settingsFailureShown = true;
        m_frontEnd.notifier.ShowMessage(error.what());
    }
}

void Meter::ReadMetricsSettings() {
    platform::SettingsStore& settings = m_system.settings;
    m_metrics.SetDirectory(Read(settings, values::kMetricsDirectory));
    m_periodLimitKb = static_cast<double>(Read(settings, values::kPeriodLimit)) * 1024;
    m_billingDay = Read(settings, values::kBillingDay);
    FollowBillingPeriod();
}

void Meter::FollowBillingPeriod() {
    const platform::LocalDateTime now = m_system.clock.Now();
    const limits::Period period =
        limits::PeriodContaining({now.year, now.month, now.day}, m_billingDay);
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

std::vector<metrics::ApplicationFigures> Meter::ApplicationTotals() const {
    std::vector<metrics::ApplicationFigures> figures;
    for (const auto& [application, total] : m_applicationTotals) {
        figures.push_back(total);
    }
    return figures;
}

metrics::MeterFigures Meter::Figures() {
    FollowBillingPeriod();
    const CalendarDate& first = m_billing.period.first;
    const sampling::Totals& totals = m_sampler->RunTotals();
    return {.device = m_sampler->MeasuredInterface(),
            .receivedKb = totals.received,
            .sentKb = totals.sent,
            .monthReceivedKb = m_sampler->MonthReceived(),
            .periodReceivedKb = m_billing.baseReceived + totals.received,
            .periodSentKb = m_billing.baseSent + totals.sent,
            .periodLimitKb = m_periodLimitKb,
            .periodStartSeconds = metrics::UnixSeconds({first.year, first.month, first.day}),
            .rejectedSamples = m_sampler->RejectedSamples(),
            .applications = ApplicationTotals(),
            .localReceivedKb = m_localTotals.received,
            .localSentKb = m_localTotals.sent};
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
        if (Read(m_system.settings, values::kShowCloseNotice)) {
            std::string notice(texts::kCloseNotice);
            if (m_frontEnd.desktop && !m_frontEnd.desktop->InTray()) {
                notice += texts::kCloseNoticeTaskbar;
            }
            const bool dontShowAgain =
                m_frontEnd.dialog.InformWithOptOut(std::string(texts::kCloseNoticeTitle), notice,
                                                   std::string(texts::kCloseNoticeCheckBox));
            StoreSetting(values::kShowCloseNotice, !dontShowAgain);
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
            StoreSetting(values::kStartHidden, true);
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
    StoreSetting(values::kOnTop, onTop);
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
    if (m_exitBookkeeping) {
        m_exitBookkeeping->Run(reason == CloseReason::SystemShutdown);
    }
    if (m_frontEnd.desktop) {
        m_frontEnd.desktop->Closed();
    }
}

} // namespace quantiro::shell
