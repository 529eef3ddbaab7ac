#pragma once

#include "platform/Networks.h"

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace quantiro::platform {

// The store could not do what was asked (unreadable file, missing table, full disk,
// a record gone). Its text is fit to show the user.
class DatabaseError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A field's value as stored: no value, a whole number, a real number or text. The
// family's other programs may have written any of them.
using FieldValue = std::variant<std::monostate, std::int64_t, double, std::string>;

// One hourly record as stored, each field as it is: Data, Godzina, Czas, Download, Upload.
struct StoredRecord {
    FieldValue date, hour, time, download, upload;
};

// Which record an open hour is: it stays the same while the record lives.
using HourKey = std::int64_t;

// What the meter writes into an hour's record: milliseconds on line, kB down and up.
struct HourAmounts {
    std::int32_t time = 0;
    std::int32_t download = 0;
    std::int32_t upload = 0;
    bool operator==(const HourAmounts&) const = default;
};

// One application's share of an hour, as a row of "aplikacje" holds it: the
// application as recorded (common/ApplicationNames.h), kB down and up as the hour
// counts them, and the part of them (or, counting billed traffic only, beside
// them) exchanged with the local network.
struct ApplicationAmounts {
    std::string application;
    std::int64_t download = 0;
    std::int64_t upload = 0;
    std::int64_t localDownload = 0;
    std::int64_t localUpload = 0;
    std::string network; // the network's id ("Siec"); empty: not known
    bool operator==(const ApplicationAmounts&) const = default;
};

// One network's share of an hour, as a row of "ruch_sieci" holds it: kB down and up
// as the hour counts them (an hour's rows add up to its record), and the part
// exchanged with the local network, within them or, counting billed traffic only,
// beside them. A network whose name is empty is only looked up by its id, as a row
// read back from the records; one with a name is also noted in "sieci".
struct NetworkAmounts {
    Network network;
    std::int64_t download = 0;
    std::int64_t upload = 0;
    std::int64_t localDownload = 0;
    std::int64_t localUpload = 0;
    bool operator==(const NetworkAmounts&) const = default;
};

// What an hour's record is saved with: its applications' and its networks' rows,
// each set in place of the rows the hour had (an empty set leaves them as they are).
struct HourRows {
    std::vector<ApplicationAmounts> applications;
    std::vector<NetworkAmounts> networks;
};

// A row of "aplikacje" as read back for the reports.
struct StoredApplication {
    std::string date; // "yyyy-mm-dd"
    std::int32_t hour = 0;
    ApplicationAmounts amounts;
};

// An hour's record as opened: its key, its amounts as stored and the applications
// recorded beside it.
struct OpenedHour {
    HourKey key = 0;
    FieldValue time, download, upload;
    std::vector<ApplicationAmounts> applications;
    std::vector<NetworkAmounts> networks;
};

// A network as "sieci" keeps it, with what one period's rows of "ruch_sieci" hold
// for it, for the reports.
struct StoredNetwork {
    Network network;
    std::string first, last; // the days it was first and last seen, "yyyy-mm-dd"
    std::int64_t download = 0;
    std::int64_t upload = 0;
    std::int64_t localDownload = 0;
    std::int64_t localUpload = 0;
};

// The hourly records, one per counted hour, in the terms the meter and the family
// use them. Errors are thrown as DatabaseError.
class HourStore {
public:
    virtual ~HourStore() = default;

    // The first record of the hour (date "yyyy-mm-dd", hour 0..23) in the order the
    // records were added, or a new one with zero amounts when there is none.
    virtual OpenedHour OpenHour(std::string_view date, std::int32_t hour) = 0;
    // Writes the amounts into the hour's record, and its rows (the sets that have
    // any) in place of those it had, in one transaction; a record gone is an error.
    // The networks named are noted in "sieci", each under the row that is already
    // its own by either of its ids.
    virtual void SaveHour(HourKey hour, const HourAmounts& amounts, const HourRows& rows) = 0;
    // Writes the amounts and rows of the hour ending and adds the next hour's record
    // with zero amounts, all or nothing; returns the new record's key.
    virtual HourKey StartNextHour(HourKey ending, const HourAmounts& amounts, const HourRows& rows,
                                  std::string_view date, std::int32_t hour) = 0;
    // The download of the hour's record as the file holds it now.
    virtual FieldValue StoredDownload(HourKey hour) = 0;

    // Every hourly record, or with both dates given ("yyyy-mm-dd") those whose Data
    // lies between them as text, read in one pass for the family's readers.
    virtual void ReadRecords(std::string_view firstDate, std::string_view lastDate,
                             const std::function<void(const StoredRecord&)>& each) = 0;
    // The applications' rows whose Data lies between the two dates ("yyyy-mm-dd",
    // both included); none in a database that has no such table yet.
    virtual void ReadApplications(std::string_view firstDate, std::string_view lastDate,
                                  const std::function<void(const StoredApplication&)>& each) = 0;
    // Every network "sieci" knows, with the sums of its "ruch_sieci" rows whose Data
    // lies between the two dates (both included; zero when it has none there). The
    // networks' Id as rows and "aplikacje" store it.
    virtual std::vector<StoredNetwork> ReadNetworks(std::string_view firstDate,
                                                    std::string_view lastDate) = 0;
    // One network's rows of "ruch_sieci" between the two dates, as hourly records:
    // its kB down and up, no time on line (the hour's record alone keeps that).
    virtual void ReadNetworkHours(std::string_view networkId, std::string_view firstDate,
                                  std::string_view lastDate,
                                  const std::function<void(const StoredRecord&)>& each) = 0;
};

} // namespace quantiro::platform
