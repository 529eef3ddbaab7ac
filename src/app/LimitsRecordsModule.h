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
// `size` bytes with its terminating zero); false when none was recorded.
inline constexpr const char* kTopApplicationsSymbol = "QuantiroTopApplications";
using TopApplicationsFunction = bool (*)(const char* database, const CalendarDate* first,
                                         const CalendarDate* last, char* names, std::size_t size);

} // namespace quantiro::app
