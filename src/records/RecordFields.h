#pragma once

#include "common/CalendarDate.h"
#include "platform/Clock.h"
#include "platform/Database.h"

#include <cstdint>
#include <optional>
#include <string>

namespace quantiro::records {

// The table of hourly records and its fields, as the family's programs read them:
// the date, the hour, milliseconds on line, and kilobytes down and up.
inline constexpr std::string_view kTrafficTable = "trafic";
inline constexpr std::string_view kDateField = "Data";
inline constexpr std::string_view kHourField = "Godzina";
inline constexpr std::string_view kTimeField = "Czas";
inline constexpr std::string_view kDownloadField = "Download";
inline constexpr std::string_view kUploadField = "Upload";

using RecordDate = CalendarDate;

// The record's date as stored: "yyyy-mm-dd".
std::string FormatRecordDate(const platform::LocalDateTime& when);

// A stored date read back; nullopt when the text is not a valid "yyyy-mm-dd" date.
std::optional<RecordDate> ParseRecordDate(const platform::FieldValue& value);

// A stored number as a signed 32-bit integer: reals round ties to even, whole
// numbers outside the range saturate, and an empty field reads as 0.
std::int32_t FieldToInt32(const platform::FieldValue& value);

// Whether the field holds a value at all.
bool HasValue(const platform::FieldValue& value);

} // namespace quantiro::records
