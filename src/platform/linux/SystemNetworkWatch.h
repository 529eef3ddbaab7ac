#pragma once

#include "platform/Networks.h"
#include "platform/linux/LinkNetworkIdentity.h"
#include "platform/linux/UniqueFd.h"

#include <memory>
#include <string>

namespace quantiro::platform::linux_impl {

// The followed interface's network. With NetworkManager on the system bus it is the
// active connection of the interface's device (not the manager's primary one, which
// a full-tunnel VPN takes over while the physical link stays followed): its UUID,
// name and type, and the device's Metered once it has settled. Followed through the
// signals of the device, its active connection and that connection's profile, on a
// private connection of its own; nothing here waits for the bus. Without
// NetworkManager, or for a device it leaves alone, the kernel tells the network
// (LinkNetworkIdentity), and that identity is kept as `otherId` beside
// NetworkManager's, so NetworkManager stopping changes nothing the user sees.
//
// A switch shows no settled connection for some 25 ms; until the arriving network
// has settled, Current() stays the one leaving, so every tick has a network.
class SystemNetworkWatch final : public NetworkWatch {
public:
    SystemNetworkWatch();
    ~SystemNetworkWatch() override;
    SystemNetworkWatch(const SystemNetworkWatch&) = delete;
    SystemNetworkWatch& operator=(const SystemNetworkWatch&) = delete;

    void Follow(const std::string& interfaceName) override;
    const Network& Current() const override { return m_current; }

    // One descriptor for the loop, readable when the bus or the kernel has spoken;
    // -1 when there is nothing to watch.
    int ChangesDescriptorForLoop() override { return m_waitSet.Get(); }
    // Takes in what came, without waiting for more.
    void ChangesReadable() override;

private:
    struct ManagerFollower;
    // The current network from what both sides know now.
    void Decide();

    std::string m_interfaceName;
    LinkNetworkIdentity m_link;
    Network m_linkNetwork;
    std::unique_ptr<ManagerFollower> m_manager;
    int m_busDescriptor = -1; // in the wait set while the bus is there
    UniqueFd m_waitSet;
    Network m_current;
};

} // namespace quantiro::platform::linux_impl
