#pragma once

#include "common/CalendarDate.h"

#include <cstddef>

// The limit watcher sums the billing period's records through a module of its own,
// loaded only on the starts that need the sum, so that the start every two seconds
// loads no SQLite.
namespace quantiro::app {

inline constexpr const char* kLimitsRecordsModule = "quantiro-limits-records.so";
inline constexpr const char* kSumPeriodSymbol = "QuantiroSumPeriod";

// The downloads and uploads (kB) stored for the days from `first` to `last`; false
// when the database cannot be read.
using SumPeriodFunction = bool (*)(const char* database, const CalendarDate* first,
                                   const CalendarDate* last, double* download, double* upload);

// The warning names the three applications that used most of the period, as the
// desktop names them: "Firefox, curl, apt-daily.service" into `names` (at most
// `size` bytes with its terminating zero); false when none was recorded. With a
// `network` (not null), of what that network carried only.
inline constexpr const char* kTopApplicationsSymbol = "QuantiroTopApplications";
using TopApplicationsFunction = bool (*)(const char* database, const char* network,
                                         const CalendarDate* first, const CalendarDate* last,
                                         char* names, std::size_t size);

// A network's traffic (kB) on the days `first` to `last`: that of the hour `hour` of
// `hourDate` apart from the other hours'; false when the database cannot be read.
inline constexpr const char* kSumNetworkSymbol = "QuantiroSumNetwork";
using SumNetworkFunction = bool (*)(const char* database, const char* network,
                                    const CalendarDate* first, const CalendarDate* last,
                                    const CalendarDate* hourDate, int hour, double* otherDownload,
                                    double* otherUpload, double* hourDownload, double* hourUpload);

// The network's name as the records know it, into `name` (at most `size` bytes
// with its terminating zero); false when they do not know it.
inline constexpr const char* kNetworkNameSymbol = "QuantiroNetworkName";
using NetworkNameFunction = bool (*)(const char* database, const char* network, char* name,
                                     std::size_t size);

} // namespace quantiro::app
