#pragma once

#include <charconv>
#include <chrono>
#include <compare>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace quantiro {

struct CalendarDate {
    int year = 0;
    int month = 0;
    int day = 0;
    auto operator<=>(const CalendarDate&) const = default;
};

// "yyyy-mm-dd", as the records and the family's files write a date.
inline std::string FormatIsoDate(const CalendarDate& date) {
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", date.year % 10000, date.month % 100,
                  date.day % 100);
    return text;
}

inline bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

inline int DaysInMonth(int year, int month) {
    constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// A "yyyy-mm-dd" date that exists in the calendar; nullopt for anything else.
inline std::optional<CalendarDate> ParseIsoDate(std::string_view text) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') {
        return std::nullopt;
    }
    auto number = [&](std::size_t at, std::size_t length) -> std::optional<int> {
        int result = 0;
        const char* first = text.data() + at;
        const auto [last, error] = std::from_chars(first, first + length, result);
        if (error != std::errc() || last != first + length || result < 0) {
            return std::nullopt;
        }
        return result;
    };
    const auto year = number(0, 4), month = number(5, 2), day = number(8, 2);
    if (!year || !month || !day || *month < 1 || *month > 12 || *day < 1) {
        return std::nullopt;
    }
    if (*day > DaysInMonth(*year, *month)) {
        return std::nullopt;
    }
    return CalendarDate{*year, *month, *day};
}

// The family's day number: days since 1970-01-01, so December 2026 starts on day
// 20788. Stored as a 16-bit period number, which lasts until 2059.
inline std::int32_t DaysSinceEpoch(int year, int month, int day) {
    using namespace std::chrono;
    const sys_days date{std::chrono::year{year} / std::chrono::month{static_cast<unsigned>(month)} /
                        std::chrono::day{static_cast<unsigned>(day)}};
    return static_cast<std::int32_t>(date.time_since_epoch().count());
}

// The date of a day number.
inline CalendarDate DateOfDay(std::int32_t days) {
    using namespace std::chrono;
    const year_month_day date{sys_days{std::chrono::days{days}}};
    return {static_cast<int>(date.year()), static_cast<int>(static_cast<unsigned>(date.month())),
            static_cast<int>(static_cast<unsigned>(date.day()))};
}

inline std::int32_t DaysSinceEpoch(const CalendarDate& date) {
    return DaysSinceEpoch(date.year, date.month, date.day);
}

} // namespace quantiro
