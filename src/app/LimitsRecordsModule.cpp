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

namespace {

// Copies `text` into the caller's buffer of `size` bytes, cut to fit; false when
// there is nothing to copy.
bool CopyOut(std::string text, char* out, std::size_t size) {
    if (text.empty() || size == 0) {
        return false;
    }
    text.resize(std::min(text.size(), size - 1));
    std::memcpy(out, text.c_str(), text.size() + 1);
    return true;
}

} // namespace

extern "C" __attribute__((visibility("default"))) bool
QuantiroTopApplications(const char* database, const char* network,
                        const quantiro::CalendarDate* first, const quantiro::CalendarDate* last,
                        char* names, std::size_t size) {
    using namespace quantiro;
    constexpr std::size_t kNamed = 3;
    try {
        reports::ApplicationHistory history;
        if (network) {
            platform::linux_impl::OpenNetworkRecords(database, false)
                ->ReadNetworkApplications(
                    network, FormatIsoDate(*first), FormatIsoDate(*last),
                    [&](const platform::StoredApplication& row) { history.Add(row); });
        } else {
            const auto opened = platform::linux_impl::OpenTrafficDatabaseForReading(database);
            history = reports::LoadApplications(*opened, *first, *last);
        }
        const reports::ApplicationShares shares = history.Ranked(*first, *last, kNamed);
        platform::linux_impl::GioDesktopEntries entries;
        std::string text;
        for (const reports::ApplicationShare& row : shares.rows) {
            if (row.kind == reports::ApplicationShare::Kind::Application) {
                text += (text.empty() ? "" : ", ") + reports::ShareName(row, entries);
            }
        }
        return CopyOut(std::move(text), names, size);
    } catch (const platform::DatabaseError&) {
        return false;
    }
}
static_assert(
    std::is_same_v<decltype(&QuantiroTopApplications), quantiro::app::TopApplicationsFunction>);

extern "C" __attribute__((visibility("default"))) bool
QuantiroSumNetwork(const char* database, const char* network, const quantiro::CalendarDate* first,
                   const quantiro::CalendarDate* last, const quantiro::CalendarDate* hourDate,
                   int hour, double* otherDownload, double* otherUpload, double* hourDownload,
                   double* hourUpload) {
    using namespace quantiro;
    try {
        platform::NetworkTraffic otherHours, inHour;
        platform::linux_impl::OpenNetworkRecords(database, false)
            ->SumNetwork(network, FormatIsoDate(*first), FormatIsoDate(*last),
                         FormatIsoDate(*hourDate), hour, otherHours, inHour);
        *otherDownload = static_cast<double>(otherHours.download);
        *otherUpload = static_cast<double>(otherHours.upload);
        *hourDownload = static_cast<double>(inHour.download);
        *hourUpload = static_cast<double>(inHour.upload);
        return true;
    } catch (const platform::DatabaseError&) {
        return false;
    }
}
static_assert(std::is_same_v<decltype(&QuantiroSumNetwork), quantiro::app::SumNetworkFunction>);

extern "C" __attribute__((visibility("default"))) bool
QuantiroNetworkName(const char* database, const char* network, char* name, std::size_t size) {
    using namespace quantiro;
    try {
        for (const platform::StoredNetwork& stored :
             platform::linux_impl::OpenNetworkRecords(database, false)->ReadNetworks()) {
            if (stored.network.id == network || stored.network.otherId == network) {
                return CopyOut(stored.network.name, name, size);
            }
        }
        return false;
    } catch (const platform::DatabaseError&) {
        return false;
    }
}
static_assert(std::is_same_v<decltype(&QuantiroNetworkName), quantiro::app::NetworkNameFunction>);
