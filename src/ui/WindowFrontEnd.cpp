#include "ui/WindowFrontEnd.h"

#include "companions/PendingCompanions.h"
#include "platform/linux/FlockInstanceLock.h"
#include "platform/linux/IniRegistrySettings.h"
#include "platform/linux/NetlinkInterfaceTable.h"
#include "platform/linux/ProgramDirectory.h"
#include "platform/linux/SqliteDatabase.h"
#include "platform/linux/SystemClock.h"
#include "platform/linux/UniqueFd.h"
#include "shell/Texts.h"
#include "ui/MainWindow.h"
#include "ui/MenuCommands.h"
#include "ui/QtDialogs.h"

#include <QApplication>
#include <QMessageBox>
#include <QSessionManager>
#include <QSocketNotifier>
#include <clocale>
#include <csignal>

#include <sys/signalfd.h>
#include <unistd.h>

namespace quantiro::ui {

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

    platform::linux_impl::IniRegistrySettings settings;
    platform::linux_impl::SystemClock clock;
    platform::linux_impl::NetlinkInterfaceTable table;
    platform::linux_impl::FlockInstanceLock instanceLock;
    QtDialogs dialogs;
    MainWindow window(settings, decimalSeparator);
    companions::PendingCompanions companions;
    shell::Meter meter({settings, clock, table, instanceLock, dialogs, dialogs, window, window,
                        companions, companions, companions, window, window,
                        platform::linux_impl::ProgramDirectory(), [](const std::string& path) {
                            return platform::linux_impl::OpenTrafficDatabase(path);
                        }});
    MenuCommands commands(meter, dialogs);
    window.Attach(meter, commands);

    try {
        if (meter.StartUp(commandLine) == shell::Meter::StartUpResult::AlreadyRunning) {
            return 0;
        }
    } catch (const std::exception& error) {
        QMessageBox::critical(nullptr, QString::fromUtf8(shell::texts::kApplicationTitle.data()),
                              QString::fromUtf8(error.what()));
        return 1;
    }
    if (!window.StartedHidden()) {
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

} // namespace quantiro::ui
