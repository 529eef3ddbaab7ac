#include "app/TerminalFrontEnd.h"

#include "app/Console.h"
#include "app/LinuxPlatform.h"
#include "app/StopSignals.h"
#include "app/TerminalParts.h"
#include "common/DecimalText.h"
#include "shell/Texts.h"

#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstring>

#include <sys/epoll.h>
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

} // namespace

int RunTerminalFrontEnd(const std::string& commandLine, const shapes::WindowShape& shape) {
    // The terminal's character set for the Polish texts; numbers carry the
    // separator of the environment's locale and never depend on the process's.
    std::setlocale(LC_ALL, "");
    const std::string decimalSeparator = EnvironmentDecimalSeparator();
    const bool interactive = ::isatty(STDIN_FILENO) == 1;

    StopSignals stopSignals;
    UniqueFd noticeTimer(::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC));
    if (!stopSignals.Valid() || !noticeTimer.Valid()) {
        Write(stderr,
              std::string(shell::texts::kApplicationTitle) + ": " + std::strerror(errno) + '\n');
        return 1;
    }

    LinuxPlatform host;
    TerminalDialog dialog(stopSignals.Descriptor());
    TerminalDisplay display(decimalSeparator);
    TerminalWindow window(display, host.settings, shape, ::isatty(STDOUT_FILENO) == 1);
    shell::Meter meter(host.Parts(shape), {.dialog = dialog,
                                           .about = dialog,
                                           .notifier = dialog,
                                           .display = display,
                                           .window = window,
                                           .noticeBrowser = dialog});
    dialog.OnShutdownSignal([&] { meter.RequestClose(shell::CloseReason::SystemShutdown); });

    try {
        if (meter.StartUp(commandLine) == shell::Meter::StartUpResult::AlreadyRunning) {
            return 0;
        }
    } catch (const std::exception& error) {
        Write(stderr, std::string(shell::texts::kApplicationTitle) + ": " + error.what() + '\n');
        return 1;
    }

    StartOneShot(noticeTimer.Get(), messages::kMessageCheckDelay);

    RawKeys keys;
    int ticks = 0;
    // A change of the settings file wakes the loop itself, so a tick asks nothing
    // of the file (a descriptor of -1 is left out of the wait). The descriptors stay
    // registered with the kernel from wake to wake, which costs less than a poll.
    enum Source : std::uint32_t { kSignals, kNoticeTimer, kSettings, kKeys, kSources };
    UniqueFd waitSet(::epoll_create1(EPOLL_CLOEXEC));
    auto watch = [&](int descriptor, Source source) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.u32 = source;
        if (descriptor >= 0) {
            ::epoll_ctl(waitSet.Get(), EPOLL_CTL_ADD, descriptor, &event);
        }
    };
    watch(stopSignals.Descriptor(), kSignals);
    watch(noticeTimer.Get(), kNoticeTimer);
    watch(host.settings.WatchDescriptorForLoop(), kSettings);
    if (interactive) {
        watch(STDIN_FILENO, kKeys);
    }
    // The ticks keep a 100 ms grid as the wait's time-out, which costs no timer to
    // read on each wake. The first comes right away: it only takes the counters the
    // next one measures from, so the screen fills without waiting a whole period.
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
            const int signal = stopSignals.Next();
            if (signal == SIGINT && interactive) {
                window.Forget();
                meter.AskToEnd(); // Ctrl+C asks like "Zakończ"
            } else if (signal == SIGINT) {
                // Nobody to ask: the same close as a confirmed "Zakończ".
                meter.RequestClose(shell::CloseReason::UserEnded);
            } else if (signal != 0) {
                // The system going down or the session ending: no question asked.
                meter.RequestClose(shell::CloseReason::SystemShutdown);
            }
        }
        if (readable[kSettings]) {
            host.settings.WatchReadable();
        }
        if (readable[kNoticeTimer]) {
            Consume(noticeTimer.Get());
            meter.ShowNewNotice();
        }
        if (readable[kKeys]) {
            char key = 0;
            if (::read(STDIN_FILENO, &key, 1) == 1 && (key == 'q' || key == 'Q')) {
                window.Forget();
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
            if (!meter.Finished() && ticks++ % kTicksPerScreen == 1 && !window.Show()) {
                meter.RequestClose(shell::CloseReason::BrokenPipe);
            }
        }
    }
    return 0;
}

} // namespace quantiro::app
