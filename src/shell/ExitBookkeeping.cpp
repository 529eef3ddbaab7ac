#include "shell/ExitBookkeeping.h"

#include "common/IgnoringErrors.h"
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
    if (m.desktop) {
        step([&] { m.settings.StorePosition(m.desktop->Position()); });
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

    const shapes::WindowShape* chosen = nullptr;
    step([&] { chosen = m.settings.ChosenShape(); });

    // A shutdown restarts the counters: nothing to correct.
    const platform::HourAmounts& hour = m.hours.Amounts();
    step([&] { m.settings.StoreCorrection(systemShuttingDown ? nullptr : &hour); });
    step([&] { m.settings.StoreRunning(false); });

    // Another shape chosen: it starts as this one ends.
    if (chosen && chosen->variant != m.shape.variant) {
        m.instanceLock.PassToNextProgram();
        step(
            [&] { m.settings.StoreShapeRecord(m.companions.StartWindowVariant(chosen->variant)); });
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
