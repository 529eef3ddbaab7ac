#include "ui/ReportsWindow.h"

#include "ui/TrafficChart.h"

#include <QImage>
#include <QPushButton>
#include <QTableWidget>

#include <gtest/gtest.h>

namespace quantiro::ui {
namespace {

// The height in pixels of each bar of `colour` in the chart, left to right.
std::vector<int> BarHeights(const QImage& image, const QColor& colour) {
    std::vector<int> heights;
    bool inBar = false;
    for (int x = 0; x < image.width(); ++x) {
        int height = 0;
        for (int y = 0; y < image.height(); ++y) {
            height += image.pixelColor(x, y) == colour;
        }
        if (height > 0 && !inBar) {
            heights.push_back(height);
        } else if (height > 0) {
            heights.back() = std::max(heights.back(), height);
        }
        inBar = height > 0;
    }
    return heights;
}

TEST(ReportsWindowTest, BarsFollowTheRecordsAndEmptyDaysStayEmpty) {
    reports::TrafficHistory history;
    // Days 2, 3 and 5 of March; day 4 measured nothing.
    for (const auto& [day, download, upload] :
         {std::tuple{2, 4000, 1000}, {3, 2000, 3000}, {4, 0, 0}, {5, 1000, 2000}}) {
        history.Add({"2026-03-0" + std::to_string(day), std::int64_t{10}, std::int64_t{3600000},
                     std::int64_t{download}, std::int64_t{upload}});
    }
    ReportsWindow window(std::move(history), {}, {2026, 3, 20}, reports::Grouping::Day);
    window.resize(900, 700);
    window.show();
    // Below the legend, whose swatches have the bars' colours.
    const auto bars = [&] {
        const QImage whole = window.Chart().grab().toImage();
        return whole.copy(0, 25, whole.width(), whole.height() - 25);
    };
    const QImage chart = bars();

    const std::vector<int> down = BarHeights(chart, TrafficChart::kDownloadColour);
    const std::vector<int> up = BarHeights(chart, TrafficChart::kUploadColour);
    ASSERT_EQ(down.size(), 3u);
    ASSERT_EQ(up.size(), 3u);
    EXPECT_NEAR(down[0], 2 * down[1], 2);
    EXPECT_NEAR(down[1], 2 * down[2], 2);
    EXPECT_NEAR(up[1], 3 * up[0], 3);
    EXPECT_NEAR(up[2], 2 * up[0], 2);
    EXPECT_NEAR(down[0], 4 * up[0], 4); // one scale for both

    // The table: a day without records is empty, one that measured nothing is not.
    QTableWidget& table = window.Table();
    ASSERT_EQ(table.rowCount(), 31);
    EXPECT_EQ(table.item(0, 1)->text(), QString());
    EXPECT_EQ(table.item(3, 1)->text(), QStringLiteral("0.00 kB"));
    EXPECT_EQ(table.item(1, 1)->text(), QStringLiteral("3.91 MB"));
    EXPECT_EQ(window.TotalsText(),
              QStringLiteral("Razem: odebrano 6.84 MB, wysłano 5.86 MB, czas online 4 h 00 min"));
    EXPECT_TRUE(window.PeriodText().contains(QStringLiteral("prognoza na koniec okresu")));
    // Without a limit there is nothing for a bar to measure against.
    int limitBars = 0;
    for (QWidget* child : window.findChildren<QWidget*>()) {
        if (dynamic_cast<LimitBar*>(child)) {
            EXPECT_TRUE(child->isHidden());
            ++limitBars;
        }
    }
    EXPECT_EQ(limitBars, 1);
    // It fits the area a 1366 x 768 screen leaves below a panel, with its frame.
    EXPECT_LE(window.minimumSizeHint().height(), 768 - 32 - 48);

    // The month before has no records at all.
    window.ShowPeriod(window.Shown().Step(-1));
    EXPECT_EQ(window.TotalsText(), QStringLiteral("Razem: brak zapisów w tym okresie"));
    EXPECT_TRUE(BarHeights(bars(), TrafficChart::kDownloadColour).empty());
}

} // namespace
} // namespace quantiro::ui
