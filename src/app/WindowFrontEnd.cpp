#include "app/WindowFrontEnd.h"

#include "app/LinuxPlatform.h"
#include "app/ShowRequests.h"
#include "common/CompanionCommands.h"
#include "common/DecimalText.h"
#include "platform/linux/SleepWatch.h"
#include "platform/linux/StopSignals.h"
#include "shell/CloseController.h"
#include "ui/BrowserWindow.h"
#include "ui/FamilyApplication.h"
#include "ui/MainWindow.h"
#include "ui/QtDialogs.h"

#include <QSocketNotifier>
#include <QTimer>
#include <optional>

namespace quantiro::app {

namespace {

// The stop signals, read in the event loop. While the meter runs each closes it.
// Before it runs (a second start showing its message) any of them just closes the
// message, and the start ends.
class StopSignalWatch {
public:
    StopSignalWatch(platform::linux_impl::StopSignals& stopSignals, shell::Meter& meter,
                    ui::QtDialogs& dialogs, QObject& context)
        : m_notifier(stopSignals.Descriptor(), QSocketNotifier::Read) {
        QObject::connect(&m_notifier, &QSocketNotifier::activated, &context,
                         [this, &stopSignals, &meter, &dialogs] {
                             for (int signal = stopSignals.Next(); signal != 0;
                                  signal = stopSignals.Next()) {
                                 if (m_running) {
                                     meter.RequestClose(shell::CloseReasonOfStopSignal(signal));
                                 } else {
                                     m_stopBeforeRunning = signal;
                                     dialogs.CloseOpenDialog();
                                 }
                             }
                         });
    }

    // The meter has started. True when a signal came before: the meter is closed
    // from the event loop, which the exit steps end.
    bool MeterRunning(shell::Meter& meter, QObject& context) {
        m_running = true;
        if (m_stopBeforeRunning == 0) {
            return false;
        }
        QTimer::singleShot(0, &context, [&meter, signal = m_stopBeforeRunning] {
            meter.RequestClose(shell::CloseReasonOfStopSignal(signal));
        });
        return true;
    }

private:
    QSocketNotifier m_notifier;
    bool m_running = false;
    int m_stopBeforeRunning = 0;
};

// What the event loop watches for the running meter: a change of the settings file
// and the kernel's announcements of the interfaces (so a quiet tick asks nothing of
// either) and the system's sleep, before which the open hour is written.
class SystemWatches {
public:
    SystemWatches(platform::linux_impl::IniSettingsStore& settings,
                  platform::InterfaceTable& interfaces, platform::NetworkWatch& networks,
                  shell::Meter& meter, QObject& context) {
        if (const int watch = settings.WatchDescriptorForLoop(); watch >= 0) {
            m_settingsNotifier.emplace(watch, QSocketNotifier::Read);
            QObject::connect(&*m_settingsNotifier, &QSocketNotifier::activated, &context,
                             [&settings] { settings.WatchReadable(); });
        }
        if (const int changes = interfaces.ChangesDescriptorForLoop(); changes >= 0) {
            m_interfacesNotifier.emplace(changes, QSocketNotifier::Read);
            QObject::connect(&*m_interfacesNotifier, &QSocketNotifier::activated, &context,
                             [&interfaces] { interfaces.ChangesReadable(); });
        }
        if (const int announced = networks.ChangesDescriptorForLoop(); announced >= 0) {
            m_networksNotifier.emplace(announced, QSocketNotifier::Read);
            QObject::connect(&*m_networksNotifier, &QSocketNotifier::activated, &context,
                             [&networks] { networks.ChangesReadable(); });
        }
        if (const int bus = m_sleepWatch.Descriptor(); bus >= 0) {
            m_sleepNotifier.emplace(bus, QSocketNotifier::Read);
            QObject::connect(&*m_sleepNotifier, &QSocketNotifier::activated, &context,
                             [this, &meter] {
                                 if (!m_sleepWatch.Readable([&] { meter.SaveBeforeSleep(); })) {
                                     m_sleepNotifier->setEnabled(false); // the bus is gone
                                 }
                             });
        }
    }

private:
    platform::linux_impl::SleepWatch m_sleepWatch;
    std::optional<QSocketNotifier> m_settingsNotifier;
    std::optional<QSocketNotifier> m_interfacesNotifier;
    std::optional<QSocketNotifier> m_sleepNotifier;
    std::optional<QSocketNotifier> m_networksNotifier;
};

// The meter's start-up. The exit status when this start ends here: another meter
// runs, or the start failed (told in a message box).
std::optional<int> StartMeter(shell::Meter& meter, const std::string& commandLine) {
    try {
        if (meter.StartUp(commandLine) == shell::Meter::StartUpResult::AlreadyRunning) {
            return 0;
        }
    } catch (const std::exception& error) {
        ui::ShowStartFailure(error.what());
        return 1;
    }
    return std::nullopt;
}

} // namespace

int RunWindowFrontEnd(int& argc, char** argv, const std::string& commandLine,
                      const shapes::WindowShape& shape) {
    platform::linux_impl::StopSignals stopSignals;
    // The window's class and the desktop entry's name, so the desktop matches them.
    ui::FamilyApplication application(argc, argv, {.program = "quantiro"});
    application.KeepRunningWithoutWindows();
    const std::string decimalSeparator = EnvironmentDecimalSeparator();

    LinuxPlatform host;
    ui::QtDialogs dialogs;
    ui::MainWindow window(decimalSeparator, shape);
    ui::BrowserWindow noticeWindow(host.downloader, host.paths.cacheDirectory);
    shell::Meter meter(host.Parts(shape), {.dialog = dialogs,
                                           .about = dialogs,
                                           .notifier = dialogs,
                                           .display = window,
                                           .window = window,
                                           .noticeBrowser = noticeWindow,
                                           .desktop = &window});
    window.Attach(meter);
    // The notice check: once, a minute after the window was made.
    QTimer::singleShot(messages::kMessageCheckDelay, &window, [&] { meter.ShowNewNotice(); });
    StopSignalWatch stopSignalWatch(stopSignals, meter, dialogs, window);

    // A meter already running shows its window at once, while this start is refused
    // with its message; only the meter that holds the instance lock listens.
    ShowRequests showRequests(host.paths.runtimeDirectory, "quantiro");
    if (commandLine != companion_commands::kStartSwitch) {
        showRequests.Send();
    }
    if (const auto status = StartMeter(meter, commandLine)) {
        return *status;
    }
    if (!stopSignalWatch.MeterRunning(meter, window) && !window.IsHidden()) {
        window.show();
    }
    showRequests.Listen([&] { window.ShowOnRequest(); });
    SystemWatches systemWatches(host.settings, host.table, host.networks, meter, window);
    // The session manager logging the user off closes the meter like a shutdown.
    application.OnSessionEnd([&] { meter.RequestClose(shell::CloseReason::SystemShutdown); });
    return application.Run();
}

} // namespace quantiro::app
