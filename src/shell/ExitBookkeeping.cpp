#include "shell/ExitBookkeeping.h"

#include "common/IgnoringErrors.h"
#include "common/Rounding.h"
#include "shell/Texts.h"

namespace quantiro::shell {

namespace {

using namespace std::chrono_literals;

constexpr int kReadBackAttempts = 10;
constexpr auto kReadBackWait = 10ms;
// Time for the family's programs to notice the saved hour before the meter goes.
constexpr auto kFinalWait = 2000ms;

} // namespace

void ExitBookkeeping::Run(bool systemShuttingDown) {
    std::vector<std::string> errors;
    auto step = [&](auto&& action) {
        IgnoringErrors(errors, action);
    };
    using platform::Write;

    if (m.desktop) {
        // Stored in twips, as the family keeps window positions.
        const PixelPosition position = m.desktop->Position();
        step([&] { Write(m.settings, m.shape.top, position.top * shapes::kTwipsPerPixel); });
        step([&] { Write(m.settings, m.shape.left, position.left * shapes::kTwipsPerPixel); });
    }

    step([&] { m.hours.SaveHour(); });

    // Reads the record back until it shows the hour's download, for at most ten
    // short waits; this runs whether or not anything was written.
    for (int attempt = 0; attempt < kReadBackAttempts; ++attempt) {
        if (m.hours.StoredDownload() == m.hours.Amounts().download) {
            break;
        }
        m.clock.Sleep(kReadBackWait);
    }

    m.clock.Sleep(kFinalWait);
    if (m.desktop) {
        step([&] { m.desktop->RemoveTrayIcon(); });
    }
    step([&] { m.companions.StopMonitor(); });

    std::int16_t variant = 0;
    step([&] { variant = RoundToInt16(platform::Read(m.settings, values::kWindowVariant)); });

    // The family reads the last hour's amounts as the correction after a normal
    // exit (a shutdown restarts the counters: nothing to correct); the meter's next
    // monthly sum only clears it, as its totals count from its own start.
    const bool shuttingDown = systemShuttingDown;
    const platform::HourAmounts& hour = m.hours.Amounts();
    step([&] { Write(m.settings, values::kCorrectionPending, !shuttingDown); });
    step([&] { Write(m.settings, values::kCorrectionUpload, shuttingDown ? 0 : hour.upload); });
    step([&] { Write(m.settings, values::kCorrectionDownload, shuttingDown ? 0 : hour.download); });
    step([&] { Write(m.settings, values::kCorrectionTime, shuttingDown ? 0 : hour.time); });

    step([&] { Write(m.settings, values::kIsRunning, false); });

    // Another shape chosen: it starts as this one ends.
    if (shapes::OtherShapeChosen(m.shape, variant)) {
        m.instanceLock.PassToNextProgram();
        step([&] { m.companions.StartWindowVariant(variant); });
    }

    if (!errors.empty()) {
        std::string text(texts::kExitStepsFailed);
        for (const std::string& error : errors) {
            text += "\n" + error;
        }
        IgnoringErrors([&] { m.notifier.ShowMessage(text); });
    }
}

} // namespace quantiro::shell
