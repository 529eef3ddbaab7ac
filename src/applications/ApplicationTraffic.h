#pragma once

#include "platform/ApplicationCounters.h"
#include "platform/InterfaceTable.h"

#include <map>
#include <string>
#include <vector>

namespace quantiro::applications {

// What moved one way between two readings of the service, in kilobytes as the link
// counts them (its headers included), billed and local apart.
struct MovedKb {
    double billedKb = 0;
    double localKb = 0;
    double WholeKb() const { return billedKb + localKb; }
};

// What one application moved between two readings of the service.
struct ApplicationDelta {
    std::string application;
    MovedKb received;
    MovedKb sent;
};

// Turns the service's running counters into what moved since the last reading. The
// first reading, and the first of another interface, only take the counters up
// (they hold everything since the service started); a reading of another run (the
// service restarted) counts from zero; a counter that went back counts from zero
// too, never below it.
//
// The service folds an owner that is gone for good into the reader's "pozostałe" row:
// a row that went, or went back (gone, then started anew), had its last counters
// added there, so what they were is taken from that row's before, and the fold
// never shows as traffic.
//
// A large packet is counted the way the link counts it, as the link's driver and
// offloads tell: as its segments, each with its headers (a network card), or whole,
// once (veth, virtio, a bridge). Where that is unknown, whole: a program is then
// never given headers the link did not carry, which would be others' traffic.
class ApplicationTraffic {
public:
    // `linkHeaderBytes`: what the link adds to each IP packet (14 on Ethernet and
    // Wi-Fi), since its counters count the frames.
    // `counting`: how the link counts large packets each way.
    std::vector<ApplicationDelta> Differences(const platform::ApplicationCounters& now,
                                              std::uint32_t linkHeaderBytes,
                                              platform::LinkCounting counting);

private:
    void FoldIntoRest(const platform::ApplicationCounters& now);

    std::string m_interface;
    std::string m_run;
    bool m_started = false;
    std::map<std::string, platform::ApplicationCounter, std::less<>> m_last;
};

} // namespace quantiro::applications
