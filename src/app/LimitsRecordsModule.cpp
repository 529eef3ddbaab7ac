#include "app/LimitsRecordsModule.h"

#include "platform/linux/SqliteDatabase.h"
#include "records/PeriodSum.h"

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
