#include "platform/linux/NetlinkInterfaceTable.h"

#include "platform/IfTableLayout.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>

#include <linux/if.h>
#include <linux/if_arp.h>
#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

namespace quantiro::platform::linux_impl {

namespace {

using namespace std::chrono_literals;
namespace layout = iftable;

// Speeds can change without a carrier change (a bond gaining a slave), so sysfs is
// read again now and then even on a steady link.
constexpr auto kDetailsMaxAge = 5s;

constexpr std::int32_t kTypeOther = 1;
constexpr std::int32_t kTypeEthernet = 6;
constexpr std::int32_t kTypeTokenRing = 9;
constexpr std::int32_t kTypeFddi = 15;
constexpr std::int32_t kTypePpp = 23;
constexpr std::int32_t kTypeLoopback = 24;
constexpr std::int32_t kTypeSlip = 28;
constexpr std::int32_t kTypeWireless = 71;
constexpr std::int32_t kTypeTunnel = 131;

constexpr std::uint32_t kAdminUp = 1;
constexpr std::uint32_t kAdminDown = 2;
constexpr std::uint32_t kOperOperational = 5;
constexpr std::uint32_t kOperDisconnected = 2;

std::int32_t InterfaceTypeCode(std::uint16_t deviceType, bool wireless) {
    switch (deviceType) {
    case ARPHRD_ETHER:
        return wireless ? kTypeWireless : kTypeEthernet;
    case ARPHRD_LOOPBACK:
        return kTypeLoopback;
    case ARPHRD_PPP:
        return kTypePpp;
    case ARPHRD_SLIP:
    case ARPHRD_CSLIP:
    case ARPHRD_SLIP6:
    case ARPHRD_CSLIP6:
        return kTypeSlip;
    case ARPHRD_IEEE802_TR:
        return kTypeTokenRing;
    case ARPHRD_FDDI:
        return kTypeFddi;
    case ARPHRD_NONE:
    case ARPHRD_TUNNEL:
    case ARPHRD_TUNNEL6:
    case ARPHRD_SIT:
    case ARPHRD_IPGRE:
    case ARPHRD_IP6GRE:
        return kTypeTunnel;
    default:
        return kTypeOther;
    }
}

std::uint32_t Low32(std::uint64_t counter) {
    return static_cast<std::uint32_t>(counter);
}

// Kernel names are bytes, normally ASCII; valid UTF-8 is decoded, any other byte
// is taken as Latin-1 so that nothing is lost or invented.
std::u16string ToUtf16(const std::string& text) {
    std::u16string out;
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n;) {
        const unsigned char lead = bytes[i];
        std::size_t extra = lead >= 0xF0 && lead < 0xF5   ? 3
                            : lead >= 0xE0 && lead < 0xF0 ? 2
                            : lead >= 0xC2 && lead < 0xE0 ? 1
                                                          : 0;
        char32_t code = extra == 3 ? lead & 0x07 : extra == 2 ? lead & 0x0F : lead & 0x1F;
        bool valid = extra > 0 && i + extra < n + 1;
        for (std::size_t k = 1; valid && k <= extra; ++k) {
            if (i + k >= n || (bytes[i + k] & 0xC0) != 0x80) {
                valid = false;
            } else {
                code = (code << 6) | (bytes[i + k] & 0x3F);
            }
        }
        if (!valid) {
            out.push_back(static_cast<char16_t>(lead));
            ++i;
            continue;
        }
        if (code >= 0x10000) {
            code -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(code));
        }
        i += extra + 1;
    }
    return out;
}

// A shorter structure from an older kernel leaves the missing counters at 0.
template <typename Stats>
void CopyCounters(const void* data, std::size_t size, NetlinkInterfaceTable::Link& link) {
    Stats stats{};
    std::memcpy(&stats, data, std::min(size, sizeof stats));
    link.rxBytes = stats.rx_bytes;
    link.txBytes = stats.tx_bytes;
    link.rxPackets = stats.rx_packets;
    link.txPackets = stats.tx_packets;
    link.rxErrors = stats.rx_errors;
    link.txErrors = stats.tx_errors;
    link.rxDropped = stats.rx_dropped;
    link.txDropped = stats.tx_dropped;
    link.multicast = stats.multicast;
    link.rxNoHandler = stats.rx_nohandler;
}

