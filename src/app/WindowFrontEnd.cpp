#include "app/WindowFrontEnd.h"

#include "app/LinuxPlatform.h"
#include "messages/MessageFeed.h"
#include "platform/linux/UniqueFd.h"
#include "shell/Meter.h"
#include "shell/Texts.h"
#include "ui/BrowserWindow.h"
#include "ui/MainWindow.h"
#include "ui/MenuCommands.h"
#include "ui/QtDialogs.h"

#include <QApplication>
#include <QMessageBox>
#include <QSessionManager>
#include <QSocketNotifier>
#include <QTimer>
#include <clocale>
#include <csignal>

#include <sys/signalfd.h>
#include <unistd.h>

namespace quantiro::app {

int RunWindowFrontEnd(int& argc, char** argv, const std::string& commandLine) {
    // SIGTERM and SIGHUP end the session's programs: they close the window as a
    // system shutdown. Read from a descriptor, none of them cuts the exit path short.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        sigaddset(&stopSignals, signal);
    }
    sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
    platform::linux_impl::UniqueFd signalFd(
        ::signalfd(-1, &stopSignals, SFD_CLOEXEC | SFD_NONBLOCK));

    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    std::setlocale(LC_NUMERIC, "");
    const std::string decimalSeparator = std::localeconv()->decimal_point;

    LinuxPlatform host;
    ui::QtDialogs dialogs;
    ui::MainWindow window(host.settings, decimalSeparator);
    ui::BrowserWindow frmBrowser(host.downloader);
    shell::Meter meter({host.settings, host.clock, host.table, host.instanceLock, dialogs, dialogs,
                        window, window, host.companions, host.companions, host.updateChecker,
                        window, window, host.programDirectory, LinuxPlatform::OpenDatabase});
    host.companions.Attach(meter.State());
    ui::MenuCommands commands(meter, dialogs);
    window.Attach(meter, commands);
    messages::MessageFeed feed(host.programDirectory, messages::UpdateServer(), host.downloader,
                               host.settings, host.clock, frmBrowser);
    // tmrKomunikat: once, a minute after the window was made.
    QTimer::singleShot(messages::kMessageCheckDelay, &window, [&] { feed.CheckAndShowMessage(); });
    // Ended companions are collected on the tick, never waited for.
    QObject::connect(&window.Timer(), &QTimer::timeout, &window,
                     [&] { host.launcher.ReapExited(); });

    try {
        if (meter.StartUp(commandLine) == shell::Meter::StartUpResult::AlreadyRunning) {
            return 0;
        }
    } catch (const std::exception& error) {
        QMessageBox::critical(nullptr, QString::fromUtf8(shell::texts::kApplicationTitle.data()),
                              QString::fromUtf8(error.what()));
        return 1;
    }
    if (!window.IsHidden()) {
        window.show();
    }

    QSocketNotifier signalNotifier(signalFd.Get(), QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &window, [&] {
        signalfd_siginfo info{};
        while (::read(signalFd.Get(), &info, sizeof info) == sizeof info) {
            window.CloseAs(info.ssi_signo == SIGINT ? shell::CloseReason::FromCode
                                                    : shell::CloseReason::SystemShutdown);
        }
    });
    // The session manager logging the user off closes the meter like a shutdown.
    QObject::connect(&application, &QGuiApplication::commitDataRequest, &window,
                     [&](QSessionManager&) { window.CloseAs(shell::CloseReason::SystemShutdown); });

    return QApplication::exec();
}

} // namespace quantiro::app
