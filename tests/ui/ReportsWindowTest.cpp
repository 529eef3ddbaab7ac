#include "ui/ReportsWindow.h"

#include "fakes/TempDir.h"
#include "fakes/TrafficTable.h"
#include "platform/linux/GioDesktopEntries.h"
#include "platform/linux/SqliteDatabase.h"
#include "ui/ApplicationChart.h"
#include "ui/TrafficChart.h"

#include <QComboBox>
#include <QImage>
#include <QPushButton>
#include <QTableWidget>
#include <cstdlib>

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

// The width in pixels of each bar of `colour`, top to bottom.
std::vector<int> BarWidths(const QImage& image, const QColor& colour) {
    std::vector<int> widths;
    bool inBar = false;
    for (int y = 0; y < image.height(); ++y) {
        int width = 0;
        for (int x = 0; x < image.width(); ++x) {
            width += image.pixelColor(x, y) == colour;
        }
        if (width > 0 && !inBar) {
            widths.push_back(width);
        }
        inBar = width > 0;
    }
    return widths;
}

TEST(ReportsWindowTest, BarsFollowTheRecordsAndEmptyDaysStayEmpty) {
    reports::TrafficHistory history;
    // Days 2, 3 and 5 of March; day 4 measured nothing.
    for (const auto& [day, download, upload] :
         {std::tuple{2, 4000, 1000}, {3, 2000, 3000}, {4, 0, 0}, {5, 1000, 2000}}) {
        history.Add({"2026-03-0" + std::to_string(day), std::int64_t{10}, std::int64_t{3600000},
                     std::int64_t{download}, std::int64_t{upload}});
    }
    // On day 3 a file manager copied from a NAS, left out of the figures.
    reports::ApplicationHistory applications;
    applications.Add({"2026-03-03", 10, {"Menedżer plików Nautilus", 20, 6, 1024, 512}});
    platform::linux_impl::GioDesktopEntries entries;
    ReportsWindow window(std::move(history), std::move(applications), entries,
                         {.direction = limits::CountedDirection::Received},
                         reports::LocalCounting::LeftOut, {.today = {2026, 3, 20}},
                         reports::View::Days);
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
    // The lines below keep each amount whole with a no-break space.
    const auto plain = [](QString text) {
        return text.replace(QChar(0x00A0), QLatin1Char(' '));
    };
    EXPECT_EQ(plain(window.TotalsText()),
              QStringLiteral("Razem: odebrano 6.84 MB, wysłano 5.86 MB, czas online 4 h 00 min; "
                             "sieć lokalna, nie wliczona: 1.50 MB"));
    EXPECT_EQ(table.horizontalHeaderItem(5)->text(), QStringLiteral("Sieć lokalna, nie wliczona"));
    EXPECT_FALSE(table.isColumnHidden(5));
    EXPECT_EQ(table.item(2, 5)->text(), QStringLiteral("1.50 MB"));
    EXPECT_EQ(table.item(1, 5)->text(), QString());
    // The limit counts what was received, and so does the local figure beside it.
    EXPECT_TRUE(
        plain(window.PeriodText())
            .contains(QStringLiteral(
                ": 6.84 MB (limit nie jest ustawiony); sieć lokalna, nie wliczona: 1.00 MB; "
                "prognoza na koniec okresu")))
        << window.PeriodText().toStdString();
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
    EXPECT_TRUE(table.isColumnHidden(5));
    EXPECT_TRUE(BarHeights(bars(), TrafficChart::kDownloadColour).empty());

    // Left out of the figures, the copy is drawn after them in the applications' chart.
    window.ShowApplications({.anchor = {2026, 3, 3}});
    const QImage applicationChart = window.ApplicationsChart().grab().toImage();
    const std::vector<int> local = BarWidths(
        applicationChart.copy(0, 25, applicationChart.width(), applicationChart.height() - 25),
        ApplicationChart::kLocalColour);
    ASSERT_EQ(local.size(), 1u);
    EXPECT_GT(local[0], 30 * BarWidths(applicationChart, TrafficChart::kDownloadColour).back());

    // Beside the meter on a 1366 x 768 screen it narrows to 480, a row still one line.
    EXPECT_LE(window.minimumSizeHint().width(), 480);
    window.resize(480, 600);
    EXPECT_EQ(window.width(), 480);
    QTableWidget& names = window.ApplicationsTable();
    QRect cell = names.visualRect(names.model()->index(0, 0));
    cell.setLeft(cell.left() + 24); // past the icon
    const QImage shown = names.viewport()->grab().toImage().copy(cell);
    int top = shown.height(), bottom = -1;
    for (int y = 0; y < shown.height(); ++y) {
        for (int x = 0; x < shown.width(); ++x) {
            if (shown.pixelColor(x, y).lightness() < 128) {
                top = std::min(top, y);
                bottom = y;
            }
        }
    }
    EXPECT_LE(bottom - top, names.fontMetrics().height()) << "the name wraps";
}

