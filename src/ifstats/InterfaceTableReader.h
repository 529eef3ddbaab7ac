#pragma once

#include "platform/InterfaceTable.h"
#include "platform/Notifier.h"

#include <cstdint>
#include <string_view>
#include <vector>

namespace quantiro::ifstats {

inline constexpr std::string_view kNotSupportedMessage =
    "Program nie będzie pracował w tym systemie.";

// A byte counter as the family's arithmetic takes it: its low 32 bits read as a
// signed number (a counter past 2^31 bytes is negative), in kilobytes rounded ties
// to even. ContinueTotal turns these samples back into an ever-growing total.
std::int32_t KilobyteSample(std::uint64_t byteCounter);

// Reads the platform's interface table into a fresh snapshot on every Read. A
// platform that cannot read the table at all is told to the user on every read.
class InterfaceTableReader {
public:
    InterfaceTableReader(platform::InterfaceTable& table, platform::Notifier& notifier);

    // The rows in table order, the monitored interface first; empty after a failure.
    // The returned rows stay valid until the next Read.
    const std::vector<platform::InterfaceRow>& Read();

    // Whether the table has rows now, without a snapshot where the platform can
    // tell so; told like a read when the platform cannot read the table.
    bool HasRows();

private:
    platform::InterfaceTable& m_table;
    platform::Notifier& m_notifier;
    std::vector<platform::InterfaceRow> m_rows;
};

} // namespace quantiro::ifstats
