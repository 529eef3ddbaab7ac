#include "platform/linux/NetlinkInterfaceTable.h"

#include "common/FamilyPaths.h"
#include "platform/Files.h"
#include "platform/linux/LinkCounting.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>

#include <linux/if.h>
#include <linux/if_arp.h>
#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

// The kernel's rtnetlink macros (NLMSG_DATA, RTA_NEXT, ...) cast the C way, and
// drop const on the way.
#pragma GCC diagnostic ignored "-Wold-style-cast"
#pragma GCC diagnostic ignored "-Wcast-qual"

namespace quantiro::platform::linux_impl {

namespace {

using namespace std::chrono_literals;

// Speeds can change without a carrier change (a bond gaining a slave), so sysfs is
// read again now and then even on a steady link.
constexpr auto kDetailsMaxAge = 5s;

// After this many refused counter requests in a row the kernel is taken to lack
// them, and reads dump the table; the request is tried again now and then, since
// a reply lost in a storm looks the same as a refusal.
constexpr int kStatsFailuresBeforeDumpsOnly = 3;
constexpr int kReadsBetweenStatsRetries = 100;

constexpr std::int32_t kTypeOther = 1;
constexpr std::int32_t kTypeEthernet = 6;
constexpr std::int32_t kTypeTokenRing = 9;
constexpr std::int32_t kTypeFddi = 15;
constexpr std::int32_t kTypePpp = 23;
constexpr std::int32_t kTypeLoopback = 24;
constexpr std::int32_t kTypeSlip = 28;
constexpr std::int32_t kTypeWireless = 71;
constexpr std::int32_t kTypeTunnel = 131;

constexpr std::int32_t kAdminUp = 1;
constexpr std::int32_t kAdminDown = 2;
constexpr std::int32_t kOperOperational = 5;
constexpr std::int32_t kOperDisconnected = 2;

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

// A shorter structure from an older kernel leaves the missing counters at 0.
template <typename Stats> void CopyCounters(const void* data, std::size_t size, InterfaceRow& row) {
    Stats stats{};
    std::memcpy(&stats, data, std::min(size, sizeof stats));
    row.bytesReceived = stats.rx_bytes;
    row.bytesSent = stats.tx_bytes;
    row.receiveErrors = stats.rx_errors;
}

bool ParseLink(const nlmsghdr& message, NetlinkInterfaceTable::Link& link) {
    if (message.nlmsg_type != RTM_NEWLINK || message.nlmsg_len < NLMSG_LENGTH(sizeof(ifinfomsg))) {
        return false;
    }
    const auto* info = static_cast<const ifinfomsg*>(NLMSG_DATA(&message));
    link = {};
    InterfaceRow& row = link.row;
    row.index = info->ifi_index;
    link.deviceType = info->ifi_type;
    link.flags = info->ifi_flags;
    bool haveStats64 = false;
    int length = static_cast<int>(message.nlmsg_len - NLMSG_LENGTH(sizeof(ifinfomsg)));
    for (const auto* attr = IFLA_RTA(info); RTA_OK(attr, length); attr = RTA_NEXT(attr, length)) {
        const void* data = RTA_DATA(attr);
        const std::size_t size = RTA_PAYLOAD(attr);
        switch (attr->rta_type) {
        case IFLA_IFNAME:
            row.name.assign(static_cast<const char*>(data),
                            strnlen(static_cast<const char*>(data), size));
            break;
        case IFLA_MTU:
            if (size >= 4) {
                std::memcpy(&row.mtu, data, 4);
            }
            break;
        case IFLA_PARENT_DEV_BUS_NAME:
            link.parentBus.assign(static_cast<const char*>(data),
                                  strnlen(static_cast<const char*>(data), size));
            break;
        case IFLA_CARRIER_CHANGES:
            if (size >= 4) {
                std::memcpy(&link.carrierChanges, data, 4);
            }
            break;
        case IFLA_ADDRESS:
            row.addressLength = static_cast<std::uint8_t>(std::min(size, row.address.size()));
            std::memcpy(row.address.data(), data, row.addressLength);
            break;
        case IFLA_STATS64:
            CopyCounters<rtnl_link_stats64>(data, size, row);
            haveStats64 = true;
            break;
        case IFLA_STATS: // older kernels: 32-bit counters only
            if (!haveStats64) {
                CopyCounters<rtnl_link_stats>(data, size, row);
            }
            break;
        default:
            break;
        }
    }
    return true;
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
    const std::string text = platform::ReadFileWhole(deviceDir + "/speed", 32); // "1000\n"
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
    // Routes too: the interface of the default route is followed as it moves.
    : m_notifications(RTMGRP_LINK | RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE)
    , m_sysfsNetRoot(std::move(sysfsNetRoot)) {}

InterfaceTable::Status NetlinkInterfaceTable::Read(std::vector<InterfaceRow>& rows) {
    if (!m_requests.Valid() || !m_notifications.Valid()) {
        rows.clear();
        return Status::NotSupported;
    }
    // A change announced before or during the counters' request means a new dump.
    // Under an event loop the loop has read what came before, and what comes during
    // is the next read's: the socket costs nothing until the kernel has news.
    if (!m_loopWatches) {
        m_notifications.ReadNotifications();
    }
    bool current = m_snapshotValid && !m_notifications.TakeChanged() && RefreshFirstRowCounters();
    if (!m_loopWatches) {
        m_notifications.ReadNotifications();
        current = current && !m_notifications.TakeChanged();
    }
    if (!current) {
        m_snapshotValid = TakeSnapshot();
        if (!m_snapshotValid) {
            rows.clear();
            return Status::Failed;
        }
    }
    // Copied into the caller's rows, whose strings keep their room from read to read.
    // Between dumps only the first row's details can age.
    rows.resize(m_rows.size());
    for (std::size_t i = 0; i < m_rows.size(); ++i) {
        Link& link = m_links[m_rows[i]];
        if (!current || i == 0) {
            CompleteRow(link);
        }
        rows[i] = link.row;
    }
    return Status::Ok;
}

InterfaceTable::Status NetlinkInterfaceTable::Look(bool& hasRows) {
    if (m_requests.Valid() && m_snapshotValid && !m_rows.empty()) {
        hasRows = true;
        return Status::Ok;
    }
    const Status status = Read(m_lookRows);
    hasRows = !m_lookRows.empty();
    return status;
}

LinkCounting NetlinkInterfaceTable::CountingOf(const std::string& interfaceName) {
    const auto link = std::find_if(m_links.begin(), m_links.end(),
                                   [&](const Link& l) { return l.row.name == interfaceName; });
    return link == m_links.end() ? LinkCounting{} : CountingOfLink(interfaceName, link->parentBus);
}

int NetlinkInterfaceTable::ChangesDescriptorForLoop() {
    m_loopWatches = m_requests.Valid() && m_notifications.Valid();
    return m_loopWatches ? m_notifications.Descriptor() : -1;
}

void NetlinkInterfaceTable::ChangesReadable() {
    m_notifications.ReadNotifications();
}

bool NetlinkInterfaceTable::RefreshFirstRowCounters() {
    if (m_rows.empty()) {
        return true; // the monitored interface is away; its return is announced
    }
    if (m_statsFailures >= kStatsFailuresBeforeDumpsOnly &&
        ++m_readsSinceStatsTried < kReadsBetweenStatsRetries) {
        return false;
    }
    m_readsSinceStatsTried = 0;
    InterfaceRow& row = m_links[m_rows.front()].row;
    if_stats_msg request{};
    request.family = AF_UNSPEC;
    request.ifindex = static_cast<std::uint32_t>(row.index);
    request.filter_mask = IFLA_STATS_FILTER_BIT(IFLA_STATS_LINK_64);
    bool found = false;
    const bool answered =
        m_requests.Request(RTM_GETSTATS, &request, sizeof request, [&](const nlmsghdr& message) {
            if (message.nlmsg_type != RTM_NEWSTATS ||
                message.nlmsg_len < NLMSG_LENGTH(sizeof(if_stats_msg))) {
                return;
            }
            const auto* stats = static_cast<const if_stats_msg*>(NLMSG_DATA(&message));
            int length = static_cast<int>(message.nlmsg_len - NLMSG_LENGTH(sizeof(if_stats_msg)));
            for (auto* attr = reinterpret_cast<const rtattr*>(reinterpret_cast<const char*>(stats) +
                                                              NLMSG_ALIGN(sizeof(if_stats_msg)));
                 RTA_OK(attr, length); attr = RTA_NEXT(attr, length)) {
                if (attr->rta_type == IFLA_STATS_LINK_64) {
                    CopyCounters<rtnl_link_stats64>(RTA_DATA(attr), RTA_PAYLOAD(attr), row);
                    found = true;
                }
            }
        });
    m_statsFailures = answered && found ? 0 : m_statsFailures + 1;
    return answered && found;
}

bool NetlinkInterfaceTable::TakeSnapshot() {
    m_notifications.TakeChanged(); // what changes from now on is announced after this dump
    m_links.clear();
    m_rows.clear();
    Link link;
    const bool ok = m_requests.Dump(RTM_GETLINK, AF_UNSPEC, [&](const nlmsghdr& message) {
        if (ParseLink(message, link)) {
            m_links.push_back(std::move(link));
        }
    });
    if (!ok) {
        return false;
    }
    if (!m_primaryChosen) {
        m_primaryChosen = true;
        FixNamedPrimary(m_links);
    }
    if (!m_primaryFixed) {
        m_primaryName = DefaultRouteLinkName(m_links);
    }

    std::optional<std::size_t> loopback;
    for (std::size_t i = 0; i < m_links.size(); ++i) {
        if (m_links[i].row.name == m_primaryName) {
            m_rows.insert(m_rows.begin(), i);
        } else if (m_links[i].deviceType == ARPHRD_LOOPBACK && !loopback) {
            loopback = i;
        } else {
            m_rows.push_back(i);
        }
    }
    if (m_primaryName.empty() || m_rows.empty() ||
        m_links[m_rows.front()].row.name != m_primaryName) {
        // The monitored interface is gone for now, or no default route leads
        // anywhere: an empty table, never some other interface in its place.
        m_rows.clear();
        return true;
    }
    if (loopback) {
        m_rows.push_back(*loopback);
    }
    return true;
}

void NetlinkInterfaceTable::FixNamedPrimary(const std::vector<Link>& links) {
    auto named = [&](const std::string& name) {
        return std::any_of(links.begin(), links.end(),
                           [&](const Link& l) { return l.row.name == name; });
    };
    if (const char* wanted = std::getenv("QUANTIRO_INTERFACE"); wanted && named(wanted)) {
        m_primaryName = wanted;
        m_primaryFixed = true;
    } else if (named(m_preferred)) {
        m_primaryName = m_preferred;
        m_primaryFixed = true;
    }
}

std::string NetlinkInterfaceTable::DefaultRouteLinkName(const std::vector<Link>& links) {
    for (const std::uint8_t family : {std::uint8_t{AF_INET}, std::uint8_t{AF_INET6}}) {
        if (const auto index = DefaultRouteInterface(family)) {
            for (const Link& l : links) {
                if (l.row.index == *index) {
                    return l.row.name;
                }
            }
        }
    }
    return {};
}

std::optional<std::int32_t> NetlinkInterfaceTable::DefaultRouteInterface(std::uint8_t family) {
    std::optional<std::int32_t> best;
    std::uint32_t bestMetric = std::numeric_limits<std::uint32_t>::max();
    m_requests.Dump(RTM_GETROUTE, family, [&](const nlmsghdr& message) {
        if (message.nlmsg_type != RTM_NEWROUTE || message.nlmsg_len < NLMSG_LENGTH(sizeof(rtmsg))) {
            return;
        }
        const auto* route = static_cast<const rtmsg*>(NLMSG_DATA(&message));
        // Only a default route (no /1 halves), and one whose link has a carrier:
        // an unplugged cable leaves its route behind, marked.
        if (route->rtm_dst_len != 0 || route->rtm_type != RTN_UNICAST ||
            (route->rtm_flags & RTNH_F_LINKDOWN) != 0) {
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
    // The coarse clock is enough to age details in seconds, and costs far less.
    timespec coarse{};
    ::clock_gettime(CLOCK_MONOTONIC_COARSE, &coarse);
    const std::chrono::nanoseconds now =
        std::chrono::seconds(coarse.tv_sec) + std::chrono::nanoseconds(coarse.tv_nsec);
    const InterfaceRow& row = link.row;
    auto& details = m_details[row.index];
    if (details.name == row.name && details.carrierChanges == link.carrierChanges &&
        now - details.readAt < kDetailsMaxAge) {
        return details;
    }
    const std::string dir = m_sysfsNetRoot + "/" + row.name;
    details.name = row.name;
    details.carrierChanges = link.carrierChanges;
    details.readAt = now;
    details.wireless = PathExists(dir + "/wireless") || PathExists(dir + "/phy80211");
    details.speed = LinkSpeed(dir);
    details.description = row.name;
    if (const std::string driver = DriverName(dir); !driver.empty()) {
        details.description += " (" + driver + ")";
    }
    if (m_details.size() > 2 * m_links.size() + 8) {
        std::erase_if(m_details, [&](const auto& entry) {
            return std::none_of(m_links.begin(), m_links.end(),
                                [&](const Link& l) { return l.row.index == entry.first; });
        });
        return m_details.at(row.index);
    }
    return details;
}

void NetlinkInterfaceTable::CompleteRow(Link& link) {
    const SysfsDetails& details = DetailsOf(link);
    InterfaceRow& row = link.row;
    row.description = details.description;
    row.type = InterfaceTypeCode(link.deviceType, details.wireless);
    row.speed = details.speed;
    const bool up = (link.flags & IFF_UP) != 0;
    row.adminStatus = up ? kAdminUp : kAdminDown;
    // IFF_RUNNING is the kernel's "operationally up" (RFC 2863 up or unknown), which
    // keeps loopback and tunnels that never report a carrier counted as working.
    row.operStatus = up && (link.flags & IFF_RUNNING) ? kOperOperational : kOperDisconnected;
    // The kernel publishes no current queue depth per link, so the queue reads 0.
}

} // namespace quantiro::platform::linux_impl
