#include "app/TerminalFrontEnd.h"

#include "companions/Companions.h"
#include "ifstats/CIpHelper.h"
#include "platform/Tray.h"
#include "platform/Windows.h"
#include "platform/linux/IniRegistrySettings.h"
#include "platform/linux/NetlinkInterfaceTable.h"
#include "platform/linux/ProgramDirectory.h"
#include "platform/linux/SqliteDatabase.h"
#include "platform/linux/SystemClock.h"
#include "platform/linux/UniqueFd.h"
#include "records/HourlyRecords.h"
#include "records/MonthlySum.h"
#include "records/RecordFields.h"
#include "records/ShutdownBookkeeping.h"
#include "records/TransferLimits.h"
#include "sampling/AmountFormat.h"
#include "sampling/Sampler.h"
#include "shell/RegistryValues.h"

#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstring>
#include <iostream>

#include <poll.h>
#include <sys/signalfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

namespace quantiro::app {

namespace {

using platform::linux_impl::UniqueFd;

constexpr int kTicksPerStatusLine = 10;

std::string RateText(double rateUnits) {
    char text[64];
    std::snprintf(text, sizeof text, "%.2f kBps", rateUnits / 1000);
    return text;
}

// Parts of the meter that the terminal does not have yet; each does nothing.
class Idle final : public sampling::SettingsReload,
                   public sampling::UpdateCheck,
                   public sampling::LimitWatcher,
                   public platform::TrayIcon,
                   public companions::Companions {
public:
    void ChangeParameters() override {}
    void CheckForUpdate() override {}
    void CheckLimitDLL(bool) override {}
    void Remove() override {}
    void MonitorStop() override {}
    void VariantStart(std::int16_t) override {}
};

// The terminal has no window: the exit path writes back the position it found.
class StoredPlacement final : public platform::WindowPlacement {
public:
    explicit StoredPlacement(platform::RegistrySettings& settings)
        : m_left(values::Read(settings, values::kLeftP))
        , m_top(values::Read(settings, values::kTopP)) {}
    double LeftTwips() override { return m_left; }
    double TopTwips() override { return m_top; }

private:
    double m_left;
    double m_top;
};

} // namespace

void TerminalDisplay::RefreshDetails(const ifstats::CInterface& current,
                                     const ifstats::CInterface& lastSeen) {
    if (current.InterfaceName() != lastSeen.InterfaceName()) {
        m_interfaceName = current.InterfaceName();
    }
}

void TerminalDisplay::ShowRates(double download, double upload) {
    m_downloadRate = download;
    m_uploadRate = upload;
    m_hasSample = true;
}

void TerminalDisplay::ShowAmounts(double received, double sent, double month) {
    m_received = received;
    m_sent = sent;
    m_month = month;
}

std::string TerminalDisplay::StatusLine() const {
    if (!m_hasSample) {
        return "Brak danych monitorowanego interfejsu.";
    }
    std::string line = m_interfaceName;
    line += "  pobieranie: " + RateText(m_downloadRate);
    line += "  wysyłanie: " + RateText(m_uploadRate);
    line += "  Odeb.: " + sampling::FormatAmount(m_received, m_decimalSeparator);
    line += "  Wysł.: " + sampling::FormatAmount(m_sent, m_decimalSeparator);
    line += "  Transfer miesięczny: " + sampling::FormatMonthAmount(m_month, m_decimalSeparator);
    if (m_errorMarker) {
        line += "  [próbka odrzucona]";
    }
    return line;
}

void StderrNotifier::ShowMessage(std::string_view text) {
    std::cerr << "Zelvano: " << text << '\n';
}

int RunTerminalFrontEnd() {
    std::setlocale(LC_ALL, "");
    const std::string decimalSeparator = std::localeconv()->decimal_point;

    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        sigaddset(&stopSignals, signal);
    }
    // Blocked before anything else, so a signal is read from the descriptor and
    // never interrupts a tick half-way.
    sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
    UniqueFd signals(::signalfd(-1, &stopSignals, SFD_CLOEXEC));
    UniqueFd timer(::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC));
    if (!signals.Valid() || !timer.Valid()) {
        std::cerr << "Zelvano: " << std::strerror(errno) << '\n';
        return 1;
    }

    try {
        platform::linux_impl::IniRegistrySettings settings;
        settings.SetKeyPath(std::string(values::kKeyPath));
        settings.SetRootKey(platform::kHkeyCurrentUser);
        values::Write(settings, values::kIsRunning, true);

        sampling::SamplingState state;
        state.WarningsEnabled = values::Read(settings, values::kWarningsEnabled);
        const std::string programDirectory = platform::linux_impl::ProgramDirectory();
        const auto database =
            platform::linux_impl::OpenTrafficDatabase(programDirectory + "/qub.db");
        const auto trafficRecords = database->OpenRecordset(records::kTrafficTable);
        platform::linux_impl::SystemClock clock;
        StderrNotifier notifier;
        records::HourlyRecords hours(*database, *trafficRecords, state, clock, notifier);
        hours.OpenCurrentHour();

        platform::linux_impl::NetlinkInterfaceTable table;
        ifstats::CIpHelper interfaceReader(table, notifier);
        records::MonthlySum(*trafficRecords, settings, clock, state).SumujMiesiac(false);
        records::TransferLimits limits(programDirectory + "/quantiro.par", settings, state);
        limits.SetMaxTransfers();

        TerminalDisplay display(decimalSeparator);
        Idle idle;
        sampling::Sampler sampler(state, interfaceReader, clock, settings,
                                  {display, hours, idle, idle, idle});
        StoredPlacement placement(settings);
        records::ShutdownBookkeeping bookkeeping(
            {settings, hours, *trafficRecords, state, clock, placement, idle, idle});

        const auto interval =
            std::chrono::duration_cast<std::chrono::nanoseconds>(sampling::kTickInterval);
        itimerspec period{};
        period.it_interval.tv_nsec = interval.count();
        period.it_value.tv_nsec = interval.count();
        ::timerfd_settime(timer.Get(), 0, &period, nullptr);

        int ticks = 0;
        pollfd watched[] = {{signals.Get(), POLLIN, 0}, {timer.Get(), POLLIN, 0}};
        for (;;) {
            if (::poll(watched, 2, -1) < 0) {
                if (errno == EINTR) {
                    continue;
                }
                throw std::runtime_error(std::strerror(errno));
            }
            if (watched[0].revents & POLLIN) {
                signalfd_siginfo info{};
                [[maybe_unused]] const auto n = ::read(signals.Get(), &info, sizeof info);
                // Ctrl+C is the program's own close; SIGTERM and SIGHUP come from the
                // system going down or the session ending. Further signals stay
                // blocked, so nothing interrupts the exit path.
                state.SystemShuttingDown = info.ssi_signo != SIGINT;
                std::cout << "\nKończenie pracy programu..." << std::endl;
                bookkeeping.Form_Unload();
                return 0;
            }
            if (watched[1].revents & POLLIN) {
                // Late firings are not caught up: one tick per wake, as a timer would.
                std::uint64_t expirations = 0;
                [[maybe_unused]] const auto n =
                    ::read(timer.Get(), &expirations, sizeof expirations);
                sampler.Timer1_Timer();
                if (++ticks % kTicksPerStatusLine == 0) {
                    std::cout << display.StatusLine() << std::endl;
                }
            }
        }
    } catch (const std::exception& error) {
        std::cerr << "Zelvano: " << error.what() << '\n';
        return 1;
    }
}

} // namespace quantiro::app
