#include "applications/ApplicationTraffic.h"

#include <algorithm>

namespace quantiro::applications {

namespace {

constexpr double kBytesPerKb = 1024.0;

// What a counter moved: from zero when it went back, as after a restart.
std::uint64_t Moved(std::uint64_t now, std::uint64_t before) {
    return now >= before ? now - before : now;
}

double Kb(std::uint64_t bytes) {
    return static_cast<double>(bytes) / kBytesPerKb;
}

// What one way of an application's counters moved: the link's headers added to each
// packet, and a large packet's further segments only where the link counts them.
MovedKb Moving(const platform::WayCounters& now, const platform::WayCounters& before,
               std::uint32_t header, bool segments) {
    const double local = Kb(Moved(now.localBytes, before.localBytes) +
                            Moved(now.localPackets, before.localPackets) * header);
    const std::uint64_t bytes =
        Moved(now.billedBytes + now.localBytes, before.billedBytes + before.localBytes);
    double whole = Kb(bytes + Moved(now.packets, before.packets) * header);
    if (segments) {
        whole += Kb(Moved(now.segmentBytes, before.segmentBytes) +
                    Moved(now.segmentPackets, before.segmentPackets) * header);
    }
    // The segments' headers are not classed: they go with the billed part.
    return {.billedKb = std::max(whole - local, 0.0), .localKb = std::min(local, whole)};
}

} // namespace

std::vector<ApplicationDelta>
ApplicationTraffic::Differences(const platform::ApplicationCounters& now,
                                std::uint32_t linkHeaderBytes, platform::LinkCounting counting) {
    std::vector<ApplicationDelta> deltas;
    if (m_started && now.interfaceName == m_interface) {
        const bool sameRun = now.run == m_run;
        const bool segmentsReceived = counting.received == platform::SegmentCounting::Segments;
        const bool segmentsSent = counting.sent == platform::SegmentCounting::Segments;
        for (const platform::ApplicationCounter& counter : now.applications) {
            platform::TrafficCounters before;
            if (const auto last = m_last.find(counter.application);
                sameRun && last != m_last.end()) {
                before = last->second.counters;
            }
            const ApplicationDelta delta{
                .application = counter.application,
                .received = Moving(counter.counters.received, before.received, linkHeaderBytes,
                                   segmentsReceived),
                .sent = Moving(counter.counters.sent, before.sent, linkHeaderBytes, segmentsSent)};
            if (delta.received.WholeKb() > 0 || delta.sent.WholeKb() > 0) {
                deltas.push_back(delta);
            }
        }
    }
    m_started = true;
    m_interface = now.interfaceName;
    m_run = now.run;
    m_last.clear();
    for (const platform::ApplicationCounter& counter : now.applications) {
        m_last.emplace(counter.application, counter);
    }
    return deltas;
}

} // namespace quantiro::applications
