// The metrics file in directories where another user, or something planted there,
// could make the meter write elsewhere or wait.
#include "metrics/MetricsFile.h"

#include "fakes/FakeClock.h"
#include "fakes/TempDir.h"
#include "platform/Files.h"

#include <csignal>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quantiro::metrics {
namespace {

struct Messages final : platform::Notifier {
    void ShowMessage(std::string_view text) override { shown.emplace_back(text); }
    std::vector<std::string> shown;
};

TEST(MetricsFileTest, NothingPlantedBesideTheFileIsFollowedOrWaitedOn) {
    struct Case {
        const char* name;
        std::function<void(const std::filesystem::path& directory)> plant;
        bool written;
    };
    const Case cases[] = {
        {"a link under the old temporary name",
         [](const std::filesystem::path& d) {
             std::filesystem::create_symlink(d / "target", d / "quantiro.prom.tmp");
         },
         true},
        {"a FIFO under the old temporary name",
         [](const std::filesystem::path& d) {
             ASSERT_EQ(::mkfifo((d / "quantiro.prom.tmp").c_str(), 0600), 0);
         },
         true},
        {"a directory every user may write",
         [](const std::filesystem::path& d) {
             std::filesystem::permissions(d, std::filesystem::perms::all);
         },
         false},
    };
    ::alarm(60); // a write that waits on a FIFO ends the test instead of hanging it
    for (const Case& c : cases) {
        testing::TempDir dir;
        std::filesystem::create_directory(dir.Path() / "metrics");
        const std::filesystem::path directory = dir.Path() / "metrics";
        platform::WriteFileWhole((directory / "target").string(), "the user's own file\n");
        c.plant(directory);
        testing::FakeClock clock;
        Messages messages;
        MetricsFile file(clock, messages, "1.0");
        file.SetDirectory(directory.string());
        for (int tick = 0; tick < 3; ++tick) { // three offers: each a tick's worth
            file.Offer({.device = "eth0", .receivedKb = 1.0 + tick});
            clock.Advance(15'000);
        }
        EXPECT_EQ(platform::ReadFileWhole((directory / "target").string()), "the user's own file\n")
            << c.name;
        EXPECT_EQ(std::filesystem::exists(directory / "quantiro.prom"), c.written) << c.name;
        EXPECT_EQ(messages.shown.size(), c.written ? 0u : 1u) << c.name;
        std::size_t leftovers = 0;
        for (const auto& entry : std::filesystem::directory_iterator(directory)) {
            leftovers += entry.path().filename().string().starts_with("quantiro.prom.tmp.");
        }
        EXPECT_EQ(leftovers, 0u) << c.name;
    }
    ::alarm(0);
}

// Twelve applications, then a small one grows past the others: the file keeps the
// ten it named, and the rest's series never falls, which Prometheus would read as
// a counter reset.
TEST(MetricsFileTest, ApplicationSeriesStayBoundedAndTheRestNeverFalls) {
    testing::TempDir dir;
    testing::FakeClock clock;
    Messages messages;
    MetricsFile file(clock, messages, "1.0");
    file.SetDirectory(dir.Path().string());
    MeterFigures figures{.device = "eth0"};
    for (int i = 0; i < 12; ++i) {
        figures.applications.push_back(
            {.application = "app" + std::to_string(i), .receivedKb = 100.0 - i});
    }
    // What the meter recorded as "pozostałe" itself goes into the rest, not beside it.
    figures.applications.push_back({.application = "pozostałe", .receivedKb = 95.5});
    auto series = [&] {
        std::map<std::string, double> found;
        std::istringstream lines(platform::ReadFileWhole((dir.Path() / "quantiro.prom").string()));
        const std::string prefix = "quantiro_application_receive_bytes_total{application=\"";
        for (std::string line; std::getline(lines, line);) {
            if (line.starts_with(prefix)) {
                const std::size_t end = line.find('"', prefix.size());
                found[line.substr(prefix.size(), end - prefix.size())] =
                    std::stod(line.substr(line.find("} ") + 2));
            }
        }
        return found;
    };
    file.Offer(figures);
    const auto first = series();
    EXPECT_EQ(first.size(), kNamedApplications + 1);
    EXPECT_EQ(first.at("pozostałe"), (90.0 + 89.0 + 95.5) * 1024);
    figures.applications[11].receivedKb = 10'000; // app11 was in the rest
    clock.Advance(15'000);
    file.Offer(figures);
    const auto second = series();
    EXPECT_EQ(second.size(), kNamedApplications + 1);
    EXPECT_FALSE(second.contains("app11"));
    EXPECT_GE(second.at("pozostałe"), first.at("pozostałe"));
}

// The networks likewise: ten keep their series for the run, the rest never falls,
// and a name with a quote, a backslash or a line break stays one label value.
TEST(MetricsFileTest, NetworkSeriesStayBoundedAndTheirNamesStayLabelValues) {
    testing::TempDir dir;
    testing::FakeClock clock;
    Messages messages;
    MetricsFile file(clock, messages, "1.0");
    file.SetDirectory(dir.Path().string());
    MeterFigures figures{.device = "wlan0"};
    for (int i = 0; i < 12; ++i) {
        figures.networks.push_back({.id = "nm:" + std::to_string(i),
                                    .name = "Sieć " + std::to_string(i),
                                    .kind = "wifi",
                                    .receivedKb = 100.0 - i});
    }
    figures.networks[0].name = "Kawiarnia \"Pod \\ Lipą\"\n2";
    figures.networks[0].metered = true;
    auto samples = [&] {
        std::vector<std::string> found;
        std::istringstream lines(platform::ReadFileWhole((dir.Path() / "quantiro.prom").string()));
        for (std::string line; std::getline(lines, line);) {
            if (line.starts_with("quantiro_network_receive_bytes_total{")) {
                found.push_back(line);
            }
        }
        return found;
    };
    file.Offer(figures);
    const std::vector<std::string> first = samples();
    ASSERT_EQ(first.size(), kNamedNetworks + 1);
    EXPECT_EQ(first[0], "quantiro_network_receive_bytes_total{network=\"Kawiarnia \\\"Pod "
                        "\\\\ Lipą\\\"\\n2\",id=\"nm:0\",kind=\"wifi\",metered=\"true\"} 102400");
    EXPECT_EQ(first.back(), "quantiro_network_receive_bytes_total{network=\"pozostałe\",id=\"\","
                            "kind=\"\",metered=\"false\"} 183296");
    figures.networks.back().receivedKb = 10'000; // nm:11 was in the rest
    clock.Advance(15'000);
    file.Offer(figures);
    const std::vector<std::string> second = samples();
    ASSERT_EQ(second.size(), kNamedNetworks + 1);
    EXPECT_EQ(second.back(), "quantiro_network_receive_bytes_total{network=\"pozostałe\",id=\"\","
                             "kind=\"\",metered=\"false\"} 10332160")
        << "nm:11 grows within the rest, never into a series of its own";
}

TEST(MetricsFileTest, EachNetworksPlanHasItsUseAndLimitUnderTheNetworksId) {
    MeterFigures figures{.device = "wlan0"};
    figures.plans = {{.network = "wifi:Kawiarnia \"Pod\\Lipą\"", .usedKb = 80, .limitKb = 100}};
    const std::string text = FormatMetrics(figures, "1.0", 0);
    EXPECT_NE(text.find("\nquantiro_network_plan_used_bytes{network=\"wifi:Kawiarnia "
                        "\\\"Pod\\\\Lipą\\\"\"} 81920\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("# TYPE quantiro_network_plan_limit_bytes gauge\nquantiro_network_plan_"
                        "limit_bytes{network=\"wifi:Kawiarnia \\\"Pod\\\\Lipą\\\"\"} 102400\n"),
              std::string::npos);
}

} // namespace
} // namespace quantiro::metrics
