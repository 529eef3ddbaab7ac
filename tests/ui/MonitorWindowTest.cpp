#include "ui/MonitorWindow.h"

#include "app/FamilySettings.h"
#include "fakes/TestMeter.h"
#include "platform/linux/GioDesktopEntries.h"

#include <QImage>
#include <deque>

#include <gtest/gtest.h>

namespace quantiro::ui {
namespace {

// The highest row of the graph that holds the download colour in columns
// [from, to) of the image, or -1.
int TopOfDownloadCurve(const QImage& image, int from, int to) {
    for (int y = 0; y < image.height(); ++y) {
        for (int x = from; x < to; ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (pixel.blue() > 150 && pixel.red() < 100 && pixel.green() < 100) {
                return y;
            }
        }
    }
    return -1;
}

TEST(MonitorWindowTest, TheCurveFollowsTheFedRatesAndClosingKeepsTheGeometry) {
    testing::TestSystem system;
    const auto settings = system.OtherProgram();
    MonitorWindow window(app::ReadMonitorSettings(*settings), app::MonitorWritesTo(*settings),
                         [] { return std::nullopt; });
    window.show();
    // A minute of nothing, then a minute at 1 MB/s down.
    for (int i = 0; i < 1200; ++i) {
        window.Feed({i < 600 ? 0.0 : 1'000'000.0, 0});
    }
    const QImage graph = window.Graph().grab().toImage();
    const int width = graph.width();
    const int quiet = TopOfDownloadCurve(graph, width / 8, width * 3 / 8);
    const int busy = TopOfDownloadCurve(graph, width * 5 / 8, width * 7 / 8);
    ASSERT_GE(quiet, 0);
    ASSERT_GE(busy, 0);
    EXPECT_GT(quiet, graph.height() * 3 / 4); // along the bottom
    EXPECT_LT(busy, graph.height() / 4);      // at the top of a 1 MB/s scale
    EXPECT_TRUE(window.FiguresText().contains(QStringLiteral("szczyt 1.0 MB/s")))
        << window.FiguresText().toStdString();

    window.setGeometry(30, 40, 500, 300);
    window.close();
    const auto meter = system.OtherProgram();
    EXPECT_EQ(platform::Read(*meter, values::kMonitorWidth), 500);
    EXPECT_EQ(platform::Read(*meter, values::kMonitorHeight), 300);
}

// The counting service's answers, in the order the test scripts them; nullopt is a
// poll it did not answer.
struct ScriptedCounters final : platform::ApplicationCounterSource {
    std::optional<platform::ApplicationCounters> Poll(const platform::AskedInterface& interface,
                                                      bool) override {
        asked.push_back(interface.name);
        if (answers.empty()) {
            return std::nullopt;
        }
        auto answer = answers.front();
        answers.pop_front();
        return answer;
    }
    bool Waiting() const override { return false; }
    void SetLocalNetworks(const std::string&) override {}
    std::deque<std::optional<platform::ApplicationCounters>> answers;
    std::vector<std::string> asked;
};

platform::ApplicationCounters Reading(std::uint64_t step) {
    // Seven programs; p1 receives 1 MB a second, p2 2 MB, ... p7 idle; 1000 packets.
    platform::ApplicationCounters counters{.interfaceName = "eth0", .run = "run-1"};
    for (std::uint64_t i = 1; i <= 7; ++i) {
        counters.applications.push_back({.application = "p" + std::to_string(i),
                                         .receivedBytes = i < 7 ? step * i * 1'000'000 : 5,
                                         .sentBytes = step * 1000,
                                         .receivedPackets = step * 1000});
    }
    return counters;
}

TEST(MonitorWindowTest, TheFastestApplicationsUnderTheGraphAndTheNoteWithoutTheService) {
    testing::TestSystem system;
    const auto settings = system.OtherProgram();
    MonitorWindow window(app::ReadMonitorSettings(*settings), app::MonitorWritesTo(*settings),
                         [] { return std::nullopt; });
    ScriptedCounters counters;
    counters.answers = {std::nullopt, Reading(1),   Reading(2),
                        std::nullopt, std::nullopt, std::nullopt};
    platform::linux_impl::GioDesktopEntries entries;
    window.WatchApplications(counters, entries);
    window.show();
    using namespace std::chrono_literals;
    window.PollApplications(1000ms); // the first question, not answered yet
    window.PollApplications(1000ms); // counters taken up
    EXPECT_EQ(window.ApplicationsText(), QString());
    window.PollApplications(1000ms);
    // p6 moved 6 MB in that second; the frames' headers are left out on this link.
    EXPECT_EQ(window.ApplicationsText(),
              QStringLiteral("p6 ↓ 6.0 MB/s ↑ 1.0 kB/s\np5 ↓ 5.0 MB/s ↑ 1.0 kB/s\n"
                             "p4 ↓ 4.0 MB/s ↑ 1.0 kB/s\np3 ↓ 3.0 MB/s ↑ 1.0 kB/s\n"
                             "p2 ↓ 2.0 MB/s ↑ 1.0 kB/s"));
    window.PollApplications(1000ms);
    window.PollApplications(1000ms);
    EXPECT_NE(window.ApplicationsText(), QString()); // two silent polls may be a slow answer
    window.PollApplications(1000ms);
    EXPECT_EQ(window.ApplicationsText(),
              QStringLiteral("Dane o aplikacjach wymagają usługi quantiro-collector."));
    EXPECT_EQ(counters.asked.size(), 6u);
}

} // namespace
} // namespace quantiro::ui
