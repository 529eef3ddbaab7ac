// The reports' sums over a real database file: day and month boundaries, the days
// summer time begins (23 hours) and ends (25 hours), a leap February, an empty
// month, duplicate and garbage records, and the billing period's estimate.
#include "fakes/TempDir.h"
#include "fakes/TrafficTable.h"
#include "platform/linux/SqliteDatabase.h"
#include "reports/ApplicationUse.h"
#include "reports/Exports.h"
#include "reports/MonthSummary.h"
#include "reports/PeriodUse.h"
#include "reports/ReportRows.h"

#include <gtest/gtest.h>

namespace quantiro::reports {
namespace {

class ReportsTest : public ::testing::Test {
protected:
    void SetUp() override {
        testing::TrafficTable table(m_path);
        std::string sql =
            "INSERT INTO trafic VALUES "
            // a leap February and the month after it
            "('2024-02-28', 23, 3600000, 100, 10), ('2024-02-29', 0, 60000, 200, 20),"
            "('2024-02-29', 23, 60000, 300, 30), ('2024-03-01', 0, 60000, 400, 40),"
            // the last hour of a month and the first of the next
            "('2026-01-31', 23, 3600000, 1000, 100), ('2026-02-01', 0, 60000, 2000, 200),"
            // a day with a record of no traffic
            "('2026-06-10', 12, 0, 0, 0),"
            // garbage: no such day, hour 24, negative, above 32 bits, not a date,
            // three hours on line in one hour
            "('2026-02-30', 5, 1, 7, 7), ('2026-02-10', 24, 1, 7, 7),"
            "('2026-02-10', 5, 1, -7, 7), ('2026-02-10', 6, 1, 5000000000, 7),"
            "('yesterday', 1, 1, 7, 7), ('2026-02-10', 7, 10800000, 7, 7)";
        // Summer time begins on 29 March 2026 (no 02:00) and ends on 25 October (02:00
        // twice, so two records of that hour).
        for (int hour = 0; hour < 24; ++hour) {
            if (hour != 2) {
                sql += ",('2026-03-29', " + std::to_string(hour) + ", 3600000, 10, 1)";
            }
            sql += ",('2026-10-25', " + std::to_string(hour) + ", 3600000, 10, 1)";
        }
        sql += ",('2026-10-25', 2, 3600000, 10, 1)";
        table.Exec(sql);
        m_history = LoadHistory(*platform::linux_impl::OpenTrafficDatabaseForReading(m_path));
    }

