#include "ifstats/InterfaceTableReader.h"

#include "common/Rounding.h"

namespace quantiro::ifstats {

std::int32_t KilobyteSample(std::uint64_t byteCounter) {
    const auto low32 = static_cast<std::int32_t>(static_cast<std::uint32_t>(byteCounter));
    return RoundToInt32(static_cast<double>(low32) / 1024.0);
}

InterfaceTableReader::InterfaceTableReader(platform::InterfaceTable& table,
                                           platform::Notifier& notifier)
    : m_table(table)
    , m_notifier(notifier) {}

const std::vector<platform::InterfaceRow>& InterfaceTableReader::Read() {
    if (m_table.Read(m_rows) == platform::InterfaceTable::Status::NotSupported) {
        m_notifier.ShowMessage(kNotSupportedMessage);
    }
    return m_rows;
}

bool InterfaceTableReader::HasRows() {
    bool hasRows = false;
    if (m_table.Look(hasRows) == platform::InterfaceTable::Status::NotSupported) {
        m_notifier.ShowMessage(kNotSupportedMessage);
    }
    return hasRows;
}

} // namespace quantiro::ifstats
