#pragma once

#include "platform/ApplicationCounters.h"

#include <map>
#include <string>
#include <vector>

namespace quantiro::applications {

// What one application moved between two readings of the service, in kilobytes
// as the link counts them (its headers included).
struct ApplicationDelta {
    std::string application;
    double downloadKb = 0;
    double uploadKb = 0;
    double downloadLocalKb = 0;
    double uploadLocalKb = 0;
};

// The link's own running totals when the service's counters were read, in kB.
struct LinkTotals {
    double receivedKb = 0;
    double sentKb = 0;
};

// Turns the service's running counters into what moved since the last reading. The
// first reading, and the first of another interface, only take the counters up
// (they hold everything since the service started); a reading of another run (the
// service restarted) counts from zero; a counter that went back counts from zero
// too, never below it.
//
// A large packet is counted the way the link counts it: as its segments, each with
// its headers (a network card that splits it itself), while the programs' sum so
// counted stays within what the link carried since the first reading; else whole,
// once (veth, virtio, a bridge). The programs' shares thus never add up to more
// than the link, and the hour's unattributed rest never goes below zero.
class ApplicationTraffic {
public:
    // `linkHeaderBytes`: what the link adds to each IP packet (14 on Ethernet and
    // Wi-Fi), since its counters count the frames.
    std::vector<ApplicationDelta> Differences(const platform::ApplicationCounters& now,
                                              std::uint32_t linkHeaderBytes,
                                              const LinkTotals& link);

private:
    // One direction since the first reading: what the link carried, and what the
    // programs moved counted as segments.
    struct Direction {
        double linkAtStartKb = 0;
        double splitKb = 0;
        // Whether segments fit: a sum counted so must stay within the link.
        bool Split(double linkKb) const;
    };

    std::string m_interface;
    std::string m_run;
    bool m_started = false;
    Direction m_received, m_sent;
    std::map<std::string, platform::ApplicationCounter, std::less<>> m_last;
};

} // namespace quantiro::applications
