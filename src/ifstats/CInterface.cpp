#include "ifstats/CInterface.h"

#include <array>
#include <utility>

namespace quantiro::ifstats {

namespace {

constexpr std::array<std::pair<std::string_view, std::string_view>, 22> kHelpTexts{{
    {"InterfaceDescription", "Contains a description of the interface."},
    {"OutputQueueLength", "Specifies the output queue length."},
    {"OutgoingErrors",
     "Specifies the number of outgoing packets that were discarded because of errors."},
    {"DiscardedOutgoingPackets",
     "Specifies the number of outgoing packets that were discarded even "
     "though they did not have errors."},
    {"NonunicastPacketsSent", "Specifies the number of non-unicast packets sent through this "
                              "interface. Broadcast and multicast packets are included."},
    {"UnicastPacketsSent", "Specifies the number of unicast packets sent through this interface."},
    {"OctetsSent", "Specifies the number of octets of data sent through this interface."},
    {"UnknownProtocolPackets", "Specifies the number of incoming packets that were discarded "
                               "because the protocol was unknown."},
    {"IncomingErrors",
     "Specifies the number of incoming packets that were discarded because of errors."},
    {"DiscardedIncomingPackets",
     "Specifies the number of incoming packets that were discarded even "
     "though they did not have errors."},
    {"NonunicastPacketsReceived",
     "Specifies the number of non-unicast packets received through this "
     "interface. Broadcast and multicast packets are included."},
    {"MaximumTransmissionUnit", "Specifies the Maximum Transmission Unit (MTU)."},
    {"UnicastPacketsReceived",
     "Specifies the number of unicast packets received through this interface."},
    {"InterfaceIndex", "Specifies the index that identifies the interface."},
    {"OctetsReceived", "Specifies the number of octets of data received through this interface."},
    {"LastChange", "Specifies the last time the operational status changed."},
    {"OperationalStatus", "Specifies the operational status of the interface."},
    {"AdminStatus", "Specifies the interface is administratively enabled or disabled."},
    {"AdapterAddress", "Specifies the physical address of the adapter for this interface."},
    {"Speed", "Specifies the speed of the interface in bits per second."},
    {"InterfaceType", "Specifies the type of interface."},
    {"InterfaceName", "String that contains the name of the interface."},
}};

} // namespace

std::string_view CInterface::HelpText(std::string_view property) {
    for (const auto& [name, text] : kHelpTexts) {
        if (name == property) {
            return text;
        }
    }
    return {};
}

} // namespace quantiro::ifstats