bool ParseLink(const nlmsghdr& message, NetlinkInterfaceTable::Link& link) {
    if (message.nlmsg_type != RTM_NEWLINK || message.nlmsg_len < NLMSG_LENGTH(sizeof(ifinfomsg))) {
        return false;
    }
    const auto* info = static_cast<const ifinfomsg*>(NLMSG_DATA(&message));
    link = {};
    link.index = info->ifi_index;
    link.deviceType = info->ifi_type;
    link.flags = info->ifi_flags;
    bool haveStats64 = false;
    int length = static_cast<int>(message.nlmsg_len - NLMSG_LENGTH(sizeof(ifinfomsg)));
    for (const auto* attr = IFLA_RTA(info); RTA_OK(attr, length); attr = RTA_NEXT(attr, length)) {
        const void* data = RTA_DATA(attr);
        const std::size_t size = RTA_PAYLOAD(attr);
        switch (attr->rta_type) {
        case IFLA_IFNAME:
            link.name.assign(static_cast<const char*>(data),
                             strnlen(static_cast<const char*>(data), size));
            break;
        case IFLA_MTU:
            if (size >= 4) {
                std::memcpy(&link.mtu, data, 4);
            }
            break;
        case IFLA_CARRIER_CHANGES:
            if (size >= 4) {
                std::memcpy(&link.carrierChanges, data, 4);
            }
            break;
        case IFLA_ADDRESS:
            link.addressLength = static_cast<std::uint32_t>(std::min(size, link.address.size()));
            std::memcpy(link.address.data(), data, link.addressLength);
            break;
        case IFLA_STATS64:
            CopyCounters<rtnl_link_stats64>(data, size, link);
            haveStats64 = true;
            break;
        case IFLA_STATS: // older kernels: 32-bit counters only
            if (!haveStats64) {
                CopyCounters<rtnl_link_stats>(data, size, link);
            }
            break;
        default:
            break;
        }
    }
    return true;
}

std::string ReadFirstLine(const std::string& path) {
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    return line;
}

bool PathExists(const std::string& path) {
    return ::access(path.c_str(), F_OK) == 0;
}

std::string DriverName(const std::string& deviceDir) {
    std::string target(256, '\0');
    const std::string linkPath = deviceDir + "/device/driver";
    const ssize_t n = ::readlink(linkPath.c_str(), target.data(), target.size());
    if (n <= 0) {
        return {};
    }
    target.resize(static_cast<std::size_t>(n));
    const auto slash = target.rfind('/');
    return slash == std::string::npos ? target : target.substr(slash + 1);
}

std::int32_t LinkSpeed(const std::string& deviceDir) {
    const std::string text = ReadFirstLine(deviceDir + "/speed");
    char* end = nullptr;
    const long long megabits = std::strtoll(text.c_str(), &end, 10);
    if (end == text.c_str() || megabits <= 0) {
        return 0; // unknown to the kernel (no link, or a virtual device)
    }
    constexpr long long kMax = std::numeric_limits<std::int32_t>::max();
    return megabits > kMax / 1'000'000 ? static_cast<std::int32_t>(kMax)
                                       : static_cast<std::int32_t>(megabits * 1'000'000);
}

} // namespace

NetlinkInterfaceTable::NetlinkInterfaceTable(std::string sysfsNetRoot)
    : m_sysfsNetRoot(std::move(sysfsNetRoot)) {}

std::uint32_t NetlinkInterfaceTable::GetIfTable(std::byte* buffer, std::uint32_t& size,
                                                bool /*order: rows are never sorted*/) {
    if (!m_socket.Valid()) {
        return kErrorNotSupported;
    }
    if (buffer == nullptr) {
        // The size query takes the snapshot; the fill call that follows hands over the
        // same rows, so the two calls cost one dump and always agree on the size.
        m_rowsPending = TakeSnapshot();
        if (!m_rowsPending) {
            size = 0;
            return kErrorGenFailure;
        }
        size = static_cast<std::uint32_t>(layout::TableSize(m_rows.size()));
        return kErrorInsufficientBuffer;
    }
    if (!m_rowsPending && !TakeSnapshot()) {
        return kErrorGenFailure;
    }
    m_rowsPending = false;
    const std::size_t needed = layout::TableSize(m_rows.size());
    if (size < needed) {
        size = static_cast<std::uint32_t>(needed);
        return kErrorInsufficientBuffer;
    }
    std::memset(buffer, 0, needed);
    layout::WriteU32(buffer, static_cast<std::uint32_t>(m_rows.size()));
    for (std::size_t i = 0; i < m_rows.size(); ++i) {
        WriteRow(buffer + layout::RowOffset(i + 1), m_links[m_rows[i]]);
    }
    return kNoError;
}

