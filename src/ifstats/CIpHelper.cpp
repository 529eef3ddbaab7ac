#include "ifstats/CIpHelper.h"

#include "common/Rounding.h"
#include "platform/IfTableLayout.h"

#include <algorithm>
#include <string>

namespace quantiro::ifstats {

namespace {

namespace layout = platform::iftable;

std::uint16_t ReadU16(const std::byte* at) {
    return static_cast<std::uint16_t>(static_cast<unsigned>(at[0]) | static_cast<unsigned>(at[1])
                                                                         << 8);
}

void AppendUtf8(std::string& out, char32_t code) {
    if (code < 0x80) {
        out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (code >> 6)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (code >> 12)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (code >> 18)));
        out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

// The name is UTF-16 up to the first NUL; kept as UTF-8.
std::string DecodeName(const std::byte* field) {
    std::string out;
    for (std::size_t i = 0; i < layout::kNameChars; ++i) {
        const char32_t unit = ReadU16(field + 2 * i);
        if (unit == 0) {
            break;
        }
        char32_t code = unit;
        if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < layout::kNameChars) {
            const char32_t low = ReadU16(field + 2 * i + 2);
            if (low >= 0xDC00 && low < 0xE000) {
                code = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        AppendUtf8(out, code);
    }
    return out;
}

// Upper-case hex bytes joined by "-", as many as the length field says (at most 8).
std::string FormatAddress(const std::byte* row) {
    const std::uint32_t length =
        std::min<std::uint32_t>(layout::ReadU32(row + layout::kPhysAddrLen), layout::kPhysAddrMax);
    constexpr char kHexDigits[] = "0123456789ABCDEF";
    std::string text;
    for (std::uint32_t i = 0; i < length; ++i) {
        const auto byte = static_cast<unsigned>(row[layout::kPhysAddr + i]);
        if (i > 0) {
            text.push_back('-');
        }
        text.push_back(kHexDigits[byte >> 4]);
        text.push_back(kHexDigits[byte & 0xF]);
    }
    return text;
}

std::string DecodeDescription(const std::byte* row) {
    const std::uint32_t length = layout::ReadU32(row + layout::kDescrLen);
    const std::size_t kept = std::min<std::size_t>(length, layout::kDescriptionMax);
    return std::string(reinterpret_cast<const char*>(row + layout::kDescr), kept);
}

// Byte counters arrive as signed 32-bit numbers (a counter past 2^31 is negative).
double Kilobytes(const std::byte* at) {
    return static_cast<double>(layout::ReadI32(at)) / 1024.0;
}

} // namespace

CIpHelper::CIpHelper(platform::InterfaceTable& table, platform::Notifier& notifier)
    : m_table(table)
    , m_notifier(notifier) {}

std::shared_ptr<CInterfaces> CIpHelper::Interfaces() {
    m_interfaces = std::make_shared<CInterfaces>();
    ReadInterfaceTable();
    return m_interfaces;
}

void CIpHelper::ReadInterfaceTable() {
    m_bytesReceived = 0;
    m_bytesSent = 0;

    std::uint32_t size = 0;
    if (m_table.GetIfTable(nullptr, size, false) == platform::kErrorNotSupported) {
        m_notifier.ShowMessage(kNotSupportedMessage);
        return;
    }
    if (size < layout::kCountSize) {
        return; // nothing to read, not even a row count
    }
    m_buffer.resize(size); // the platform fills every byte of the table
    if (m_table.GetIfTable(m_buffer.data(), size, false) != platform::kNoError) {
        return;
    }

    // Every row is read; a count that claims more rows than the buffer holds stops at
    // the last whole row.
    const std::size_t claimed = layout::ReadU32(m_buffer.data());
    const std::size_t fits = (m_buffer.size() - layout::kCountSize) / layout::kRowSize;
    const std::size_t rows = std::min(claimed, fits);

    m_interfaces->Reserve(rows);
    std::shared_ptr<CInterface> record;
    for (std::size_t position = 1; position <= rows; ++position) {
        const std::byte* row = m_buffer.data() + layout::RowOffset(position);
        if (!record) {
            record = std::make_shared<CInterface>();
        }
        record->SetInterfaceDescription(DecodeDescription(row));
        record->SetAdapterAddress(FormatAddress(row));
        record->SetOutputQueueLength(layout::ReadI32(row + layout::kOutQLen));
        record->SetOutgoingErrors(layout::ReadI32(row + layout::kOutErrors));
        record->SetDiscardedOutgoingPackets(layout::ReadI32(row + layout::kOutDiscards));
        record->SetNonunicastPacketsSent(layout::ReadI32(row + layout::kOutNUcastPkts));
        record->SetUnicastPacketsSent(layout::ReadI32(row + layout::kOutUcastPkts));
        record->SetOctetsSent(RoundToInt32(Kilobytes(row + layout::kOutOctets)));
        record->SetUnknownProtocolPackets(layout::ReadI32(row + layout::kInUnknownProtos));
        record->SetIncomingErrors(layout::ReadI32(row + layout::kInErrors));
        record->SetDiscardedIncomingPackets(layout::ReadI32(row + layout::kInDiscards));
        record->SetNonunicastPacketsReceived(layout::ReadI32(row + layout::kInNUcastPkts));
        record->SetUnicastPacketsReceived(layout::ReadI32(row + layout::kInUcastPkts));
        record->SetOctetsReceived(RoundToInt32(Kilobytes(row + layout::kInOctets)));
        record->SetOperationalStatus(layout::ReadI32(row + layout::kOperStatus));
        record->SetAdminStatus(layout::ReadI32(row + layout::kAdminStatus));
        record->SetSpeed(layout::ReadI32(row + layout::kSpeed));
        record->SetMaximumTransmissionUnit(layout::ReadI32(row + layout::kMtu));
        record->SetInterfaceType(layout::ReadI32(row + layout::kType));
        record->SetInterfaceIndex(layout::ReadI32(row + layout::kIndex));
        record->SetInterfaceName(DecodeName(row + layout::kName));

        // The rounding applies to the running sums, not to each row: with ties the
        // result can differ from a sum of rounded rows.
        m_bytesReceived = RoundToInt32(m_bytesReceived + Kilobytes(row + layout::kInOctets));
        m_bytesSent = RoundToInt32(m_bytesSent + Kilobytes(row + layout::kOutOctets));

        m_interfaces->Add(record);
    }
}

} // namespace quantiro::ifstats
