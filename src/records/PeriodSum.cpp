#include "records/PeriodSum.h"

#include "records/RecordFields.h"

namespace quantiro::records {

StoredTraffic SumPeriod(platform::Database& database, const CalendarDate& first,
                        const CalendarDate& last) {
    StoredTraffic sum;
    const auto records = database.OpenRecordset(kTrafficTable);
    for (records->MoveFirst(); !records->AtEnd(); records->MoveNext()) {
        const auto date = ParseRecordDate(records->GetField(kDateField));
        if (!date || *date < first || last < *date) {
            continue;
        }
        if (const platform::FieldValue download = records->GetField(kDownloadField);
            HasValue(download)) {
            sum.download += FieldToInt32(download);
        }
        if (const platform::FieldValue upload = records->GetField(kUploadField); HasValue(upload)) {
            sum.upload += FieldToInt32(upload);
        }
    }
    return sum;
}

} // namespace quantiro::records
