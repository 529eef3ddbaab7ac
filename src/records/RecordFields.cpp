#include "records/RecordFields.h"

#include "common/Rounding.h"

#include <charconv>
#include <cstdio>
#include <limits>

namespace quantiro::records {

std::string FormatRecordDate(const platform::LocalDateTime& when) {
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", when.year, when.month, when.day);
    return text;
}

std::optional<RecordDate> ParseRecordDate(const platform::FieldValue& value) {
    const auto* text = std::get_if<std::string>(&value);
    if (!text || text->size() != 10 || (*text)[4] != '-' || (*text)[7] != '-') {
        return std::nullopt;
    }
    auto number = [&](std::size_t at, std::size_t length) -> std::optional<int> {
        int result = 0;
        const char* first = text->data() + at;
        const auto [last, error] = std::from_chars(first, first + length, result);
        if (error != std::errc() || last != first + length) {
            return std::nullopt;
        }
        return result;
    };
    const auto year = number(0, 4), month = number(5, 2), day = number(8, 2);
    if (!year || !month || !day || *month < 1 || *month > 12 || *day < 1) {
        return std::nullopt;
    }
    constexpr int kDaysInMonth[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (*year % 4 == 0 && *year % 100 != 0) || *year % 400 == 0;
    const int days = *month == 2 && !leap ? 28 : kDaysInMonth[*month - 1];
    if (*day > days) {
        return std::nullopt;
    }
    return RecordDate{*year, *month, *day};
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
