#include "ui/MonitorWindow.h"

#include "app/FamilySettings.h"
#include "fakes/TestMeter.h"
#include "platform/linux/GioDesktopEntries.h"

#include <QImage>
#include <functional>
#include <utility>

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

// The counting service: it reads the programs' counters when asked and answers
// `delay` later (never while `silent`), one question at a time.
struct SlowService final : platform::ApplicationCounterSource {
    std::optional<platform::ApplicationCounters> Poll(const platform::AskedInterface&,
                                                      bool ask) override {
        std::optional<platform::ApplicationCounters> answer;
        if (question && !silent && now >= answerAt) {
            answer = std::exchange(question, std::nullopt);
        }
        if (ask && !question) {
            question = read();
            answerAt = now + delay(now);
        }
        return answer;
    }
    bool Waiting() const override { return question.has_value(); }
    void SetLocalNetworks(const std::string&) override {}
    bool TakeLocalNetworksRefused() override { return false; }

    std::function<platform::ApplicationCounters()> read;
    std::function<int(int askedAt)> delay = [](int) {
        return 100;
    };
    bool silent = false;
    int now = 0; // ms
    std::optional<platform::ApplicationCounters> question;
    int answerAt = 0;
};

platform::ApplicationCounters Reading(std::uint64_t step) {
    // Seven programs; p1 receives 1 MB a second, p2 2 MB, ... p7 idle; 1000 packets.
    platform::ApplicationCounters counters{.interfaceName = "eth0", .run = "run-1"};
    for (std::uint64_t i = 1; i <= 7; ++i) {
        counters.applications.push_back(
            {.application = "p" + std::to_string(i),
             .counters = {.received = {.billedBytes = i < 7 ? step * i * 1'000'000 : 5,
                                       .packets = step * 1000},
                          .sent = {.billedBytes = step * 1000}}});
    }
    return counters;
}

TEST(MonitorWindowTest, TheFastestApplicationsUnderTheGraphAndTheNoteWithoutTheService) {
    testing::TestSystem system;
    const auto settings = system.OtherProgram();
    MonitorWindow window(app::ReadMonitorSettings(*settings), app::MonitorWritesTo(*settings),
                         [] { return std::nullopt; });
    SlowService service;
    service.read = [&] {
        return Reading(static_cast<std::uint64_t>(service.now / 1000));
    };
    platform::linux_impl::GioDesktopEntries entries;
    window.WatchApplications(service, entries);
    window.show();
    using namespace std::chrono_literals;
    auto second = [&] {
        service.now += 1000;
        window.Sample(1000ms);
    };
    second(); // the first question
    second(); // counters taken up
    EXPECT_EQ(window.ApplicationsText(), QString());
    second();
    // p6 moved 6 MB in that second; the frames' headers are left out on this link.
    EXPECT_EQ(window.ApplicationsText(),
              QStringLiteral("p6 ↓ 6.0 MB/s ↑ 1.0 kB/s\np5 ↓ 5.0 MB/s ↑ 1.0 kB/s\n"
                             "p4 ↓ 4.0 MB/s ↑ 1.0 kB/s\np3 ↓ 3.0 MB/s ↑ 1.0 kB/s\n"
                             "p2 ↓ 2.0 MB/s ↑ 1.0 kB/s"));
    service.silent = true;
    second();
    second();
    // Two silent seconds may be a slow answer, but the rates it would bring are gone.
    EXPECT_EQ(window.ApplicationsText(), QString());
    second();
    EXPECT_EQ(window.ApplicationsText(),
              QStringLiteral("Dane o aplikacjach wymagają usługi quantiro-collector."));
}

TEST(MonitorWindowTest, TheListAndTheHeaderCoverTheSameSecond) {
    // Program a receives 1 MB/s for two seconds, then b for one; the service answers
    // the question of the third second a second late.
    testing::TestSystem system;
    const auto settings = system.OtherProgram();
    std::uint64_t a = 0, b = 0;
    MonitorWindow window(app::ReadMonitorSettings(*settings), app::MonitorWritesTo(*settings), [&] {
        return MonitorWindow::Counters{a + b, 0, "eth0"};
    });
    SlowService service;
    service.read = [&] {
        return platform::ApplicationCounters{
            .interfaceName = "eth0",
            .run = "run-1",
            .applications = {{.application = "a", .counters = {.received = {.billedBytes = a}}},
                             {.application = "b", .counters = {.received = {.billedBytes = b}}}}};
    };
    service.delay = [](int askedAt) {
        return askedAt == 3000 ? 1100 : 100;
    };
    platform::linux_impl::GioDesktopEntries entries;
    window.WatchApplications(service, entries);
    window.show();
    struct Check {
        int at; // ms
        const char* header;
        const char* list;
    };
    const Check checks[] = {
        {2500, "↓ 1.0 MB/s", "a ↓ 1.0 MB/s ↑ 0.0 kB/s"},
        {3500, "↓ 1.0 MB/s", "a ↓ 1.0 MB/s ↑ 0.0 kB/s"}, // the last second answered
        {4000, "↓ 0.0 kB/s", ""},                        // the next one is not
        {4500, "↓ 1.0 MB/s", "b ↓ 1.0 MB/s ↑ 0.0 kB/s"},
        {5500, "↓ 0.0 kB/s", ""},
    };
    for (const Check& check : checks) {
        while (service.now < check.at) {
            service.now += 100;
            if (service.now <= 2000) {
                a += 100'000;
            } else if (service.now <= 3000) {
                b += 100'000;
            }
            window.Sample(std::chrono::milliseconds(100));
        }
        EXPECT_TRUE(window.FiguresText().startsWith(QString::fromUtf8(check.header) +
                                                    QStringLiteral("   śr.")))
            << check.at << ": " << window.FiguresText().toStdString();
        EXPECT_EQ(window.ApplicationsText().toStdString(), check.list) << check.at;
    }
}

} // namespace
} // namespace quantiro::ui
