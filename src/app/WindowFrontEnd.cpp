#include "app/WindowFrontEnd.h"

#include "app/LinuxPlatform.h"
#include "app/ShowRequests.h"
#include "common/CompanionCommands.h"
#include "common/DecimalText.h"
#include "platform/linux/SleepWatch.h"
#include "platform/linux/StopSignals.h"
#include "shell/Texts.h"
#include "ui/BrowserWindow.h"
#include "ui/FamilyApplication.h"
#include "ui/MainWindow.h"
#include "ui/QtDialogs.h"

#include <QApplication>
#include <QMessageBox>
#include <QSessionManager>
#include <QSocketNotifier>
#include <QTimer>
#include <csignal>
#include <optional>

namespace quantiro::app {

int RunWindowFrontEnd(int& argc, char** argv, const std::string& commandLine,
                      const shapes::WindowShape& shape) {
    platform::linux_impl::StopSignals stopSignals;
    QApplication application(argc, argv);
    ui::PrepareFamilyApplication();
    QApplication::setQuitOnLastWindowClosed(false);
    // The window's class and the desktop entry's name, so the desktop matches them.
    QApplication::setApplicationName(QStringLiteral("quantiro"));
    QGuiApplication::setDesktopFileName(QStringLiteral("quantiro"));
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

    // SIGTERM and SIGHUP end the session's programs: a system shutdown. SIGINT is the
    // user's own end, as a confirmed "Zakończ". Before the meter runs (a second start
    // showing its message) any of them just closes the message, and the start ends.
    bool running = false;
    int stopBeforeRunning = 0;
    auto stop = [&](int signal) {
        meter.RequestClose(signal == SIGINT ? shell::CloseReason::UserEnded
                                            : shell::CloseReason::SystemShutdown);
    };
    QSocketNotifier signalNotifier(stopSignals.Descriptor(), QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &window, [&] {
        for (int signal = stopSignals.Next(); signal != 0; signal = stopSignals.Next()) {
            if (running) {
                stop(signal);
            } else {
                stopBeforeRunning = signal;
                dialogs.CloseOpenDialog();
            }
        }
    });

    // A meter already running shows its window at once, while this start is refused
    // with its message; only the meter that holds the instance lock listens.
    ShowRequests showRequests(host.paths.runtimeDirectory, "quantiro");
    if (commandLine != companion_commands::kStartSwitch) {
        showRequests.Send();
    }
    try {
        if (meter.StartUp(commandLine) == shell::Meter::StartUpResult::AlreadyRunning) {
            return 0;
        }
    } catch (const std::exception& error) {
        QMessageBox::critical(nullptr, QString::fromUtf8(shell::texts::kApplicationTitle.data()),
                              QString::fromUtf8(error.what()));
        return 1;
    }
    running = true;
    if (stopBeforeRunning != 0) {
        // Closed from the event loop, which the exit steps end.
        QTimer::singleShot(0, &window, [&, signal = stopBeforeRunning] { stop(signal); });
    } else if (!window.IsHidden()) {
        window.show();
    }
    showRequests.Listen([&] { window.ShowOnRequest(); });

    // A change of the settings file is told by the loop, so a tick asks nothing of it.
    std::optional<QSocketNotifier> settingsNotifier;
    if (const int watch = host.settings.WatchDescriptorForLoop(); watch >= 0) {
        settingsNotifier.emplace(watch, QSocketNotifier::Read);
        QObject::connect(&*settingsNotifier, &QSocketNotifier::activated, &window,
                         [&] { host.settings.WatchReadable(); });
    }
    // The system's sleep: the open hour is written before it.
    platform::linux_impl::SleepWatch sleepWatch;
    std::optional<QSocketNotifier> sleepNotifier;
    if (const int bus = sleepWatch.Descriptor(); bus >= 0) {
        sleepNotifier.emplace(bus, QSocketNotifier::Read);
        QObject::connect(&*sleepNotifier, &QSocketNotifier::activated, &window, [&] {
            if (!sleepWatch.Readable([&] { meter.SaveBeforeSleep(); })) {
                sleepNotifier->setEnabled(false); // the bus is gone
            }
        });
    }
    // The session manager logging the user off closes the meter like a shutdown.
    QObject::connect(
        &application, &QGuiApplication::commitDataRequest, &window,
        [&](QSessionManager&) { meter.RequestClose(shell::CloseReason::SystemShutdown); });

    return QApplication::exec();
}

} // namespace quantiro::app