TEST(ReportsWindowTest, ApplicationsOfADayInPolishWithTheirBarsAndExports) {
    // Amounts as the Polish user reads them: the window takes the separator at its start.
    const char* before = std::getenv("LC_ALL");
    const std::string saved = before ? before : "";
    setenv("LC_ALL", "pl_PL.UTF-8", 1);
    reports::ApplicationHistory applications;
    // Twelve programs moving 1..12 MB, 2 MB of program3's in the local network, and
    // some traffic nobody was seen to move.
    for (int i = 1; i <= 12; ++i) {
        applications.Add(
            {"2026-03-20", 10, {"program" + std::to_string(i), i * 1024, 0, i == 3 ? 2048 : 0, 0}});
    }
    applications.Add({"2026-03-20", 11, {"nieprzypisane", 512, 512}});
    platform::linux_impl::GioDesktopEntries entries;
    ReportsWindow window({}, std::move(applications), entries, {}, reports::LocalCounting::Included,
                         {.today = {2026, 3, 20}}, reports::View::Applications);
    before ? setenv("LC_ALL", saved.c_str(), 1) : unsetenv("LC_ALL");
    window.resize(900, 700);
    window.show();
    ASSERT_TRUE(window.ShowsApplications()); // opened on its view, today

    QTableWidget& table = window.ApplicationsTable();
    ASSERT_EQ(table.rowCount(), 12);
    EXPECT_EQ(table.item(0, 0)->text(), QStringLiteral("program12"));
    EXPECT_EQ(table.item(0, 1)->text(), QStringLiteral("12,00 MB"));
    EXPECT_EQ(table.item(10, 0)->text(), QStringLiteral("pozostałe (2)"));
    EXPECT_EQ(table.item(10, 1)->text(), QStringLiteral("3,00 MB"));
    EXPECT_EQ(table.item(11, 0)->text(), QStringLiteral("nieprzypisane"));
    double shares = 0;
    for (int row = 0; row < table.rowCount(); ++row) {
        QString share = table.item(row, 3)->text();
        ASSERT_TRUE(share.endsWith(QStringLiteral(" %"))) << share.toStdString();
        share.chop(2);
        shares += share.replace(QLatin1Char(','), QLatin1Char('.')).toDouble();
    }
    EXPECT_NEAR(shares, 100.0, 1e-9);
    EXPECT_EQ(window.ApplicationsNote(), QString());
    EXPECT_EQ(table.horizontalHeaderItem(4)->text(), QStringLiteral("W tym sieć lokalna"));
    EXPECT_EQ(table.item(9, 0)->text(), QStringLiteral("program3"));
    EXPECT_EQ(table.item(9, 4)->text(), QStringLiteral("2,00 MB"));
    EXPECT_EQ(table.item(8, 4)->text(), QString());

    // A bar for every row, the largest first, each as long as its traffic; then the
    // rest's 3 MB and the unattributed 0.5 MB received.
    const QImage chart = window.ApplicationsChart().grab().toImage();
    const QImage bars = chart.copy(0, 25, chart.width(), chart.height() - 25);
    const std::vector<int> widths = BarWidths(bars, TrafficChart::kDownloadColour);
    ASSERT_EQ(widths.size(), 12u);
    EXPECT_TRUE(BarWidths(bars, ApplicationChart::kLocalColour).empty()); // inside the bars
    for (std::size_t i = 1; i < 10; ++i) {
        EXPECT_NEAR(widths[i] * 12.0 / static_cast<double>(12 - i), widths[0], 2.0) << i;
    }
    EXPECT_NEAR(widths[10] * 4.0, widths[0], 4.0);
    EXPECT_NEAR(widths[11] * 24.0, widths[0], 24.0);

    // A long name keeps every letter while the chart has room for it, the bar after it.
    ApplicationChart named;
    const QString longName = QStringLiteral("Przeglądarka internetowa Firefox – okno prywatne");
    named.SetBars(
        {{.name = longName, .downloadKb = 100000, .amount = QStringLiteral("97 MB")},
         {.name = QStringLiteral("ssh"), .downloadKb = 10, .amount = QStringLiteral("10 kB")}});
    named.resize(700, 200);
    const QImage namedImage = named.grab().toImage();
    int barStart = 0;
    const int middle = named.fontMetrics().height() * 3 / 2 + 49; // the first bar's middle
    while (barStart < namedImage.width() &&
           namedImage.pixelColor(barStart, middle) != TrafficChart::kDownloadColour) {
        ++barStart;
    }
    EXPECT_GT(barStart, named.fontMetrics().horizontalAdvance(longName));
    EXPECT_LT(barStart, 450);
    // One far smaller still has its bar.
    EXPECT_EQ(BarWidths(namedImage.copy(0, 25, 700, 175), TrafficChart::kDownloadColour).size(),
              2u);

    // The exports write what the view shows.
    EXPECT_NE(window.ExportText(false).find("\r\npozostałe,pozostałe (2),3145728,0,"),
              std::string::npos)
        << window.ExportText(false);
    EXPECT_EQ(
        window.ExportText(true).rfind(
            R"({"applications": [{"id": "program12", "name": "program12", "rx": 12288, "tx": 0, )"
            R"("rx_local": 0, "tx_local": 0}, )",
            0),
        0u);

    // A day the counting service did not run: the note, and no bars.
    window.ShowApplications(window.ShownApplications().Step(+1));
    EXPECT_EQ(window.ApplicationsTable().rowCount(), 0);
    EXPECT_TRUE(window.ApplicationsTable().isColumnHidden(4));
    EXPECT_EQ(window.ApplicationsNote(),
              QStringLiteral("Dane o aplikacjach wymagają usługi quantiro-collector."));
}

