#include "records/MonthlySum.h"

#include "fakes/RecordsFixture.h"
#include "fakes/TrafficTable.h"

#include <fstream>
#include <optional>

#include <gtest/gtest.h>

namespace quantiro::records {
namespace {

using testing::At;
using testing::RecordsFixture;
using testing::TrafficRow;
using testing::TrafficTable;

const std::vector<TrafficRow> kExampleRecords{
    {"2004-12-01", 1, 0, 100, 0},
    {"2004-12-03", 2, 0, 50, 0},
    {"2004-11-30", 3, 0, 70, 0},
    {"2003-12-03", 4, 0, 5, 0},
};

TEST(MonthlySumTest, SumsTheMonthsDownloadsAndTakesTheCorrectionOffOnce) {
    struct Case {
        const char* name;
        std::vector<TrafficRow> records;
        std::optional<bool> odejmij; // nullopt: not in the settings at all
        std::int32_t odejmijDownload;
        double monthBase;
    };
    const Case cases[] = {
        {"example", kExampleRecords, std::nullopt, 0, 150},
        {"with a correction", kExampleRecords, true, 40, 110},
        {"a correction larger than the month", kExampleRecords, true, 500, 0},
        {"no correction pending", kExampleRecords, false, 40, 150},
        {"negative downloads, not clamped",
         {{"2004-12-02", 1, 0, -200, 0}, {"2004-12-03", 1, 0, 50, 0}},
         std::nullopt,
         0,
         -150},
        {"empty table", {}, true, 40, 0},
    };
    for (const Case& c : cases) {
        RecordsFixture meter;
        {
            TrafficTable table(meter.DbPath());
            for (const TrafficRow& row : c.records) {
                table.Insert(row);
            }
            // Rows the sum cannot use: no download, and a date that is no date.
            table.Exec("INSERT INTO trafic VALUES ('2004-12-02', 5, 0, NULL, 0)");
            table.Exec("INSERT INTO trafic VALUES ('2004-12-xx', 6, 0, 999, 0)");
            table.Exec(
                "INSERT INTO trafic VALUES ('2004-12-03', 7, 0, 0, 0)"); // the hour of the start
        }
        if (c.odejmij) {
            values::Write(meter.settings, values::kOdejmij, *c.odejmij);
            values::Write(meter.settings, values::kOdejmijDownload, c.odejmijDownload);
        }
        meter.Start(At(2004, 12, 3, 7, 30));
        MonthlySum(*meter.records, meter.settings, meter.clock, meter.state).SumujMiesiac(false);

        EXPECT_EQ(meter.state.monthBase, c.monthBase) << c.name;
        EXPECT_FALSE(values::Read(meter.settings, values::kOdejmij)) << c.name;
        EXPECT_EQ(values::Read(meter.settings, values::kOdejmijDownload),
                  c.odejmij ? c.odejmijDownload : 0)
            << c.name;
        // The record set is left on the table's last record.
        EXPECT_EQ(FieldToInt32(meter.records->GetField(kGodzina)), 7) << c.name;
    }
}

TEST(MonthlySumTest, TheReloadCallOnlyMovesTheRecordSet) {
    RecordsFixture meter;
    {
        TrafficTable table(meter.DbPath());
        for (const TrafficRow& row : kExampleRecords) {
            table.Insert(row);
        }
    }
    values::Write(meter.settings, values::kOdejmij, true);
    values::Write(meter.settings, values::kOdejmijDownload, 40);
    meter.Start(At(2004, 12, 1, 1, 0)); // finds the first record, not the last
    meter.state.monthBase = 12.5;
    const std::string settingsBefore = [&] {
        std::ifstream in(meter.settings.FilePath());
        return std::string(std::istreambuf_iterator<char>(in), {});
    }();

    MonthlySum(*meter.records, meter.settings, meter.clock, meter.state).SumujMiesiac(true);
    EXPECT_EQ(meter.state.monthBase, 12.5);
    EXPECT_TRUE(values::Read(meter.settings, values::kOdejmij));
    std::ifstream in(meter.settings.FilePath());
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), settingsBefore);
    EXPECT_EQ(FieldToInt32(meter.records->GetField(kGodzina)), 4);
}

} // namespace
} // namespace quantiro::records
