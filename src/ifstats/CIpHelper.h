#pragma once

#include "ifstats/CInterfaces.h"
#include "platform/InterfaceTable.h"
#include "platform/Notifier.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace quantiro::ifstats {

inline constexpr std::string_view kNotSupportedMessage =
    "Program nie będzie pracował w tym systemie.";

// Reads the platform's interface table into a new collection on every read of
// Interfaces, and adds up the kilobytes of all rows on the way.
class CIpHelper {
public:
    CIpHelper(platform::InterfaceTable& table, platform::Notifier& notifier);

    // A new snapshot each call; a collection handed out earlier keeps its values.
    std::shared_ptr<CInterfaces> Interfaces();
    void SetInterfaces(std::shared_ptr<CInterfaces> vData) { m_interfaces = std::move(vData); }

    std::int32_t BytesReceived() const { return m_bytesReceived; }
    std::int32_t BytesSent() const { return m_bytesSent; }

private:
    void ReadInterfaceTable();

    platform::InterfaceTable& m_table;
    platform::Notifier& m_notifier;
    std::shared_ptr<CInterfaces> m_interfaces = std::make_shared<CInterfaces>();
    std::int32_t m_bytesReceived = 0;
    std::int32_t m_bytesSent = 0;
    std::vector<std::byte> m_buffer;
};

} // namespace quantiro::ifstats
