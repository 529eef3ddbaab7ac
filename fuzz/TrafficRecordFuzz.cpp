// libFuzzer target: any stored record, of any field types, is taken as an hour or
// skipped, and the sums over every grouping stay whole and never negative.
#include "reports/ReportRows.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using quantiro::platform::FieldValue;

// One field from the input: its type from a byte, its value from what follows.
FieldValue TakeField(const std::uint8_t*& data, std::size_t& size) {
    if (size == 0) {
        return std::monostate{};
    }
    const std::uint8_t type = *data++;
    --size;
    std::int64_t number = 0;
    const std::size_t taken = std::min(size, sizeof number);
    std::memcpy(&number, data, taken);
    switch (type % 4) {
    case 0:
        return std::monostate{};
    case 1:
        data += taken, size -= taken;
        return number;
    case 2: {
        double real = 0;
        std::memcpy(&real, &number, sizeof real);
        data += taken, size -= taken;
        return real;
    }
    default: {
        const std::size_t length = std::min<std::size_t>(size, type / 4 % 16);
        std::string text(reinterpret_cast<const char*>(data), length);
        data += length, size -= length;
        return text;
    }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quantiro::reports;
    TrafficHistory history;
    while (size > 0) {
        quantiro::platform::StoredRecord record;
        record.date = TakeField(data, size);
        record.hour = TakeField(data, size);
        record.time = TakeField(data, size);
        record.download = TakeField(data, size);
        record.upload = TakeField(data, size);
        history.Add(record);
    }
    const auto first = history.FirstDay(), last = history.LastDay();
    if (first && last) {
        for (const Grouping by : {Grouping::Hour, Grouping::Day, Grouping::Month, Grouping::Year}) {
            const int span = quantiro::DaysSinceEpoch(*last) - quantiro::DaysSinceEpoch(*first);
            if ((by == Grouping::Hour && span > 400) || (by == Grouping::Day && span > 40000)) {
                continue; // long spans in small steps are only slow
            }
            for (const Row& row : Rows(history, by, *first, *last)) {
                if (row.traffic.download < 0 || row.traffic.upload < 0 ||
                    row.traffic.onlineMs < 0) {
                    std::abort();
                }
            }
        }
    }
    return 0;
}
