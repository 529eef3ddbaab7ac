#pragma once

#include "common/WindowShapes.h"
#include "limits/NetworkPlans.h"
#include "messages/MessageFeed.h"
#include "platform/HourStore.h"
#include "platform/Processes.h"
#include "platform/Settings.h"
#include "presentation/RateScale.h"
#include "sampling/TransferLimits.h"
#include "shell/MeterWindow.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace quantiro::shell {

// Every value of the family's settings file the meter goes by, read at once. The
// start-up and every reload take a fresh one, so no value is read anywhere else.
struct MeterSettings {
    // The shape "Size" chooses; none for a value no shape has.
    const shapes::WindowShape* chosenShape = nullptr;
    bool limitWarnings = false;
    bool exactCounting = true;
    // "Autoupdate" is 1: the updater starts once, ten minutes into the run.
    bool autoUpdate = false;
    bool startMonitor = true;
    bool startHidden = false;
    bool startSummary = true;
    bool onTop = true;
    bool showCloseNotice = true;
    presentation::RateScale scale;
    sampling::SpeedSettings speeds;
    std::string metricsDirectory;
    double periodLimitKb = 0;
    std::int32_t billingDay = 1;
    std::array<std::int32_t, 3> limitThresholds{80, 90, 100};
    // The networks' own plans, which the meter follows to start the limit watcher
    // the moment one crosses a threshold.
    std::vector<limits::NetworkPlan> networkPlans;
    bool internetOnly = false;
    std::string localNetworks;
    // The interface the user chose; empty: the default route's. Taken at start only.
    std::string interfaceName;
    // The first day of the month the meter last started in (see DaysSinceEpoch).
    std::int16_t monthDay = 0;
};

// The one place the meter reads and writes the family's settings file: the
// snapshot above, the family's live signals the tick asks for, and each value the
// meter leaves for the family (running flag, window position, correction, the
// record of a started companion, the notices shown). A failed write throws
// SettingsError.
class MeterSettingsFile final : public messages::ShownNotices {
public:
    MeterSettingsFile(platform::SettingsStore& store, const shapes::WindowShape& shape)
        : m_store(store)
        , m_shape(shape) {}

    MeterSettings Read();
    // The shape "Size" chooses now; none for a value no shape has.
    const shapes::WindowShape* ChosenShape();

    // "WasChanged": another program of the family changed a value.
    bool ChangedByFamily();
    void ClearChanged();
    // "OstrzezeniaNiePokazuj": the user silenced the limit warnings for now.
    bool LimitWarningsSilenced();

    void StoreRunning(bool running);
    void StoreMonthDay(std::int16_t monthDay);
    void StoreStartHidden(bool hidden);
    void StoreOnTop(bool onTop);
    void StoreShowCloseNotice(bool show);

    // This shape's window position, in pixels; the family stores twips. A value
    // that does not fit 16 bits (written by some other program of the family)
    // reads as its default, so the window stays reachable.
    PixelPosition Position();
    void StorePosition(const PixelPosition& position);

    // The family reads the last hour's amounts as the correction after a normal
    // exit; a shutdown restarts the counters and leaves none.
    void StoreCorrection(const platform::HourAmounts* hour);
    // The meter's totals count from its own start, so its monthly sum never takes
    // the correction off: it only clears it.
    void ClearCorrection();

    // What the family reads of a started companion: the monitor, and the window
    // shape started at exit.
    void StoreMonitorRecord(const platform::StartedProcess& process);
    void StoreShapeRecord(const platform::StartedProcess& process);

    // "mID_<n>": the notice numbered n has been shown on this computer.
    bool Shown(std::int32_t identifier) override;
    void MarkShown(std::int32_t identifier) override;

    // Writes again what a full disk refused; true once nothing waits.
    bool RetryUnwritten() { return m_store.RetryUnwritten(); }

private:
    platform::SettingsStore& m_store;
    const shapes::WindowShape& m_shape;
};

} // namespace quantiro::shell
