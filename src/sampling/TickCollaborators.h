#pragma once

#include "common/CalendarDate.h"
#include "platform/InterfaceTable.h"
#include "platform/Networks.h"

#include <cstdint>
#include <optional>

namespace quantiro::sampling {

// A network's own plan as it stands: its use and limit in kB, as the plan counts
// them, and its period's last day.
struct PlanUse {
    double usedKb = 0;
    double limitKb = 0;
    CalendarDate lastDay{};
    bool operator==(const PlanUse&) const = default;
};

// What the tick shows: the window's bars, labels, marker and details list, or the
// terminal's line. Rates are in rate units, amounts in kilobytes.
class RateDisplay {
public:
    virtual ~RateDisplay() = default;
    // Writes only the detail cells whose source value differs from `lastSeen`.
    virtual void RefreshDetails(const platform::InterfaceRow& current,
                                const platform::InterfaceRow& lastSeen) = 0;
    virtual void ShowErrorMarker(bool visible) = 0;
    // The bar update: each bar is cut at its maximum, a rate written as text is not.
    // Zero rates clear the bars.
    virtual void ShowRates(double download, double upload) = 0;
    virtual void ShowAmounts(double received, double sent, double month) = 0;
    // Nothing to measure: the monitored interface is away, or no default route leads
    // anywhere. Told once as the wait begins; the next sample ends it.
    virtual void ShowWaiting() = 0;
    // The followed interface's network changed (or became known), or its own plan's
    // use moved (`plan`: none when it has no plan of its own in force); a display
    // without a place for it shows nothing.
    virtual void ShowNetwork(const platform::Network& /*network*/,
                             const std::optional<PlanUse>& /*plan*/) {}
};

// The kilobytes the monitored links carried since the meter started.
struct Totals {
    double received = 0;
    double sent = 0;
};

// Where the ticks' traffic goes: the hour's amounts (what a tick adds to them,
// whether the open hour's record is no longer the current hour's, and closing it to
// open the next), and what of the run's totals the user's figures leave out.
class HourRecords {
public:
    virtual ~HourRecords() = default;
    // Adds a counting tick's kilobytes, and `onlineMs` milliseconds on line (0 for a
    // tick that counts only by the exact rule).
    virtual void Count(double downloadKb, double uploadKb, std::uint32_t onlineMs) = 0;
    // An implausible tick: its kilobytes were never counted.
    virtual void Reject(double downloadKb, double uploadKb) = 0;
    // Kilobytes of the link's totals that the figures shown and passed on leave out:
    // the local network's, counting billed traffic only, and what still waits to be
    // told apart. Never falls by more than the link's totals grow.
    virtual Totals Withheld() const = 0;
    // Every tick's kilobytes reach the hour, not only those of ticks over 1 kB.
    virtual bool CountsEveryKilobyte() const = 0;
    virtual bool HourChanged() = 0;
    virtual void StartNextHour() = 0;
};

// The settings that other programs of the family change while the meter runs.
class SettingsReload {
public:
    virtual ~SettingsReload() = default;
    // Another program raised "WasChanged".
    virtual bool ChangedByFamily() = 0;
    // Rereads the settings.
    virtual void ReloadSettings() = 0;
    // The user silenced the limit warnings for now.
    virtual bool LimitWarningsSilenced() = 0;
};

// Starts the updater, once per run.
class UpdateCheck {
public:
    virtual ~UpdateCheck() = default;
    virtual void RunUpdateCheck() = 0;
};

// Starts the limit watcher with the run's totals.
class LimitWatcher {
public:
    virtual ~LimitWatcher() = default;
    virtual void StartLimitWatcher(bool atStartUp, const Totals& totals) = 0;
};

struct TickCollaborators {
    RateDisplay& display;
    HourRecords& records;
    SettingsReload& reload;
    UpdateCheck& update;
    LimitWatcher& limits;
};

} // namespace quantiro::sampling
