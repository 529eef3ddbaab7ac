#include "app/TerminalFrontEnd.h"

#include "app/LinuxPlatform.h"
#include "app/TerminalParts.h"
#include "messages/MessageFeed.h"
#include "platform/linux/UniqueFd.h"
#include "shell/Meter.h"
#include "ui/MenuCommands.h"

#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstring>
#include <iostream>

#include <poll.h>
#include <sys/signalfd.h>
#include <sys/timerfd.h>
#include <termios.h>
#include <unistd.h>

namespace quantiro::app {

namespace {

using platform::linux_impl::UniqueFd;

constexpr int kTicksPerScreen = 10;

// Keys arrive one by one and unechoed while the meter runs; the terminal gets its
// settings back however the run ends.
class RawKeys {
public:
    RawKeys() {
        if (::tcgetattr(STDIN_FILENO, &m_saved) == 0) {
            termios raw = m_saved;
            raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
            raw.c_cc[VMIN] = 1;
            raw.c_cc[VTIME] = 0;
            m_active = ::tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
        }
    }
    ~RawKeys() {
        if (m_active) {
            ::tcsetattr(STDIN_FILENO, TCSANOW, &m_saved);
        }
    }
    RawKeys(const RawKeys&) = delete;
    RawKeys& operator=(const RawKeys&) = delete;

private:
    termios m_saved{};
    bool m_active = false;
};

class Screen {
public:
    explicit Screen(bool redraw)
        : m_redraw(redraw) {}
    void Show(const TerminalDisplay& display) {
        if (!m_redraw) {
            std::cout << display.Line() << std::endl;
            return;
        }
        const std::string screen = display.Screen() + " q - zakończ\n";
        if (m_lines > 0) {
            std::cout << "\x1b[" << m_lines << "A\x1b[J"; // back to the top of the last screen
        }
        std::cout << screen << std::flush;
        m_lines = static_cast<int>(std::count(screen.begin(), screen.end(), '\n'));
    }
    void Forget() { m_lines = 0; } // something else was printed below the screen
    // A pipe gets the last figures once more as the meter ends.
    void Last(const TerminalDisplay& display) {
        if (!m_redraw) {
            std::cout << display.Line() << std::endl;
        }
    }

private:
    bool m_redraw;
    int m_lines = 0;
};

} // namespace

int RunTerminalFrontEnd(const char* commandLine) {
    std::setlocale(LC_ALL, "");
    const std::string decimalSeparator = std::localeconv()->decimal_point;
    const bool interactive = ::isatty(STDIN_FILENO) == 1;

    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        sigaddset(&stopSignals, signal);
    }
    // Blocked before anything else: signals are read from a descriptor, so none
    // interrupts a tick or the exit path half-way.
    sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
    UniqueFd signals(::signalfd(-1, &stopSignals, SFD_CLOEXEC));
    UniqueFd timer(::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC));
    UniqueFd tmrKomunikat(::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC));
    if (!signals.Valid() || !timer.Valid() || !tmrKomunikat.Valid()) {
        std::cerr << "Zelvano: " << std::strerror(errno) << '\n';
        return 1;
    }

    LinuxPlatform host;
    TerminalDialog dialog(signals.Get(), interactive);
    TerminalDisplay display(decimalSeparator);
    TerminalWindow window(display, host.settings);
    NoTray tray;
    shell::Meter meter({host.settings, host.clock, host.table, host.instanceLock, dialog, dialog,
                        tray, window, host.companions, host.companions, host.updateChecker, display,
                        window, host.programDirectory, LinuxPlatform::OpenDatabase});
    host.companions.Attach(meter.State());
    ui::MenuCommands commands(meter, dialog);
    messages::MessageFeed feed(host.programDirectory, messages::UpdateServer(), host.downloader,
                               host.settings, host.clock, dialog);

    try {
        if (meter.StartUp(commandLine) == shell::Meter::StartUpResult::AlreadyRunning) {
            return 0;
        }
    } catch (const std::exception& error) {
        std::cerr << "Zelvano: " << error.what() << '\n';
        return 1;
    }

    const auto interval =
        std::chrono::duration_cast<std::chrono::nanoseconds>(sampling::kTickInterval);
    itimerspec period{};
    period.it_interval.tv_nsec = interval.count();
    period.it_value.tv_nsec = interval.count();
    ::timerfd_settime(timer.Get(), 0, &period, nullptr);
    itimerspec once{};
    once.it_value.tv_sec =
        std::chrono::duration_cast<std::chrono::seconds>(messages::kMessageCheckDelay).count();
    ::timerfd_settime(tmrKomunikat.Get(), 0, &once, nullptr);

    RawKeys keys;
    Screen screen(::isatty(STDOUT_FILENO) == 1);
    int ticks = 0;
    shell::CloseReason reason = shell::CloseReason::FromCode;
    pollfd watched[] = {{signals.Get(), POLLIN, 0},
                        {timer.Get(), POLLIN, 0},
                        {tmrKomunikat.Get(), POLLIN, 0},
                        {STDIN_FILENO, POLLIN, 0}};
    const nfds_t watchedCount = interactive ? 4 : 3;
    while (!window.CloseRequested()) {
        if (::poll(watched, watchedCount, -1) < 0) {
            continue;
        }
        if (watched[0].revents & POLLIN) {
            signalfd_siginfo info{};
            if (::read(signals.Get(), &info, sizeof info) == sizeof info &&
                info.ssi_signo != SIGINT) {
                // The system going down or the session ending: no question asked.
                reason = shell::CloseReason::SystemShutdown;
                break;
            }
            screen.Forget();
            commands.EndProgram(); // Ctrl+C asks like "Zakończ"
            if (dialog.PendingSignal() != 0) {
                reason = shell::CloseReason::SystemShutdown;
                break;
            }
        }
        if (watched[2].revents & POLLIN) {
            std::uint64_t expirations = 0;
            [[maybe_unused]] const auto n =
                ::read(tmrKomunikat.Get(), &expirations, sizeof expirations);
            feed.CheckAndShowMessage();
        }
        if (watchedCount > 3 && (watched[3].revents & POLLIN)) {
            char key = 0;
            if (::read(STDIN_FILENO, &key, 1) == 1 && (key == 'q' || key == 'Q')) {
                screen.Forget();
                commands.EndProgram();
            }
        }
        if (watched[1].revents & POLLIN) {
            // Late firings are not caught up: one tick per wake, as a window timer does.
            std::uint64_t expirations = 0;
            [[maybe_unused]] const auto n = ::read(timer.Get(), &expirations, sizeof expirations);
            if (window.TimerEnabled()) {
                meter.Timer1_Timer();
                host.launcher.ReapExited(); // ended companions, collected without waiting
                // The first tick shows at once, then once a second.
                if (ticks++ % kTicksPerScreen == 0) {
                    screen.Show(display);
                }
            }
        }
    }
    meter.QueryUnload(reason);
    screen.Last(display);
    std::cout << "Kończenie pracy programu..." << std::endl;
    meter.Form_Unload();
    return 0;
}

} // namespace quantiro::app
