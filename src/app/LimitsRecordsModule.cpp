#include "app/LimitsRecordsModule.h"

#include "platform/linux/GioDesktopEntries.h"
#include "platform/linux/SqliteDatabase.h"
#include "records/PeriodSum.h"
#include "reports/ApplicationUse.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <type_traits>

extern "C" __attribute__((visibility("default"))) bool
QuantiroSumPeriod(const char* database, const quantiro::CalendarDate* first,
                  const quantiro::CalendarDate* last, double* download, double* upload) {
    using namespace quantiro;
    try {
        const auto opened = platform::linux_impl::OpenTrafficDatabaseForReading(database);
        const records::StoredTraffic sum = records::SumPeriod(*opened, *first, *last);
        *download = sum.download;
        *upload = sum.upload;
        return true;
    } catch (const platform::DatabaseError&) {
        return false; // busy or missing: the next start tries again
    }
}
static_assert(std::is_same_v<decltype(&QuantiroSumPeriod), quantiro::app::SumPeriodFunction>);

extern "C" __attribute__((visibility("default"))) bool
QuantiroTopApplications(const char* database, const quantiro::CalendarDate* first,
                        const quantiro::CalendarDate* last, char* names, std::size_t size) {
    using namespace quantiro;
    constexpr std::size_t kNamed = 3;
    try {
        const auto opened = platform::linux_impl::OpenTrafficDatabaseForReading(database);
        const reports::ApplicationShares shares =
            reports::LoadApplications(*opened, *first, *last).Ranked(*first, *last, kNamed);
        platform::linux_impl::GioDesktopEntries entries;
        std::string text;
        for (const reports::ApplicationShare& row : shares.rows) {
            if (row.kind == reports::ApplicationShare::Kind::Application) {
                text += (text.empty() ? "" : ", ") + reports::ShareName(row, entries);
            }
        }
        if (text.empty() || size == 0) {
            return false;
        }
        text.resize(std::min(text.size(), size - 1));
        std::memcpy(names, text.c_str(), text.size() + 1);
        return true;
    } catch (const platform::DatabaseError&) {
        return false;
    }
}
static_assert(
    std::is_same_v<decltype(&QuantiroTopApplications), quantiro::app::TopApplicationsFunction>);
