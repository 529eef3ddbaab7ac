#pragma once

#include "companions/Companions.h"
#include "ifstats/CIpHelper.h"
#include "platform/Clock.h"
#include "platform/Database.h"
#include "platform/Dialogs.h"
#include "platform/InstanceLock.h"
#include "platform/InterfaceTable.h"
#include "platform/Notifier.h"
#include "platform/Registry.h"
#include "platform/Tray.h"
#include "platform/Windows.h"
#include "records/HourlyRecords.h"
#include "records/MonthlySum.h"
#include "records/ShutdownBookkeeping.h"
#include "records/TransferLimits.h"
#include "sampling/Sampler.h"
#include "sampling/SamplingState.h"
#include "shell/MeterWindow.h"

#include <functional>
#include <memory>
#include <string>

namespace quantiro::shell {

// What a front-end hands the meter's core: the platform, the window (or what stands
// for it on a terminal) and the companions.
struct MeterParts {
    platform::RegistrySettings& settings;
    platform::Clock& clock;
    platform::InterfaceTable& interfaceTable;
    platform::InstanceLock& instanceLock;
    platform::MessageDialog& dialog;
    platform::Notifier& notifier;
    platform::TrayIcon& tray;
    platform::WindowPlacement& placement;
    companions::Companions& companions;
    sampling::LimitWatcher& limitWatcher;
    sampling::UpdateCheck& updateCheck;
    sampling::RateDisplay& display;
    MeterWindow& window;
    std::string programDirectory;
    std::function<std::unique_ptr<platform::Database>(const std::string& path)> openDatabase;
};

enum class CloseReason { UserClosed, FromCode, SystemShutdown, TaskManager, Other };

// The meter's core, the same under both front-ends: start-up, the tick, the settings
// reload, the close request and the exit path. It owns the sampling state, the
// traffic database and the interface reader for the whole run.
class Meter final : public sampling::SettingsReload {
public:
    explicit Meter(MeterParts parts);
    ~Meter() override;

    enum class StartUpResult { Running, AlreadyRunning };

    // The whole start-up, once per process, ending with the timer switched on. A
    // fatal error (the database, the settings store) is thrown; nothing runs after it.
    StartUpResult StartUp(const std::string& commandLine);

    void Timer1_Timer() { m_sampler->Timer1_Timer(); }
    void ChangeParameters() override;

    // The close-request handler: answers true when the close is cancelled (the user
    // closed the window, which only hides it).
    bool QueryUnload(CloseReason reason);
    // The exit path; runs once, after a close that went through.
    void Form_Unload();

    sampling::SamplingState& State() { return m_state; }
    records::HourlyRecords& Hours() { return *m_hours; }
    platform::RegistrySettings& Settings() { return m.settings; }
    const MeterParts& Parts() const { return m; }

private:
    MeterParts m;
    sampling::SamplingState m_state;
    std::unique_ptr<platform::Database> m_database;
    std::unique_ptr<platform::RecordSet> m_records;
    std::unique_ptr<records::HourlyRecords> m_hours;
    std::unique_ptr<records::MonthlySum> m_monthlySum;
    std::unique_ptr<records::TransferLimits> m_limits;
    std::unique_ptr<records::ShutdownBookkeeping> m_bookkeeping;
    std::unique_ptr<ifstats::CIpHelper> m_interfaceReader;
    std::unique_ptr<sampling::Sampler> m_sampler;
    bool m_unloaded = false;
};

} // namespace quantiro::shell
