#pragma once

#include "platform/InterfaceTable.h"

#include <string>
#include <string_view>

namespace quantiro::platform::linux_impl {

// How a link of this process's network namespace counts large packets:
// - a card on a bus (PCI, USB, SDIO, ...) counts the frames on the wire: segments;
// - a software device (veth, bridge, tun, loopback, a tunnel: no parent device) and a
//   virtio card (the host splits) count a large packet once, whole;
// - but a link without TCP segmentation offload (ETHTOOL_GTSO) is handed the segments
//   the kernel cut, so what it sends counts as segments whatever it is.
// `parentBus`: the bus of the link's parent device as rtnetlink names it
// (IFLA_PARENT_DEV_BUS_NAME), empty without one. Unknown when the link is gone.
LinkCounting CountingOfLink(const std::string& interfaceName, std::string_view parentBus);

} // namespace quantiro::platform::linux_impl
