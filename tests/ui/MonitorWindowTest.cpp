#include "ui/MonitorWindow.h"

#include "fakes/TestMeter.h"

#include <QImage>

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
    MonitorWindow window(*settings, [] { return std::nullopt; });
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

} // namespace
} // namespace quantiro::ui