    testing::TempDir m_directory;
    std::string m_path = (m_directory.Path() / "qub.db").string();
    TrafficHistory m_history;
};

TEST_F(ReportsTest, SumsEveryPeriodAndLeavesUnrecordedOnesEmpty) {
    struct Case {
        const char* name;
        Grouping by;
        CalendarDate first, last;
        std::size_t rows;
        std::vector<std::pair<std::size_t, std::int64_t>> downloads; // row, kB
        std::size_t emptyRows;
    };
    const Case cases[] = {
        {.name = "leap February by day",
         .by = Grouping::Day,
         .first = {2024, 2, 1},
         .last = {2024, 2, 29},
         .rows = 29,
         .downloads = {{27, 100}, {28, 500}},
         .emptyRows = 27},
        {.name = "a month boundary by hour",
         .by = Grouping::Hour,
         .first = {2026, 1, 31},
         .last = {2026, 2, 1},
         .rows = 48,
         .downloads = {{23, 1000}, {24, 2000}},
         .emptyRows = 46},
        {.name = "spring: 23 hours, 02:00 empty",
         .by = Grouping::Hour,
         .first = {2026, 3, 29},
         .last = {2026, 3, 29},
         .rows = 24,
         .downloads = {{1, 10}, {3, 10}},
         .emptyRows = 1},
        {.name = "autumn: 25 hours, 02:00 twice",
         .by = Grouping::Hour,
         .first = {2026, 10, 25},
         .last = {2026, 10, 25},
         .rows = 24,
         .downloads = {{1, 10}, {2, 20}, {3, 10}},
         .emptyRows = 0},
        {.name = "a year by month, garbage left out",
         .by = Grouping::Month,
         .first = {2026, 1, 1},
         .last = {2026, 12, 31},
         .rows = 12,
         .downloads = {{0, 1000}, {1, 2000}, {2, 230}, {5, 0}, {9, 250}},
         .emptyRows = 7},
        {.name = "the years, a range cut mid-year",
         .by = Grouping::Year,
         .first = {2024, 2, 29},
         .last = {2026, 2, 1},
         .rows = 3,
         .downloads = {{0, 900}, {1, 0}, {2, 3000}},
         .emptyRows = 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<Row> rows = Rows(m_history, c.by, c.first, c.last);
        ASSERT_EQ(rows.size(), c.rows);
        for (const auto& [row, download] : c.downloads) {
            EXPECT_EQ(rows[row].traffic.download, download) << "row " << row;
        }
        EXPECT_EQ(std::count_if(rows.begin(), rows.end(),
                                [](const Row& row) { return !row.traffic.recorded; }),
                  static_cast<long>(c.emptyRows));
    }
    // A measured hour of nothing is not an empty one.
    EXPECT_TRUE(m_history.Hour({2026, 6, 10}, 12).recorded);
    EXPECT_EQ(m_history.Days({2026, 10, 25}, {2026, 10, 25}).onlineMs, 25 * 3600000LL);
    EXPECT_EQ(m_history.SkippedRecords(), 6);
    EXPECT_EQ(m_history.MergedRecords(), 1);
    EXPECT_EQ(SkippedNote(m_history),
              "pominięto 6 rekordów z niepoprawną datą, godziną lub wartością");
}

TEST_F(ReportsTest, BillingPeriodAndItsEstimate) {
    struct Case {
        const char* name;
        limits::LimitSettings settings;
        limits::Moment now;
        limits::Period period;
        double used;
        std::optional<double> estimate;
        const char* summary; // the summary's line of the estimate
    };
    limits::LimitSettings day31;
    day31.billingDay = 31;
    day31.direction = limits::CountedDirection::Received;
    limits::LimitSettings both = day31;
    both.direction = limits::CountedDirection::Both;
    limits::LimitSettings day19 = day31;
    day19.billingDay = 19;
    limits::LimitSettings day30 = day31;
    day30.billingDay = 30;
    const Case cases[] = {
        // A meter first run on the seventh day of 31 holds only today's traffic.
        {"the seventh day of 31, all of it today",
         day19,
         {{2026, 10, 25}, 0.5},
         {{2026, 10, 19}, {2026, 11, 18}},
         250,
         250 / 6.5 * 31,
         "1.16 MB (na podstawie 7 dni)"},
        // 31 in February means the month's last day: the period runs 31 Jan - 27 Feb.
        {"the middle, at noon",
         day31,
         {{2026, 2, 10}, 0.5},
         {{2026, 1, 31}, {2026, 2, 27}},
         3000,
         3000 / 10.5 * 28,
         "7.81 MB (na podstawie 11 dni)"},
        {"both directions count",
         both,
         {{2026, 2, 10}, 0.5},
         {{2026, 1, 31}, {2026, 2, 27}},
         3300,
         3300 / 10.5 * 28,
         "8.59 MB (na podstawie 11 dni)"},
        {"the second day, an hour in",
         day31,
         {{2026, 2, 1}, 1.0 / 24},
         {{2026, 1, 31}, {2026, 2, 27}},
         3000,
         3000 / (1 + 1.0 / 24) * 28,
         "78.75 MB (na podstawie 2 dni)"},
        {"the last day, in the evening",
         day31,
         {{2026, 2, 27}, 0.75},
         {{2026, 1, 31}, {2026, 2, 27}},
         3000,
         3000 / 27.75 * 28,
         "2.96 MB (na podstawie 28 dni)"},
        {"the first day: no estimate, whatever the hour",
         day31,
         {{2026, 1, 31}, 0.99},
         {{2026, 1, 31}, {2026, 2, 27}},
         1000,
         std::nullopt,
         "od drugiego dnia okresu"},
        {"31 in February: the first day is the month's last",
         day31,
         {{2026, 2, 28}, 0.5},
         {{2026, 2, 28}, {2026, 3, 30}},
         0,
         std::nullopt,
         "od drugiego dnia okresu"},
        {"30 in a leap February: its second day is 1 March",
         day30,
         {{2024, 3, 1}, 0.25},
         {{2024, 2, 29}, {2024, 3, 29}},
         900,
         900 / 1.25 * 30,
         "21.09 MB (na podstawie 2 dni)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const PeriodUse use = UseOfPeriod(m_history, c.settings, c.now);
        EXPECT_EQ(use.period, c.period);
        EXPECT_DOUBLE_EQ(use.usedKb, c.used);
        ASSERT_EQ(use.estimateKb.has_value(), c.estimate.has_value());
        if (c.estimate) {
            EXPECT_DOUBLE_EQ(*use.estimateKb, *c.estimate);
        }
        EXPECT_NE(SummaryText(m_history, {}, c.settings, LocalCounting::Included, c.now, ".")
                      .find(Padded("Prognoza na koniec okresu", 34) + c.summary + "\n"),
                  std::string::npos);
    }
}

// Names every application after what was recorded, so the text can be checked.
struct RecordedNames final : platform::DesktopEntries {
    const platform::ApplicationLook& Look(std::string_view application) override {
        return m_looks.try_emplace(std::string(application), std::string(application), "")
            .first->second;
    }
    std::map<std::string, platform::ApplicationLook, std::less<>> m_looks;
};

TEST(ApplicationUseTest, LargestTenThenTheRestAndTheUnattributedApart) {
    testing::TempDir directory;
    const std::string path = (directory.Path() / "qub.db").string();
    {
        testing::TrafficTable table(path);
        table.Exec("CREATE TABLE aplikacje (Data TEXT, Godzina INTEGER, Aplikacja TEXT, "
                   "Download INTEGER, Upload INTEGER)");
        // On 5 March twelve applications a1..a12 moving 12..1 MB, one of them in two
        // hours, and what nobody was seen to move; one more on 6 March; garbage.
        std::string sql = "INSERT INTO aplikacje VALUES ('2026-03-05', 9, 'nieprzypisane', 700, 0),"
                          "('2026-03-06', 1, 'a13', 50000, 0), ('2026-03-31', 1, 'a1', 3, 1),"
                          "('2026-02-30', 1, 'a1', 9, 9), ('2026-03-05', 1, 'a2', -5, 0)";
        for (int i = 1; i <= 12; ++i) {
            sql += ",('2026-03-05', 10, 'a" + std::to_string(i) + "', " +
                   std::to_string((13 - i) * 1000 - 100) + ", 100)";
        }
        table.Exec(sql + ",('2026-03-05', 11, 'a12', 500, 0)");
    }
    const ApplicationHistory history =
        LoadApplications(*platform::linux_impl::OpenTrafficDatabaseForReading(path));
    struct Case {
        const char* name;
        CalendarDate first, last;
        std::vector<std::string> names; // as the table lists them
        std::vector<int> shares;        // tenths of a per cent, of the rows named
    };
    const Case cases[] = {
        {"a day: ten, the rest, nieprzypisane",
         {2026, 3, 5},
         {2026, 3, 5},
         {"a1", "a2", "a3", "a4", "a5", "a6", "a7", "a8", "a9", "a10", "pozostałe (2)",
          "nieprzypisane"},
         {152, 139, 126, 114, 101, 88, 76, 63, 50, 38, 44, 9}},
        {"a month: a13 leads and a1 gains",
         {2026, 3, 1},
         {2026, 3, 31},
         {"a13", "a1", "a2", "a3", "a4", "a5", "a6", "a7", "a8", "a9", "pozostałe (3)",
          "nieprzypisane"},
         {}},
        {"a day of one application", {2026, 3, 6}, {2026, 3, 6}, {"a13"}, {1000}},
        {"a day without rows", {2026, 3, 7}, {2026, 3, 7}, {}, {}},
    };
    RecordedNames names;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ApplicationShares shares = history.Ranked(c.first, c.last);
        std::vector<std::string> listed;
        std::vector<int> tenths;
        std::int64_t download = 0;
        int sum = 0;
        for (const ApplicationShare& row : shares.rows) {
            listed.push_back(ShareName(row, names));
            tenths.push_back(row.shareTenths);
            download += row.download;
            sum += row.shareTenths;
        }
        EXPECT_EQ(listed, c.names);
        if (!c.shares.empty()) {
            EXPECT_EQ(tenths, c.shares);
        }
        EXPECT_EQ(download, shares.download);
        EXPECT_EQ(shares.recorded, !c.names.empty());
        EXPECT_EQ(sum, shares.recorded ? 1000 : 0);
    }
    // The text under a Polish locale, and the note where there is nothing to show.
    const std::string day = ApplicationsText(history.Ranked({2026, 3, 6}, {2026, 3, 6}),
                                             "6 marca 2026", names, ",", LocalCounting::Included);
    EXPECT_NE(day.find("a13"), std::string::npos) << day;
    EXPECT_NE(day.find("48,83 MB"), std::string::npos) << day;
    EXPECT_NE(day.find("100,0 %"), std::string::npos) << day;
    EXPECT_EQ(ApplicationsText(history.Ranked({2026, 3, 7}, {2026, 3, 7}), "7 marca 2026", names,
                               ",", LocalCounting::Included),
              "Aplikacje: 7 marca 2026\nDane o aplikacjach wymagają usługi quantiro-collector.\n");
}

TEST(ApplicationUseTest, LocalNetworkByHourDayAndMonthAndItsWording) {
    testing::TempDir directory;
    const std::string path = (directory.Path() / "qub.db").string();
    {
        testing::TrafficTable table(path);
        table.Exec("CREATE TABLE aplikacje (Data TEXT, Godzina INTEGER, Aplikacja TEXT, "
                   "Download INTEGER, Upload INTEGER, DownloadLokalny INTEGER, "
                   "UploadLokalny INTEGER)");
        // On 5 March a NAS's copy beside little billed traffic, and twelve programs,
        // two with a little local traffic; a row with negative local traffic is garbage.
        std::string sql = "INSERT INTO aplikacje VALUES ('2026-03-05', 9, 'nas', 10, 1, 900, 100),"
                          "('2026-03-05', 10, 'nas', 10, 1, 90, 10), ('2026-03-06', 0, 'nas', "
                          "1, 1, 5, 5), ('2026-03-05', 9, 'bad', 1, 1, -1, 0)";
        for (int i = 1; i <= 12; ++i) {
            sql += ",('2026-03-05', 11, 'p" + std::to_string(i) + "', " +
                   std::to_string(1000 - 10 * i) + ", 0, " + std::to_string(i > 10 ? 3 : 0) +
                   ", 0)";
        }
        table.Exec(sql);
    }
    const ApplicationHistory history =
        LoadApplications(*platform::linux_impl::OpenTrafficDatabaseForReading(path));
    struct Case {
        CalendarDate first, last;
        int hour; // -1: the days first..last
        std::int64_t download, upload;
    };
    for (const Case& c : std::initializer_list<Case>{{{2026, 3, 5}, {2026, 3, 5}, -1, 996, 110},
                                                     {{2026, 3, 1}, {2026, 3, 31}, -1, 1001, 115},
                                                     {{2026, 3, 5}, {2026, 3, 5}, 10, 90, 10},
                                                     {{2026, 3, 5}, {2026, 3, 5}, 12, 0, 0},
                                                     {{2026, 3, 7}, {2026, 3, 9}, -1, 0, 0}}) {
        const LocalTraffic local =
            c.hour < 0 ? history.Local(c.first, c.last) : history.LocalHour(c.first, c.hour);
        EXPECT_EQ(local.download, c.download) << FormatIsoDate(c.first) << " " << c.hour;
        EXPECT_EQ(local.upload, c.upload) << FormatIsoDate(c.first) << " " << c.hour;
    }
    // Counted in the figures the copy is folded into the rest; left out of them it
    // is named first, as what it moved beside them.
    for (const auto& [counting, named, restLocal] :
         {std::tuple{LocalCounting::Included, "p1", 1106}, {LocalCounting::LeftOut, "nas", 6}}) {
        const ApplicationShares shares =
            history.Ranked({2026, 3, 5}, {2026, 3, 5}, kNamedApplications, counting);
        EXPECT_EQ(shares.rows.front().application, named);
        EXPECT_EQ(shares.rows.back().kind, ApplicationShare::Kind::Rest);
        EXPECT_EQ(shares.rows.back().local.Total(), restLocal);
        EXPECT_EQ(shares.local.Total(), 1106);
    }

    EXPECT_EQ(LocalNote(1536, LocalCounting::Included, ","), "w tym sieć lokalna: 1,50 MB");
    EXPECT_EQ(LocalNote(1536, LocalCounting::LeftOut, "."), "sieć lokalna, nie wliczona: 1.50 MB");
    EXPECT_EQ(LocalNote(0, LocalCounting::LeftOut, "."), "");
}

TEST(ApplicationUseTest, RangesStepByDayMonthAndBillingPeriod) {
    using Span = ApplicationRange::Span;
    struct Case {
        ApplicationRange range;
        CalendarDate first, last, stepBackTo, stepOnTo;
        const char* title;
    };
    const Case cases[] = {
        {{Span::Day, {2026, 3, 1}, 1},
         {2026, 3, 1},
         {2026, 3, 1},
         {2026, 2, 28},
         {2026, 3, 2},
         "1 marca 2026"},
        {{Span::Month, {2026, 3, 31}, 1},
         {2026, 3, 1},
         {2026, 3, 31},
         {2026, 2, 28},
         {2026, 4, 30},
         "marzec 2026"},
        {{Span::BillingPeriod, {2026, 3, 5}, 10},
         {2026, 2, 10},
         {2026, 3, 9},
         {2026, 2, 9},
         {2026, 3, 10},
         "okres 2026-02-10 – 2026-03-09"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        EXPECT_EQ(c.range.First(), c.first);
        EXPECT_EQ(c.range.Last(), c.last);
        EXPECT_EQ(c.range.Title(), c.title);
        EXPECT_EQ(c.range.Step(-1).anchor, c.stepBackTo);
        EXPECT_EQ(c.range.Step(+1).anchor, c.stepOnTo);
    }
}

TEST(MonthSummaryTest, TheEndedMonthOnceAndInPolish) {
    EXPECT_EQ(MonthDue(std::nullopt, {2027, 1, 3}), (YearMonth{2026, 12}));
    EXPECT_EQ(MonthDue(YearMonth{2026, 11}, {2027, 1, 3}), (YearMonth{2026, 12}));
    EXPECT_EQ(MonthDue(YearMonth{2026, 12}, {2027, 1, 31}), std::nullopt);
    EXPECT_EQ(MonthDue(YearMonth{2027, 3}, {2027, 1, 31}), std::nullopt); // the clock went back
    EXPECT_EQ(ParseYearMonth(FormatYearMonth({2026, 12}) + "\n"), (YearMonth{2026, 12}));
    EXPECT_EQ(ParseYearMonth("2026-13"), std::nullopt);

    limits::LimitSettings settings;
    settings.limitMb = 10;
    const MonthNotice notice =
        DescribeMonth({2026, 11}, {5120, 1024, 90 * 60000, true}, settings, ",");
    EXPECT_EQ(notice.summary, "Podsumowanie miesiąca: listopad 2026");
    EXPECT_EQ(notice.body, "Odebrano: 5,00 MB\nWysłano: 1,00 MB\nCzas online: 1 h 30 min\n"
                           "To 60 % limitu (10,00 MB)");
}

} // namespace
} // namespace quantiro::reports
