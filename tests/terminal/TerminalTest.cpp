// The meter as a whole process: started in a program directory of its own, ended
// by a signal, and judged by what it left in its database and settings.
#include "common/DecimalText.h"
#include "fakes/TestMeter.h"
#include "fakes/TrafficTable.h"
#include "terminal/TerminalParts.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quantiro {
namespace {

namespace fs = std::filesystem;

class TerminalMeter {
public:
    TerminalMeter() {
        fs::create_directories(m_programDirectory);
        fs::copy_file(QUANTIRO_BINARY, m_programDirectory / "quantiro");
        fs::copy_file(fs::path(QUANTIRO_BINARY).parent_path() / "quantiro.par",
                      m_programDirectory / "quantiro.par");
    }

    struct Run {
        int status;
        std::string output; // standard output and error together
    };
    // Runs the meter without a terminal until it has printed `lines` lines, then
    // sends `signal` (a second one after `repeatAfter`) or, with no signal, closes
    // the reading end of its output; with `lines` 0, until it ends by itself.
    Run RunAndStop(std::optional<int> signal, int lines = 1,
                   std::optional<std::chrono::milliseconds> repeatAfter = std::nullopt) {
        int output[2];
        EXPECT_EQ(::pipe(output), 0);
        const pid_t child = ::fork();
        if (child == 0) {
            ::dup2(output[1], STDOUT_FILENO);
            ::dup2(output[1], STDERR_FILENO);
            ::close(output[0]);
            ::dup2(::open("/dev/null", O_RDONLY | O_CLOEXEC), STDIN_FILENO);
            Exec();
        }
        ::close(output[1]);
        Run run{0, {}};
        char c = 0;
        for (int seen = 0; seen < lines && ::read(output[0], &c, 1) == 1;) {
            run.output.push_back(c);
            seen += c == '\n';
        }
        if (signal) {
            ::kill(child, *signal);
            if (repeatAfter) {
                // A second signal while the exit path runs must not cut it short.
                ::usleep(static_cast<useconds_t>(repeatAfter->count() * 1000));
                ::kill(child, *signal);
            }
        }
        // Without a signal, the reader goes away as `quantiro | head -n 1` does.
        while ((signal || lines == 0) && ::read(output[0], &c, 1) == 1) {
            run.output.push_back(c);
        }
        ::close(output[0]);
        int status = 0;
        ::waitpid(child, &status, 0);
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return run;
    }

    // Runs the meter on a pseudo-terminal, as a user at a console would.
    pid_t StartOnTerminal(int& terminal) {
        const pid_t child = ::forkpty(&terminal, nullptr, nullptr, nullptr);
        if (child == 0) {
            ::setenv("TERM", "xterm", 1);
            Exec();
        }
        return child;
    }
    // In the child: becomes the meter, with its settings in the test's directory.
    [[noreturn]] void Exec() const {
        ::setenv("XDG_CONFIG_HOME", ConfigHome().c_str(), 1);
        ::setenv("XDG_RUNTIME_DIR", ConfigHome().c_str(), 1);
        ::setenv("XDG_DATA_HOME", (m_dir.Path() / "data").c_str(), 1);
        ::setenv("XDG_CACHE_HOME", (m_dir.Path() / "cache").c_str(), 1);
        // Loopback is there on every machine, a default route is not.
        ::setenv("QUANTIRO_INTERFACE", "lo", 1);
        if (!m_locale.empty()) {
            ::setenv("LC_ALL", m_locale.c_str(), 1);
        }
        const std::string program = (m_programDirectory / "quantiro").string();
        ::execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }

    void UseLocale(std::string locale) { m_locale = std::move(locale); }
    const fs::path& Directory() const { return m_dir.Path(); }
    std::string ConfigHome() const { return (m_dir.Path() / "config").string(); }
    fs::path DataDirectory() const { return m_dir.Path() / "data/Kestrova/Quantiro"; }
    std::string Database() const { return (DataDirectory() / "qub.db").string(); }

