#include "platform/linux/LinkCounting.h"

#include "platform/linux/UniqueFd.h"

#include <cstring>

#include <linux/ethtool.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

namespace quantiro::platform::linux_impl {

LinkCounting CountingOfLink(const std::string& interfaceName, std::string_view parentBus) {
    if (interfaceName.empty() || interfaceName.size() >= IFNAMSIZ) {
        return {};
    }
    // The parent's bus, not the driver's name: ETHTOOL_GDRVINFO names veth or e1000e
    // but says whether a bus lies under it only in free text ("tun", "N/A"), and
    // /sys/class/net may be another namespace's sysfs. A kernel before 5.15 names no
    // parent: its cards then count whole, which never gives a program others' bytes.
    const SegmentCounting card = parentBus.empty() || parentBus == "virtio"
                                     ? SegmentCounting::Whole
                                     : SegmentCounting::Segments;
    const UniqueFd fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    ethtool_value offload{.cmd = ETHTOOL_GTSO};
    ifreq request{};
    std::memcpy(request.ifr_name, interfaceName.data(), interfaceName.size());
    request.ifr_data = reinterpret_cast<char*>(&offload);
    if (!fd.Valid() || ::ioctl(fd.Get(), SIOCETHTOOL, &request) != 0) {
        return {};
    }
    return {.received = card, .sent = offload.data != 0 ? card : SegmentCounting::Segments};
}

} // namespace quantiro::platform::linux_impl
