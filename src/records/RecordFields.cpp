#include "records/RecordFields.h"

#include "common/Rounding.h"

#include <charconv>
#include <cstdio>
#include <limits>

namespace quantiro::records {

std::string FormatRecordDate(const platform::LocalDateTime& when) {
    return FormatIsoDate({when.year, when.month, when.day});
}

std::optional<RecordDate> ParseRecordDate(const platform::FieldValue& value) {
    const auto* text = std::get_if<std::string>(&value);
    return text ? ParseIsoDate(*text) : std::nullopt;
}

std::int32_t FieldToInt32(const platform::FieldValue& value) {
    if (const auto* number = std::get_if<std::int64_t>(&value)) {
        return RoundToInt32(static_cast<double>(*number));
    }
    if (const auto* real = std::get_if<double>(&value)) {
        return RoundToInt32(*real);
    }
    if (const auto* text = std::get_if<std::string>(&value)) {
        double parsed = 0;
        std::from_chars(text->data(), text->data() + text->size(), parsed);
        return RoundToInt32(parsed);
    }
    return 0;
}

bool HasValue(const platform::FieldValue& value) {
    return !std::holds_alternative<std::monostate>(value);
}

} // namespace quantiro::records
