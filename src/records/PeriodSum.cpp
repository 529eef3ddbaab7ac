#include "records/PeriodSum.h"

#include "records/RecordFields.h"

namespace quantiro::records {

StoredTraffic SumPeriod(platform::HourStore& database, const CalendarDate& first,
                        const CalendarDate& last) {
    StoredTraffic sum;
    AddPeriod(database, first, last, sum);
    return sum;
}

void AddPeriod(platform::HourStore& database, const CalendarDate& first, const CalendarDate& last,
               StoredTraffic& sum) {
    // Only the period's dates are read (a valid date sorts between the period's
    // ends as text), which the index on the dates makes quick; an empty table is
    // simply nothing to sum.
    database.ReadRecords(FormatIsoDate(first), FormatIsoDate(last),
                         [&](const platform::StoredRecord& record) {
                             const auto date = ParseRecordDate(record.date);
                             if (!date || *date < first || last < *date) {
                                 return;
                             }
                             if (HasValue(record.download)) {
                                 sum.download += FieldToInt32(record.download);
                             }
                             if (HasValue(record.upload)) {
                                 sum.upload += FieldToInt32(record.upload);
                             }
                         });
}

} // namespace quantiro::records
