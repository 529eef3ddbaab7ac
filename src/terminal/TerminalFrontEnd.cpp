#include "terminal/TerminalFrontEnd.h"

#include "common/Console.h"
#include "common/DecimalText.h"
#include "platform/InterfaceTable.h"
#include "platform/SystemEvents.h"
#include "platform/linux/UniqueFd.h"
#include "shell/CloseController.h"
#include "shell/Texts.h"
#include "terminal/TerminalParts.h"

#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstring>
#include <initializer_list>
#include <utility>

#include <sys/epoll.h>
#include <sys/timerfd.h>
#include <termios.h>
#include <unistd.h>

namespace quantiro::terminal {

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

// Arms the timer to fire once, `after` from now.
void StartOneShot(int descriptor, std::chrono::nanoseconds after) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(after);
    const itimerspec setting{
        {}, {static_cast<time_t>(seconds.count()), static_cast<long>((after - seconds).count())}};
    ::timerfd_settime(descriptor, 0, &setting, nullptr);
}

void Consume(int descriptor) {
    std::uint64_t expirations = 0;
    [[maybe_unused]] const auto n = ::read(descriptor, &expirations, sizeof expirations);
}

// What the loop waits on.
enum Source : std::uint32_t {
    kSignals,
    kNoticeTimer,
    kSettings,
    kInterfaces,
    kKeys,
    kSleep,
    kNetworks,
    kSources
};

// The descriptors stay registered with the kernel from wake to wake, which costs less
// than a poll; a descriptor of -1 is left out.
UniqueFd MakeWaitSet(std::initializer_list<std::pair<int, Source>> watched) {
    UniqueFd waitSet(::epoll_create1(EPOLL_CLOEXEC));
    for (const auto& [descriptor, source] : watched) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.u32 = source;
        if (descriptor >= 0) {
            ::epoll_ctl(waitSet.Get(), EPOLL_CTL_ADD, descriptor, &event);
        }
    }
    return waitSet;
}

// Ctrl+C on a terminal asks like "Zakończ"; without one nobody can answer, so it
// closes at once, as SIGTERM and SIGHUP do, each with its own close reason.
void OnStopSignal(int signal, bool interactive, TerminalWindow& window, shell::Meter& meter) {
    if (signal == SIGINT && interactive) {
        window.Forget();
        meter.AskToEnd();
    } else if (signal != 0) {
        meter.RequestClose(shell::CloseReasonOfStopSignal(signal));
    }
}

struct LoopParts {
    platform::StopSignalSource& stopSignals;
    platform::SleepAnnouncements& sleepWatch;
    platform::NetworkWatch* networks; // none: no network is followed
    int noticeTimer;
    platform::SettingsStore& settings;
    platform::InterfaceTable& interfaceTable;
    TerminalWindow& window;
    shell::Meter& meter;
    bool interactive;
};

