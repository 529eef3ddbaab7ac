// The monthly sum at start-up over ten years of hourly records (87,600 rows).
#include "platform/linux/SqliteDatabase.h"
#include "platform/linux/SystemClock.h"
#include "records/MonthlySum.h"
#include "records/RecordFields.h"

#include <filesystem>
#include <string>

#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

namespace {

using namespace quantiro;

constexpr int kYears = 10;

struct TenYears {
    TenYears() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "quantiro-bench-XXXXXX").string();
        directory = ::mkdtemp(pattern.data());
        path = directory + "/qub.db";
        platform::linux_impl::OpenTrafficDatabase(path); // creates the file as the meter does
        sqlite3* db = nullptr;
        sqlite3_open(path.c_str(), &db);
        sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
        sqlite3_stmt* insert = nullptr;
        sqlite3_prepare_v2(db, "INSERT INTO trafic VALUES (?1, ?2, 3600000, ?3, 100)", -1, &insert,
                           nullptr);
        const platform::LocalDateTime now = platform::linux_impl::SystemClock().Now();
        for (int day = 0; day < 365 * kYears; ++day) {
            // Whole months back from today, ending in the current month.
            const int monthsBack = day / 30;
            int month = now.month - monthsBack % 12;
            int year = now.year - monthsBack / 12;
            if (month < 1) {
                month += 12;
                --year;
            }
            char date[40]; // room for any int, so the compiler sees no truncation
            std::snprintf(date, sizeof date, "%04d-%02d-%02d", year, month, day % 28 + 1);
            for (int hour = 0; hour < 24; ++hour) {
                sqlite3_bind_text(insert, 1, date, -1, SQLITE_TRANSIENT);
                sqlite3_bind_int(insert, 2, hour);
                sqlite3_bind_int(insert, 3, 1000 + hour);
                sqlite3_step(insert);
                sqlite3_reset(insert);
            }
        }
        sqlite3_finalize(insert);
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
    ~TenYears() { std::filesystem::remove_all(directory); }
    std::string directory;
    std::string path;
};

void BM_SumMonthOverTenYears(benchmark::State& state) {
    TenYears table;
    platform::linux_impl::SystemClock clock;
    const auto database = platform::linux_impl::OpenTrafficDatabase(table.path);
    double monthBase = 0;
    for (auto _ : state) {
        monthBase = records::SumMonth(*database, clock);
    }
    state.counters["rows"] = 365.0 * kYears * 24;
    state.counters["monthBase_kB"] = monthBase;
}
BENCHMARK(BM_SumMonthOverTenYears)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