// The "Sieci" view over a real database file: a day's networks in Polish with the
// hour recorded before networks as "nieznana sieć", the month with the day before,
// the bars as long as the traffic, and the export of what is shown; over billing
// periods the phone's plan from the 25th takes a February day the month leaves
// out; "Sieć:" narrows the hours and the applications to each network's rows.
TEST(ReportsWindowTest, NetworksOfADayAndAMonthFromTheRecords) {
    testing::TempDir dir;
    const std::string path = (dir.Path() / "qub.db").string();
    {
        testing::TrafficTable table(path);
        table.Exec("CREATE TABLE sieci (Id TEXT, Nazwa TEXT, Rodzaj TEXT, Taryfowana INTEGER, "
                   "Pierwsza TEXT, Ostatnia TEXT, InnyId TEXT)");
        table.Exec("CREATE TABLE ruch_sieci (Data TEXT, Godzina INTEGER, Siec TEXT, Download "
                   "INTEGER, Upload INTEGER, DownloadLokalny INTEGER, UploadLokalny INTEGER)");
        table.Exec("CREATE TABLE aplikacje (Data TEXT, Godzina INTEGER, Aplikacja TEXT, Download "
                   "INTEGER, Upload INTEGER, DownloadLokalny INTEGER, UploadLokalny INTEGER, "
                   "Siec TEXT)");
        table.Exec("INSERT INTO sieci VALUES ('nm:1', 'Dom', 'wifi', 0, '2026-03-19', "
                   "'2026-03-20', NULL), ('nm:2', 'Telefon', 'wifi', 1, '2026-03-20', "
                   "'2026-03-20', NULL)");
        table.Insert({"2026-03-19", 9, 0, 4096, 0});
        table.Insert({"2026-03-20", 8, 0, 1024, 0}); // before networks were recorded
        table.Insert({"2026-03-20", 10, 0, 6144, 1024});
        table.Insert({"2026-02-25", 9, 0, 1024, 0});
        table.Exec("INSERT INTO ruch_sieci VALUES ('2026-03-19', 9, 'nm:1', 4096, 0, 0, 0), "
                   "('2026-03-20', 10, 'nm:1', 4096, 512, 1024, 0), "
                   "('2026-03-20', 10, 'nm:2', 2048, 512, 0, 0), "
                   "('2026-02-25', 9, 'nm:2', 1024, 0, 0, 0)");
        table.Exec(
            "INSERT INTO aplikacje VALUES ('2026-03-20', 10, 'proba-telefon', 2048, 512, 0, 0, "
            "'nm:2'), ('2026-03-20', 8, 'proba-nieznana', 1024, 0, 0, 0, NULL)");
    }
    const std::vector<limits::NetworkPlan> plans{
        {.network = "nm:2", .limitMb = 100, .billingDay = 25}};
    const auto database = platform::linux_impl::OpenTrafficDatabaseForReading(path);
    const char* before = std::getenv("LC_ALL");
    const std::string saved = before ? before : "";
    setenv("LC_ALL", "pl_PL.UTF-8", 1);
    platform::linux_impl::GioDesktopEntries entries;
    ReportsWindow window(reports::LoadHistory(*database), reports::LoadApplications(*database),
                         entries, {}, reports::LocalCounting::Included, {.today = {2026, 3, 20}},
                         reports::View::Networks, {}, [&](const reports::ApplicationRange& range) {
                             return reports::LoadNetworks(*database, range, plans);
                         });
    before ? setenv("LC_ALL", saved.c_str(), 1) : unsetenv("LC_ALL");
    window.resize(900, 700);
    window.show();
    ASSERT_TRUE(window.ShowsNetworks());
    auto rows = [&] {
        std::vector<std::string> found;
        const QTableWidget& table = window.NetworksTable();
        for (int row = 0; row < table.rowCount(); ++row) {
            QStringList cells;
            for (int column = 0; column < table.columnCount(); ++column) {
                cells << (table.isColumnHidden(column) ? QStringLiteral("-")
                                                       : table.item(row, column)->text());
            }
            found.push_back(cells.join(QLatin1Char('|')).toStdString());
        }
        return found;
    };
    // Opened on this month.
    EXPECT_EQ(rows(),
              (std::vector<std::string>{"Dom|Wi-Fi|8,00 MB|512,00 kB|70,9 %|1,00 MB|-",
                                        "Telefon|Wi-Fi, taryfowana|2,00 MB|512,00 kB|20,8 %||-",
                                        "nieznana sieć||1,00 MB|0,00 kB|8,3 %||-"}));
    window.ShowNetworks({.span = reports::ApplicationRange::Span::Day, .anchor = {2026, 3, 20}});
    EXPECT_EQ(rows(),
              (std::vector<std::string>{"Dom|Wi-Fi|4,00 MB|512,00 kB|56,3 %|1,00 MB|-",
                                        "Telefon|Wi-Fi, taryfowana|2,00 MB|512,00 kB|31,2 %||-",
                                        "nieznana sieć||1,00 MB|0,00 kB|12,5 %||-"}));
    EXPECT_EQ(window.NetworksTotals(),
              QStringLiteral("Razem: odebrano 7,00 MB, wysłano 1,00 MB; w tym sieć "
                             "lokalna: 1,00\u00a0MB"));
    const QImage chart = window.NetworksChart().grab().toImage();
    const std::vector<int> widths = BarWidths(chart.copy(0, 25, chart.width(), chart.height() - 25),
                                              TrafficChart::kDownloadColour);
    ASSERT_EQ(widths.size(), 3u);
    EXPECT_NEAR(widths[1] * 2.0, widths[0], 2.0);
    EXPECT_NEAR(widths[2] * 4.0, widths[0], 4.0);
    EXPECT_EQ(
        window.ExportText(true).rfind(
            R"({"networks": [{"id": "nm:1", "name": "Dom", "kind": "wifi", "metered": false, )"
            R"("rx": 4096, "tx": 512, "rx_local": 1024, "tx_local": 0}, {)",
            0),
        0u);
    if (const char* shot = std::getenv("QUANTIRO_SCREENSHOT")) {
        window.grab().save(QString::fromUtf8(shot));
    }

    window.ShowNetworks({.span = reports::ApplicationRange::Span::BillingPeriod,
                         .anchor = {2026, 3, 20},
                         .billingDay = 1});
    EXPECT_EQ(rows(), (std::vector<std::string>{
                          "Dom|Wi-Fi|8,00 MB|512,00 kB|65,4 %|1,00 MB|1 mar – 31 mar",
                          "Telefon|Wi-Fi, taryfowana|3,00 MB|512,00 kB|26,9 %||25 lut – 24 mar",
                          "nieznana sieć||1,00 MB|0,00 kB|7,7 %||1 mar – 31 mar"}));
    EXPECT_NE(window.ExportText(true).find(R"("from": "2026-02-25", "to": "2026-03-24"})"),
              std::string::npos);
    EXPECT_FALSE(window.NetworkFilter().isVisibleTo(&window));

    window.OfferNetworks(
        {{.id = "nm:1", .name = "Dom"}, {.id = "nm:2", .name = "Telefon"}, {}},
        [&](const std::string& id) {
            return ReportsWindow::NetworkRecords{
                .history = reports::LoadHistory(*database, std::nullopt, std::nullopt, id),
                .applications =
                    reports::LoadApplications(*database, std::nullopt, std::nullopt, id)};
        });
    window.ShowPeriod({reports::Grouping::Hour, {2026, 3, 20}});
    EXPECT_TRUE(window.NetworkFilter().isVisibleTo(&window));
    // The choice's hours of the 20th, and its applications of the day.
    for (const auto& [choice, totals, application] :
         {std::tuple{"Telefon", "odebrano 2,00 MB, wysłano 512,00 kB", "proba-telefon"},
          {"nieznana sieć", "odebrano 1,00 MB, wysłano 0,00 kB", "proba-nieznana"},
          {"wszystkie", "odebrano 7,00 MB, wysłano 1,00 MB", "proba-telefon"}}) {
        SCOPED_TRACE(choice);
        window.ShowPeriod({reports::Grouping::Hour, {2026, 3, 20}});
        window.NetworkFilter().setCurrentText(QString::fromUtf8(choice));
        EXPECT_TRUE(window.TotalsText().contains(QString::fromUtf8(totals)))
            << window.TotalsText().toStdString();
        window.ShowApplications(
            {.span = reports::ApplicationRange::Span::Day, .anchor = {2026, 3, 20}});
        ASSERT_GE(window.ApplicationsTable().rowCount(), 1);
        EXPECT_EQ(window.ApplicationsTable().item(0, 0)->text(), QString::fromUtf8(application));
    }
}

} // namespace
} // namespace quantiro::ui