// Waits for a source or the next tick until the meter is finished. A change of the
// settings file or of the interfaces wakes the loop itself, so a quiet tick asks
// nothing of the file or of the kernel's announcements. The ticks keep a 100 ms
// grid as the wait's time-out, which costs no timer to read on each wake; the first
// comes right away and only takes the counters up.
void RunLoop(const LoopParts& parts) {
    const UniqueFd waitSet = MakeWaitSet(
        {{parts.stopSignals.Descriptor(), kSignals},
         {parts.noticeTimer, kNoticeTimer},
         {parts.settings.WatchDescriptorForLoop(), kSettings},
         {parts.interfaceTable.ChangesDescriptorForLoop(), kInterfaces},
         {parts.interactive ? STDIN_FILENO : -1, kKeys},
         {parts.sleepWatch.Descriptor(), kSleep},
         {parts.networks != nullptr ? parts.networks->ChangesDescriptorForLoop() : -1, kNetworks}});
    shell::Meter& meter = parts.meter;
    int ticks = 0;
    using TickClock = std::chrono::steady_clock;
    TickClock::time_point nextTick = TickClock::now();
    TickClock::time_point now = nextTick;
    while (!meter.Finished()) {
        // Rounded up to whole milliseconds, so that a wake never comes before the tick.
        const auto timeout = std::chrono::ceil<std::chrono::milliseconds>(
            std::max(nextTick - now, TickClock::duration::zero()));
        epoll_event events[kSources];
        const int ready =
            ::epoll_wait(waitSet.Get(), events, kSources, static_cast<int>(timeout.count()));
        now = TickClock::now();
        bool readable[kSources] = {};
        for (int i = 0; i < ready; ++i) {
            readable[events[i].data.u32] = true;
        }
        if (readable[kSignals]) {
            OnStopSignal(parts.stopSignals.Next(), parts.interactive, parts.window, meter);
        }
        if (readable[kSleep]) {
            // When the bus is gone the watch closes its descriptor, and that alone
            // takes it out of the wait set.
            parts.sleepWatch.Readable([&] { meter.SaveBeforeSleep(); });
        }
        if (readable[kNetworks]) {
            parts.networks->ChangesReadable();
        }
        if (readable[kSettings]) {
            parts.settings.WatchReadable();
        }
        if (readable[kInterfaces]) {
            parts.interfaceTable.ChangesReadable();
        }
        if (readable[kNoticeTimer]) {
            Consume(parts.noticeTimer);
            meter.ShowNewNotice();
        }
        if (readable[kKeys]) {
            char key = 0;
            if (::read(STDIN_FILENO, &key, 1) == 1 && (key == 'q' || key == 'Q')) {
                parts.window.Forget();
                meter.AskToEnd();
            }
        }
        if (now >= nextTick) {
            // Late ticks are not caught up: one tick per wake, as a window timer does.
            while (nextTick <= now) {
                nextTick += sampling::kTickInterval;
            }
            meter.OnTick();
            // The second tick shows, the first with a rate measured between two
            // samples, then one in ten.
            if (!meter.Finished() && ticks++ % kTicksPerScreen == 1 && !parts.window.Show()) {
                meter.RequestClose(shell::CloseReason::BrokenPipe);
            }
        }
    }
}

} // namespace

int RunMeter(const MeterRun& run) {
    // The terminal's character set for the Polish texts; numbers carry the
    // separator of the environment's locale and never depend on the process's.
    std::setlocale(LC_ALL, "");
    const std::string decimalSeparator = EnvironmentDecimalSeparator();
    const bool interactive = ::isatty(STDIN_FILENO) == 1;

    platform::StopSignalSource& stopSignals = run.stopSignals;
    UniqueFd noticeTimer(::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC));
    if (!stopSignals.Valid() || !noticeTimer.Valid()) {
        Write(stderr,
              std::string(shell::texts::kApplicationTitle) + ": " + std::strerror(errno) + '\n');
        return 1;
    }

    TerminalDialog dialog(stopSignals.Descriptor());
    TerminalDisplay display(decimalSeparator);
    TerminalWindow window(display, ::isatty(STDOUT_FILENO) == 1);
    shell::Meter meter(run.system, {.dialog = dialog,
                                    .about = dialog,
                                    .notifier = dialog,
                                    .display = display,
                                    .window = window,
                                    .noticeBrowser = dialog});
    dialog.OnShutdownSignal([&] { meter.RequestClose(shell::CloseReason::SystemShutdown); });

    try {
        if (meter.StartUp(run.commandLine) == shell::Meter::StartUpResult::AlreadyRunning) {
            return 0;
        }
    } catch (const std::exception& error) {
        Write(stderr, std::string(shell::texts::kApplicationTitle) + ": " + error.what() + '\n');
        return 1;
    }

    StartOneShot(noticeTimer.Get(), messages::kMessageCheckDelay);

    RawKeys keys;
    const std::unique_ptr<platform::SleepAnnouncements> sleepWatch = run.watchSleep();
    RunLoop({.stopSignals = stopSignals,
             .sleepWatch = *sleepWatch,
             .networks = run.system.networks,
             .noticeTimer = noticeTimer.Get(),
             .settings = run.system.settings,
             .interfaceTable = run.system.interfaceTable,
             .window = window,
             .meter = meter,
             .interactive = interactive});
    return 0;
}

} // namespace quantiro::terminal
