#pragma once

#include "platform/HourStore.h"
#include "platform/NetworkRecords.h"

#include <memory>
#include <string>

namespace quantiro::platform::linux_impl {

// Opens the traffic database at `path`, an SQLite file with the table "trafic"
// (Data TEXT, Godzina, Czas, Download, Upload INTEGER) in write-ahead-log mode.
// A missing file is created whole or not at all. A file that is not a readable
// SQLite database with that table, or that cannot be written, is a DatabaseError,
// and the file is left exactly as it was.
std::unique_ptr<HourStore> OpenTrafficDatabase(const std::string& path);

// The same database for a reader of the family: never created, never written, and
// never blocking the meter's writes (the write-ahead log lets both go on).
std::unique_ptr<HourStore> OpenTrafficDatabaseForReading(const std::string& path);

// The networks' records of the traffic database at `path`, never created; read-only
// unless `forMerging`, when two networks can be merged into one.
std::unique_ptr<NetworkRecords> OpenNetworkRecords(const std::string& path, bool forMerging);

} // namespace quantiro::platform::linux_impl
