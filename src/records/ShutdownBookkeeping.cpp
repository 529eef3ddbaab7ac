#include "records/ShutdownBookkeeping.h"

#include "common/IgnoringErrors.h"
#include "common/Rounding.h"
#include "records/RecordFields.h"
#include "shell/RegistryValues.h"

namespace quantiro::records {

namespace {

using namespace std::chrono_literals;

constexpr int kReadBackAttempts = 10;
constexpr auto kReadBackWait = 10ms;
// Time for the family's programs to notice the saved hour before the meter goes.
constexpr auto kFinalWait = 2000ms;

} // namespace

void ShutdownBookkeeping::Form_Unload() {
    IgnoringErrors(
        [&] { values::Write(m.settings, values::kTopP, RoundToInt32(m.window.TopTwips())); });
    IgnoringErrors(
        [&] { values::Write(m.settings, values::kLeftP, RoundToInt32(m.window.LeftTwips())); });

    IgnoringErrors([&] { m.hours.WriteAccumulators(); });

    // Reads the record back until it shows the hour's download, for at most ten
    // short waits; this runs whether or not anything was written.
    for (int attempt = 0; attempt < kReadBackAttempts; ++attempt) {
        bool stored = false;
        IgnoringErrors(
            [&] { stored = FieldToInt32(m.records.GetField(kDownload)) == m.state.hourDownload; });
        if (stored) {
            break;
        }
        m.clock.Sleep(kReadBackWait);
    }

    m.clock.Sleep(kFinalWait);
    IgnoringErrors([&] { m.tray.Remove(); });
    IgnoringErrors([&] { m.companions.MonitorStop(); });

    std::int16_t size = 0;
    IgnoringErrors([&] { size = RoundToInt16(values::Read(m.settings, values::kSize)); });

    // After a normal exit the interface counters run on, so the next run's total
    // still holds this hour's traffic, which its record holds too: the next monthly
    // sum takes it off once. A shutdown restarts the counters; nothing to take off.
    const bool shuttingDown = m.state.SystemShuttingDown;
    IgnoringErrors([&] { values::Write(m.settings, values::kOdejmij, !shuttingDown); });
    IgnoringErrors([&] {
        values::Write(m.settings, values::kOdejmijUpload, shuttingDown ? 0 : m.state.hourUpload);
    });
    IgnoringErrors([&] {
        values::Write(m.settings, values::kOdejmijDownload,
                      shuttingDown ? 0 : m.state.hourDownload);
    });
    IgnoringErrors([&] {
        values::Write(m.settings, values::kOdejmijTime, shuttingDown ? 0 : m.state.hourTime);
    });

    IgnoringErrors([&] { values::Write(m.settings, values::kIsRunning, false); });

    if (size == 1 || size == 2) {
        IgnoringErrors([&] { m.companions.VariantStart(size); });
    }
}

} // namespace quantiro::records
