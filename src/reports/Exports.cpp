#include "reports/Exports.h"

#include "presentation/AmountFormat.h"
#include "reports/PeriodUse.h"

#include <ctime>

namespace quantiro::reports {

namespace {

std::string Bytes(std::int64_t kilobytes) {
    return std::to_string(kilobytes * 1024);
}

std::string JsonDate(const CalendarDate& date, Grouping by) {
    std::string text = "{\"year\":" + std::to_string(date.year);
    if (by != Grouping::Year) {
        text += ",\"month\":" + std::to_string(date.month);
    }
    if (by == Grouping::Hour || by == Grouping::Day) {
        text += ",\"day\":" + std::to_string(date.day);
    }
    return text + "}";
}

// Seconds since the epoch of the period's start in local time, as vnStat gives it.
long long LocalTimestamp(const CalendarDate& date, int hour) {
    std::tm local{};
    local.tm_year = date.year - 1900;
    local.tm_mon = date.month - 1;
    local.tm_mday = date.day;
    local.tm_hour = hour;
    local.tm_isdst = -1;
    return static_cast<long long>(std::mktime(&local));
}

std::string JsonList(const TrafficHistory& history, Grouping by, const CalendarDate& first,
                     const CalendarDate& last) {
    std::string list = "\"" + std::string(GroupingName(by)) + "\":[";
    int id = 0;
    for (const Row& row : Rows(history, by, first, last)) {
        if (!row.traffic.recorded) {
            continue;
        }
        list += id == 0 ? "{" : ",{";
        list += "\"id\":" + std::to_string(++id) + ",\"date\":" + JsonDate(row.first, by);
        if (by == Grouping::Hour) {
            list += ",\"time\":{\"hour\":" + std::to_string(row.hour) + ",\"minute\":0}";
        }
        list +=
            ",\"timestamp\":" + std::to_string(LocalTimestamp(row.first, std::max(row.hour, 0)));
        list +=
            ",\"rx\":" + Bytes(row.traffic.download) + ",\"tx\":" + Bytes(row.traffic.upload) + "}";
    }
    return list + "]";
}

} // namespace

std::string JsonString(std::string_view text) {
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            quoted += escaped;
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

std::string Padded(const std::string& text, std::size_t width, bool right) {
    std::size_t characters = 0;
    for (const char c : text) {
        characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }
    const std::string padding(width > characters ? width - characters : 0, ' ');
    return right ? padding + text : text + padding;
}

std::string CsvField(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
        return std::string(text);
    }
    std::string quoted = "\"";
    for (const char c : text) {
        quoted += c;
        if (c == '"') {
            quoted += '"';
        }
    }
    return quoted + "\"";
}

std::string CsvReport(const TrafficHistory& history, Grouping by, const CalendarDate& first,
                      const CalendarDate& last) {
    std::string csv = "okres,odebrano_B,wyslano_B,czas_online_ms\r\n";
    for (const Row& row : Rows(history, by, first, last)) {
        csv += CsvField(RowLabel(row, by));
        if (row.traffic.recorded) {
            csv += "," + Bytes(row.traffic.download) + "," + Bytes(row.traffic.upload) + "," +
                   std::to_string(row.traffic.onlineMs);
        } else {
            csv += ",,,";
        }
        csv += "\r\n";
    }
    return csv;
}

std::string JsonReport(const TrafficHistory& history, const std::optional<Grouping>& by,
                       const CalendarDate& first, const CalendarDate& last,
                       const JsonHeader& header) {
    const Traffic total = history.Days(first, last);
    std::string json = "{\"vnstatversion\":\"2.9\",\"jsonversion\":\"2\",\"interfaces\":[{";
    json += "\"name\":" + JsonString(header.interfaceName) + ",\"alias\":\"\"";
    json += ",\"created\":{\"date\":" +
            JsonDate(history.FirstDay().value_or(header.today), Grouping::Day) + "}";
    json += ",\"updated\":{\"date\":" + JsonDate(header.today, Grouping::Day) +
            ",\"time\":{\"hour\":" + std::to_string(header.hour) +
            ",\"minute\":" + std::to_string(header.minute) + "}}";
    json += ",\"traffic\":{\"total\":{\"rx\":" + Bytes(total.download) +
            ",\"tx\":" + Bytes(total.upload) + "}";
    for (const Grouping list : {Grouping::Hour, Grouping::Day, Grouping::Month, Grouping::Year}) {
        if (!by || *by == list) {
            json += "," + JsonList(history, list, first, last);
        }
    }
    return json + "}}]}\n";
}

std::string SummaryText(const TrafficHistory& history, const ApplicationHistory& applications,
                        const limits::LimitSettings& settings, LocalCounting counting,
                        const limits::Moment& now, std::string_view decimalSeparator) {
    const auto amount = [&](double kilobytes) {
        return presentation::FormatMonthAmount(kilobytes, decimalSeparator);
    };
    const CalendarDate& today = now.today;
    const PeriodUse use = UseOfPeriod(history, settings, now);
    const std::string periodName =
        "Okres " + FormatIsoDate(use.period.first) + " – " + FormatIsoDate(use.period.last);
    std::string text = Padded("", 34) + Padded("Odebrano", 16, true) + Padded("Wysłano", 16, true) +
                       Padded("Czas online", 16, true) + "\n";
    const auto line = [&](const std::string& name, const CalendarDate& first) {
        const Traffic traffic = history.Days(first, today);
        text += Padded(name, 34) + Padded(amount(static_cast<double>(traffic.download)), 16, true) +
                Padded(amount(static_cast<double>(traffic.upload)), 16, true) +
                Padded(FormatOnlineTime(traffic.onlineMs), 16, true) + "\n";
        const std::string local =
            LocalNote(applications.Local(first, today).Total(), counting, decimalSeparator);
        if (!local.empty()) {
            text += "  " + local + "\n";
        }
    };
    line("Dziś, " + FormatIsoDate(today), today);
    line("Ten miesiąc, " + std::string(MonthName(today.month)) + " " + std::to_string(today.year),
         {today.year, today.month, 1});
    line(periodName, use.period.first);
    text += "\n";
    if (use.limitKb > 0) {
        text += Padded("Limit okresu", 34) + amount(use.limitKb) + ", wykorzystano " +
                std::to_string(static_cast<int>(use.usedKb * 100 / use.limitKb)) + " %, zostało " +
                amount(std::max(use.limitKb - use.usedKb, 0.0)) + "\n";
    }
    text += Padded("Prognoza na koniec okresu", 34);
    text += use.estimateKb ? amount(*use.estimateKb) + " " + EstimateBasis(use.days)
                           : "od drugiego dnia okresu";
    text += "\n";
    if (const std::string note = SkippedNote(history); !note.empty()) {
        text += "\n(!) " + note + "\n";
    }
    return text;
}

} // namespace quantiro::reports