bool NetlinkInterfaceTable::TakeSnapshot() {
    m_links.clear();
    m_rows.clear();
    Link link;
    const bool ok = m_socket.Dump(RTM_GETLINK, AF_UNSPEC, [&](const nlmsghdr& message) {
        if (ParseLink(message, link)) {
            m_links.push_back(std::move(link));
        }
    });
    if (!ok) {
        return false;
    }
    if (!m_primaryFixed) {
        FixPrimary(m_links);
    }

    std::optional<std::size_t> loopback;
    for (std::size_t i = 0; i < m_links.size(); ++i) {
        if (m_links[i].name == m_primaryName) {
            m_rows.insert(m_rows.begin(), i);
        } else if (m_links[i].deviceType == ARPHRD_LOOPBACK && !loopback) {
            loopback = i;
        } else {
            m_rows.push_back(i);
        }
    }
    if (!m_primaryName.empty() &&
        (m_rows.empty() || m_links[m_rows.front()].name != m_primaryName)) {
        m_rows.clear(); // the monitored interface is gone for now: an empty table
        return true;
    }
    if (loopback) {
        m_rows.push_back(*loopback);
    }
    return true;
}

void NetlinkInterfaceTable::FixPrimary(const std::vector<Link>& links) {
    m_primaryFixed = true;
    auto named = [&](const std::string& name) {
        return std::any_of(links.begin(), links.end(),
                           [&](const Link& l) { return l.name == name; });
    };
    if (const char* wanted = std::getenv("QUANTIRO_INTERFACE"); wanted && named(wanted)) {
        m_primaryName = wanted;
        return;
    }
    for (const std::uint8_t family : {std::uint8_t{AF_INET}, std::uint8_t{AF_INET6}}) {
        if (const auto index = DefaultRouteInterface(family)) {
            for (const Link& l : links) {
                if (l.index == *index) {
                    m_primaryName = l.name;
                    return;
                }
            }
        }
    }
}

std::optional<std::int32_t> NetlinkInterfaceTable::DefaultRouteInterface(std::uint8_t family) {
    std::optional<std::int32_t> best;
    std::uint32_t bestMetric = std::numeric_limits<std::uint32_t>::max();
    m_socket.Dump(RTM_GETROUTE, family, [&](const nlmsghdr& message) {
        if (message.nlmsg_type != RTM_NEWROUTE || message.nlmsg_len < NLMSG_LENGTH(sizeof(rtmsg))) {
            return;
        }
        const auto* route = static_cast<const rtmsg*>(NLMSG_DATA(&message));
        if (route->rtm_dst_len != 0 || route->rtm_type != RTN_UNICAST) {
            return;
        }
        std::uint32_t table = route->rtm_table;
        std::uint32_t metric = 0;
        std::optional<std::int32_t> device;
        int length = static_cast<int>(message.nlmsg_len - NLMSG_LENGTH(sizeof(rtmsg)));
        for (const auto* attr = RTM_RTA(route); RTA_OK(attr, length);
             attr = RTA_NEXT(attr, length)) {
            const void* data = RTA_DATA(attr);
            if (attr->rta_type == RTA_TABLE && RTA_PAYLOAD(attr) >= 4) {
                std::memcpy(&table, data, 4);
            } else if (attr->rta_type == RTA_PRIORITY && RTA_PAYLOAD(attr) >= 4) {
                std::memcpy(&metric, data, 4);
            } else if (attr->rta_type == RTA_OIF && RTA_PAYLOAD(attr) >= 4) {
                std::int32_t oif = 0;
                std::memcpy(&oif, data, 4);
                device = oif;
            } else if (attr->rta_type == RTA_MULTIPATH && !device &&
                       RTA_PAYLOAD(attr) >= sizeof(rtnexthop)) {
                device = static_cast<const rtnexthop*>(data)->rtnh_ifindex;
            }
        }
        if (table == RT_TABLE_MAIN && device && metric < bestMetric) {
            best = device;
            bestMetric = metric;
        }
    });
    return best;
}

