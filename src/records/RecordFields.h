#pragma once

#include "common/CalendarDate.h"
#include "platform/Clock.h"
#include "platform/HourStore.h"

#include <cstdint>
#include <optional>
#include <string>

namespace quantiro::records {

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
