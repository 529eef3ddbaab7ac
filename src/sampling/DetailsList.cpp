#include "sampling/DetailsList.h"

#include "sampling/AmountFormat.h"

namespace quantiro::sampling {

std::string_view DetailsList::TypeName(std::int32_t code) {
    switch (code) {
    case 1:
        return "Other";
    case 6:
        return "Ethernet";
    case 9:
        return "TokenRing";
    case 15:
        return "FDDI";
    case 23:
        return "PPP";
    case 24:
        return "Loopback";
    case 28:
        return "SLIP";
    default:
        return {};
    }
}

void DetailsList::Write(std::size_t row, std::string value) {
    m_values.at(row - 1) = std::move(value);
    ++m_writes;
}

void DetailsList::Refresh(const ifstats::CInterface& current, const ifstats::CInterface& lastSeen) {
    if (current.InterfaceName() != lastSeen.InterfaceName()) {
        Write(1, current.InterfaceName());
    }
    if (current.InterfaceIndex() != lastSeen.InterfaceIndex()) {
        Write(2, std::to_string(current.InterfaceIndex()));
    }
    if (current.InterfaceType() != lastSeen.InterfaceType()) {
        // A code without a name leaves the cell as it was.
        if (const std::string_view name = TypeName(current.InterfaceType()); !name.empty()) {
            Write(3, std::string(name));
        }
    }
    if (current.Speed() != lastSeen.Speed()) {
        Write(4, FormatSpeed(current.Speed()));
    }
    if (current.AdapterAddress() != lastSeen.AdapterAddress()) {
        Write(5, current.AdapterAddress());
    }
    if (current.IncomingErrors() != lastSeen.IncomingErrors()) {
        Write(7, std::to_string(current.IncomingErrors()));
    }
    if (current.OutputQueueLength() != lastSeen.OutputQueueLength()) {
        Write(9, std::to_string(current.OutputQueueLength()));
    }
}

} // namespace quantiro::sampling
