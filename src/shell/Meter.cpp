#include "shell/Meter.h"

#include "common/Rounding.h"
#include "records/RecordFields.h"
#include "sampling/RateScale.h"
#include "shell/DayNumber.h"
#include "shell/RegistryValues.h"
#include "shell/Texts.h"

namespace quantiro::shell {

Meter::Meter(MeterParts parts)
    : m(std::move(parts)) {}

Meter::~Meter() = default;

Meter::StartUpResult Meter::StartUp(const std::string& commandLine) {
    // The family starts its members with "/START", which skips the check (exactly,
    // case included). The lock is taken either way, for the life of the process.
    const bool anotherRunning = m.instanceLock.AnotherInstanceRunning();
    if (commandLine != texts::kStartSwitch && anotherRunning) {
        bool noCheckBox = false;
        m.dialog.ShowMessage(platform::kStyleOk, std::string(texts::kAlreadyRunning),
                             platform::kIconInformation, std::string(texts::kApplicationTitle),
                             noCheckBox, "");
        return StartUpResult::AlreadyRunning;
    }

    m.settings.SetKeyPath(std::string(values::kKeyPath));
    m.settings.SetRootKey(platform::kHkeyCurrentUser);
    values::Write(m.settings, values::kIsRunning, true);
    m_state.WarningsEnabled = values::Read(m.settings, values::kWarningsEnabled);

    m_database = m.openDatabase(m.programDirectory + "/qub.db");
    m_records = m_database->OpenRecordset(records::kTrafficTable);
    m_hours = std::make_unique<records::HourlyRecords>(*m_database, *m_records, m_state, m.clock,
                                                       m.notifier);
    m_hours->OpenCurrentHour();
    m_monthlySum = std::make_unique<records::MonthlySum>(*m_records, m.settings, m.clock, m_state);
    m_limits = std::make_unique<records::TransferLimits>(m.programDirectory + "/quantiro.par",
                                                         m.settings, m_state);
    m_bookkeeping =
        std::make_unique<records::ShutdownBookkeeping>(records::ShutdownBookkeeping::Parts{
            m.settings, *m_hours, *m_records, m_state, m.clock, m.placement, m.tray, m.companions});

    m_interfaceReader = std::make_unique<ifstats::CIpHelper>(m.interfaceTable, m.notifier);
    std::vector<std::string> descriptions;
    for (const auto& row : *m_interfaceReader->Interfaces()) {
        descriptions.push_back(row->InterfaceDescription());
    }
    m.window.FillInterfacePicker(descriptions);
    m_sampler = std::make_unique<sampling::Sampler>(
        m_state, *m_interfaceReader, m.clock, m.settings,
        sampling::TickCollaborators{m.display, *m_hours, *this, m.updateCheck, m.limitWatcher});
    m_sampler->SetSelectedInterface(descriptions.empty() ? -1 : 0);

    m.window.ApplyScale(sampling::SetInternet(m.settings));
    m.window.SetPosition();
    m.window.SetFormSize();
    m_monthlySum->SumujMiesiac(false);
    m.window.MoveFormToTray();

    if (values::Read(m.settings, values::kMonitorShow)) {
        m.companions.MonitorStart();
    }
    if (values::Read(m.settings, values::kHide)) {
        m.window.HideWindow();
    }
    m.window.CreateMenu();

    m_state.lastSentSample = 1.0;
    m_state.lastReceivedSample = 1.0;

    const platform::LocalDateTime now = m.clock.Now();
    const std::int16_t period = RoundToInt16(cDateToInt(now.year, now.month, 1));
    if (RoundToInt16(values::Read(m.settings, values::kOkres)) != period) {
        values::Write(m.settings, values::kOkres, period);
    }

    if (!values::Read(m.settings, values::kInfoFile)) {
        m.companions.StatisticsStart();
    }
    m.limitWatcher.CheckLimitDLL(true);

    m_state.OnTopFlag = values::Read(m.settings, values::kOnTop);
    if (m_state.OnTopFlag) {
        m.window.SetFormOnTop();
    }
    m_limits->SetMaxTransfers();
    m.window.EnableTimer(true);
    return StartUpResult::Running;
}

void Meter::ChangeParameters() {
    if (values::Read(m.settings, values::kSize) != 0) {
        // Another window variant of the family is chosen: this one ends, through
        // the exit path, and nothing below runs.
        m.window.CloseFromCode();
        return;
    }
    m.window.ApplyScale(sampling::SetInternet(m.settings));
    m.window.SetFormSize();
    m_monthlySum->SumujMiesiac(true);
    m_state.WarningsEnabled = values::Read(m.settings, values::kWarningsEnabled);
    m_limits->SetMaxTransfers();
    m_state.AutoUpdateEnabled = values::Read(m.settings, values::kAutoupdate) == 1;
    // Cleared last, so a flag raised again during the reload is taken by it.
    values::Write(m.settings, values::kWasChanged, false);
}

bool Meter::QueryUnload(CloseReason reason) {
    const bool showNotice = values::Read(m.settings, values::kUnloadInfo);
    m_state.SystemShuttingDown = reason == CloseReason::SystemShutdown;
    if (reason != CloseReason::UserClosed) {
        return false;
    }
    // Closing the window only hides it: counting goes on in the background.
    if (showNotice) {
        bool dontShowAgain = showNotice;
        m.dialog.ShowMessage(platform::kStyleOk, std::string(texts::kCloseNotice),
                             platform::kIconInformation, std::string(texts::kCloseNoticeTitle),
                             dontShowAgain, std::string(texts::kCloseNoticeCheckBox));
        values::Write(m.settings, values::kUnloadInfo, !dontShowAgain);
    }
    m.window.HideWindow();
    return true;
}

void Meter::Form_Unload() {
    if (m_unloaded || !m_bookkeeping) {
        return;
    }
    m_unloaded = true;
    m_bookkeeping->Form_Unload();
}

} // namespace quantiro::shell