const NetlinkInterfaceTable::SysfsDetails& NetlinkInterfaceTable::DetailsOf(const Link& link) {
    const auto now = std::chrono::steady_clock::now();
    auto& details = m_details[link.index];
    if (details.name == link.name && details.carrierChanges == link.carrierChanges &&
        now - details.readAt < kDetailsMaxAge) {
        return details;
    }
    const std::string dir = m_sysfsNetRoot + "/" + link.name;
    details.name = link.name;
    details.carrierChanges = link.carrierChanges;
    details.readAt = now;
    details.wireless = PathExists(dir + "/wireless") || PathExists(dir + "/phy80211");
    details.speed = LinkSpeed(dir);
    details.rowName = ToUtf16(link.name);
    details.description = link.name;
    if (const std::string driver = DriverName(dir); !driver.empty()) {
        details.description += " (" + driver + ")";
    }
    if (m_details.size() > 2 * m_links.size() + 8) {
        std::erase_if(m_details, [&](const auto& entry) {
            return std::none_of(m_links.begin(), m_links.end(),
                                [&](const Link& l) { return l.index == entry.first; });
        });
        return m_details.at(link.index);
    }
    return details;
}

void NetlinkInterfaceTable::WriteRow(std::byte* row, const Link& link) {
    const SysfsDetails& details = DetailsOf(link);

    const std::u16string& name = details.rowName;
    const std::size_t units = std::min(name.size(), layout::kNameChars - 1);
    for (std::size_t i = 0; i < units; ++i) {
        row[layout::kName + 2 * i] = static_cast<std::byte>(name[i] & 0xFF);
        row[layout::kName + 2 * i + 1] = static_cast<std::byte>(name[i] >> 8);
    }

    auto put = [row](std::size_t offset, std::uint32_t value) {
        layout::WriteU32(row + offset, value);
    };
    put(layout::kIndex, static_cast<std::uint32_t>(link.index));
    put(layout::kType,
        static_cast<std::uint32_t>(InterfaceTypeCode(link.deviceType, details.wireless)));
    put(layout::kMtu, link.mtu);
    put(layout::kSpeed, static_cast<std::uint32_t>(details.speed));
    put(layout::kPhysAddrLen, link.addressLength);
    std::memcpy(row + layout::kPhysAddr, link.address.data(), link.addressLength);
    const bool up = (link.flags & IFF_UP) != 0;
    put(layout::kAdminStatus, up ? kAdminUp : kAdminDown);
    // IFF_RUNNING is the kernel's "operationally up" (RFC 2863 up or unknown), which
    // keeps loopback and tunnels that never report a carrier counted as working.
    put(layout::kOperStatus,
        up && (link.flags & IFF_RUNNING) ? kOperOperational : kOperDisconnected);
    put(layout::kInOctets, Low32(link.rxBytes));
    put(layout::kInUcastPkts, Low32(link.rxPackets - std::min(link.rxPackets, link.multicast)));
    put(layout::kInNUcastPkts, Low32(link.multicast));
    put(layout::kInDiscards, Low32(link.rxDropped));
    put(layout::kInErrors, Low32(link.rxErrors));
    put(layout::kInUnknownProtos, Low32(link.rxNoHandler));
    put(layout::kOutOctets, Low32(link.txBytes));
    put(layout::kOutUcastPkts, Low32(link.txPackets));
    put(layout::kOutDiscards, Low32(link.txDropped));
    put(layout::kOutErrors, Low32(link.txErrors));
    // The kernel publishes no current queue depth per link, so the queue reads 0.

    const std::string& description = details.description;
    const std::size_t descriptionLength = std::min(description.size(), layout::kDescriptionMax);
    put(layout::kDescrLen, static_cast<std::uint32_t>(descriptionLength));
    std::memcpy(row + layout::kDescr, description.data(), descriptionLength);
}

} // namespace quantiro::platform::linux_impl