    std::unique_ptr<platform::linux_impl::IniSettingsStore> Settings() const {
        return testing::OpenSettings(ConfigHome());
    }

private:
    testing::TempDir m_dir;
    fs::path m_programDirectory = m_dir.Path() / "program dir";
    std::string m_locale;
};

TEST(TerminalTest, WithoutATerminalEveryEndRunsTheExitPathAndExitsZero) {
    struct Case {
        const char* name;
        std::optional<int> signal; // none: the reader of the output goes away
        bool correctionLeft;
        std::optional<std::chrono::milliseconds> repeatAfter;
    };
    using namespace std::chrono_literals;
    const Case cases[] = {
        {"Ctrl+C, nobody to ask", SIGINT, true, {}},
        {"SIGTERM", SIGTERM, false, {}},
        {"SIGHUP twice", SIGHUP, false, 500ms},
        {"broken pipe", std::nullopt, true, {}},
    };
    for (const Case& c : cases) {
        TerminalMeter meter;
        const auto run = meter.RunAndStop(c.signal, 1, c.repeatAfter);
        ASSERT_EQ(run.status, 0) << c.name;
        EXPECT_EQ(run.output.find("Czy na pewno"), std::string::npos) << c.name;
        const auto settings = meter.Settings();
        EXPECT_FALSE(platform::Read(*settings, values::kIsRunning)) << c.name;
        EXPECT_EQ(platform::Read(*settings, values::kCorrectionPending), c.correctionLeft)
            << c.name;
        EXPECT_EQ(testing::TrafficTable(meter.Database()).Rows().size(), 1u) << c.name;
        // Made private, the folders on the way included.
        for (const fs::path& made : {meter.DataDirectory(), meter.DataDirectory().parent_path()}) {
            EXPECT_EQ(fs::status(made).permissions(), fs::perms::owner_all) << c.name << made;
        }
    }
}

TEST(TerminalTest, AStartWithoutItsFilesEndsWithStatusOneAndNamesThePath) {
    struct Case {
        const char* name;
        const char* blocked; // a file where the start needs a directory, or the database
        bool settingsWritten;
    };
    const Case cases[] = {
        {"data directory", "data/Kestrova", false},
        {"cache directory", "cache/Kestrova/Quantiro", false},
        {"unreadable database", "data/Kestrova/Quantiro/qub.db", true},
    };
    for (const Case& c : cases) {
        TerminalMeter meter;
        const fs::path blocked = meter.Directory() / c.blocked;
        fs::create_directories(blocked.parent_path());
        { std::ofstream(blocked) << "to nie jest baza danych"; }
        const auto run = meter.RunAndStop(std::nullopt, 0);
        EXPECT_EQ(run.status, 1) << c.name;
        EXPECT_NE(run.output.find(blocked.string()), std::string::npos) << c.name << run.output;
        EXPECT_EQ(testing::FileText(blocked), "to nie jest baza danych") << c.name;
        EXPECT_EQ(fs::exists(meter.ConfigHome() + "/Kestrova/Quantiro.conf"), c.settingsWritten)
            << c.name;
    }
}

TEST(TerminalTest, AmountsAndRatesCarryTheLocalesDecimalSeparator) {
    struct Case {
        const char* locale;
        const char* amounts; // the received total, the rates, the month
    };
    const Case cases[] = {
        {"C.UTF-8", R"(pobieranie: +[0-9]+\.[0-9]{2} kBps.*Odeb\.: [0-9 ]*\.[0-9]{2} [kMG]B .*)"
                    R"(Transfer miesięczny: [0-9 ]+\.[0-9]{2} [kMG]B)"},
        {"pl_PL.UTF-8", R"(pobieranie: +[0-9]+,[0-9]{2} kBps.*Odeb\.: [0-9 ]*,[0-9]{2} [kMG]B .*)"
                        R"(Transfer miesięczny: [0-9 ]+,[0-9]{2} [kMG]B)"},
    };
    for (const Case& c : cases) {
        TerminalMeter meter;
        meter.UseLocale(c.locale);
        const auto run = meter.RunAndStop(SIGTERM, 1);
        EXPECT_TRUE(std::regex_search(run.output, std::regex(c.amounts))) << c.locale << run.output;
    }
}

TEST(TerminalTest, TheRatePrintsAsMeasuredWhileItsBarStopsAtTheScale) {
    struct Case {
        const char* locale;
        double download; // rate units; the scale of a nominal 512 ends at 112 600
        const char* line;
        const char* bar;
    };
    const Case cases[] = {
        {"C.UTF-8", 56'300, "pobieranie:    56.30 kBps", "[###############...............]"},
        {"C.UTF-8", 1'000'000, "pobieranie:  1000.00 kBps", "[##############################]"},
        {"pl_PL.UTF-8", 30'000'000, "pobieranie: 30000,00 kBps",
         "[##############################]"},
    };
    for (const Case& c : cases) {
        ::setenv("LC_ALL", c.locale, 1);
        terminal::TerminalDisplay display(EnvironmentDecimalSeparator());
        ::unsetenv("LC_ALL");
        display.SetScale(presentation::ScaleForSpeeds(512, 512));
        display.ShowRates(c.download, 0);
        EXPECT_NE(display.Line().find(c.line), std::string::npos) << c.locale << display.Line();
        const std::string screen = display.Screen();
        EXPECT_NE(screen.find(std::string("Pobieranie ") + c.bar), std::string::npos) << screen;
    }
}

TEST(TerminalTest, TextFromTheNetworkPrintsWithoutControlCharacters) {
    struct Case {
        std::string from, printed;
    };
    const Case cases[] = {
        {"http://a/strona", "http://a/strona"},
        {"http://a/\x1b]0;tytuł\x07x", "http://a/]0;tytułx"}, // ESC and BEL
        {"a\rb\nc\td\x7f", "abcd"},
        {"a\xc2\x9b"
         "2Jb",
         "a2Jb"}, // C1 CSI as UTF-8
        {"a\x9b"
         "2Jb\xff",
         "a2Jb"},                                       // a lone C1 byte, no UTF-8
        {"zażółć\xc2\xa0gęślą", "zażółć\xc2\xa0gęślą"}, // letters and a no-break space stay
    };
    for (const Case& c : cases) {
        EXPECT_EQ(terminal::Printable(c.from), c.printed);
    }
}

// Reads the terminal until `text` shows up (or ten seconds pass); answers all read.
std::string ReadUntil(int terminal, const std::string& text) {
    std::string seen;
    pollfd watched{terminal, POLLIN, 0};
    while (seen.find(text) == std::string::npos && ::poll(&watched, 1, 10'000) > 0) {
        char buffer[512];
        const ssize_t n = ::read(terminal, buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        seen.append(buffer, static_cast<std::size_t>(n));
    }
    return seen;
}

TEST(TerminalTest, OnATerminalTheMeterRedrawsAndAsksBeforeItEnds) {
    TerminalMeter meter;
    int terminal = -1;
    const pid_t child = meter.StartOnTerminal(terminal);
    ASSERT_GT(child, 0);
    const std::string screen = ReadUntil(terminal, "Transfer miesięczny:");
    EXPECT_NE(screen.find("Pobieranie ["), std::string::npos) << screen;
    EXPECT_NE(screen.find("Odeb.:"), std::string::npos) << screen;
    EXPECT_NE(ReadUntil(terminal, "\x1b[").find("\x1b["),
              std::string::npos); // the next second redraws in place

    // q asks; n keeps it running.
    ASSERT_EQ(::write(terminal, "q", 1), 1);
    EXPECT_NE(ReadUntil(terminal, "[t/n]").find("Czy na pewno chcesz zakończyć pracę programu?"),
              std::string::npos);
    ASSERT_EQ(::write(terminal, "n", 1), 1);
    ReadUntil(terminal, "Pobieranie [");
    EXPECT_TRUE(platform::Read(*meter.Settings(), values::kIsRunning));

    // Ctrl+C asks too, and a second Ctrl+C answers yes.
    ::kill(child, SIGINT);
    ReadUntil(terminal, "[t/n]");
    ::kill(child, SIGINT);
    ReadUntil(terminal, "Kończenie pracy programu");
    int status = 0;
    ::waitpid(child, &status, 0);
    ::close(terminal);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_FALSE(platform::Read(*meter.Settings(), values::kIsRunning));
    EXPECT_TRUE(platform::Read(*meter.Settings(), values::kCorrectionPending));
}

} // namespace
} // namespace quantiro
