#pragma once

#include "platform/IfTableLayout.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quantiro::testing {

// One hand-made row of the interface table.
struct RowSpec {
    std::u16string name{};
    std::uint32_t index = 1;
    std::uint32_t type = 6;
    std::uint32_t mtu = 1500;
    std::uint32_t speed = 0;
    std::vector<std::uint8_t> address{};
    std::uint32_t addressLength = 0xFFFFFFFF; // default: address.size()
    std::uint32_t adminStatus = 1;
    std::uint32_t operStatus = 5;
    std::uint32_t inOctets = 0;
    std::uint32_t outOctets = 0;
    std::uint32_t inErrors = 0;
    std::uint32_t outQueue = 0;
    std::string description{};
    std::uint32_t descriptionLength = 0xFFFFFFFF; // default: description.size()
};

inline std::vector<std::byte> BuildTable(const std::vector<RowSpec>& rows) {
    namespace layout = platform::iftable;
    std::vector<std::byte> table(layout::TableSize(rows.size()));
    layout::WriteU32(table.data(), static_cast<std::uint32_t>(rows.size()));
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const RowSpec& spec = rows[i];
        std::byte* row = table.data() + layout::RowOffset(i + 1);
        for (std::size_t k = 0; k < spec.name.size() && k < layout::kNameChars; ++k) {
            row[2 * k] = static_cast<std::byte>(spec.name[k] & 0xFF);
            row[2 * k + 1] = static_cast<std::byte>(spec.name[k] >> 8);
        }
        layout::WriteU32(row + layout::kIndex, spec.index);
        layout::WriteU32(row + layout::kType, spec.type);
        layout::WriteU32(row + layout::kMtu, spec.mtu);
        layout::WriteU32(row + layout::kSpeed, spec.speed);
        layout::WriteU32(row + layout::kPhysAddrLen,
                         spec.addressLength == 0xFFFFFFFF
                             ? static_cast<std::uint32_t>(spec.address.size())
                             : spec.addressLength);
        for (std::size_t k = 0; k < spec.address.size() && k < layout::kPhysAddrMax; ++k) {
            row[layout::kPhysAddr + k] = static_cast<std::byte>(spec.address[k]);
        }
        layout::WriteU32(row + layout::kAdminStatus, spec.adminStatus);
        layout::WriteU32(row + layout::kOperStatus, spec.operStatus);
        layout::WriteU32(row + layout::kInOctets, spec.inOctets);
        layout::WriteU32(row + layout::kOutOctets, spec.outOctets);
        layout::WriteU32(row + layout::kInErrors, spec.inErrors);
        layout::WriteU32(row + layout::kOutQLen, spec.outQueue);
        layout::WriteU32(row + layout::kDescrLen,
                         spec.descriptionLength == 0xFFFFFFFF
                             ? static_cast<std::uint32_t>(spec.description.size())
                             : spec.descriptionLength);
        for (std::size_t k = 0; k < spec.description.size() && k < layout::kDescriptionMax; ++k) {
            row[layout::kDescr + k] = static_cast<std::byte>(spec.description[k]);
        }
    }
    return table;
}

} // namespace quantiro::testing
