#include "applications/ApplicationTraffic.h"

#include <algorithm>

namespace quantiro::applications {

namespace {

constexpr double kBytesPerKb = 1024.0;

// What a counter moved: from zero when it went back, as after a restart; or, where
// `before` holds what was folded into it, nothing below it.
std::uint64_t Moved(std::uint64_t now, std::uint64_t before, bool fromZero) {
    return now >= before ? now - before : fromZero ? now : 0;
}

bool WentBack(const platform::WayCounters& now, const platform::WayCounters& before) {
    return now.billedBytes < before.billedBytes || now.localBytes < before.localBytes ||
           now.packets < before.packets || now.localPackets < before.localPackets ||
           now.segmentBytes < before.segmentBytes || now.segmentPackets < before.segmentPackets;
}

double Kb(std::uint64_t bytes) {
    return static_cast<double>(bytes) / kBytesPerKb;
}

// What one way of an application's counters moved: the link's headers added to each
// packet, and a large packet's further segments only where the link counts them.
MovedKb Moving(const platform::WayCounters& now, const platform::WayCounters& before,
               std::uint32_t header, bool segments, bool fromZero) {
    const auto moved = [&](std::uint64_t counterNow, std::uint64_t counterBefore) {
        return Moved(counterNow, counterBefore, fromZero);
    };
    const double local = Kb(moved(now.localBytes, before.localBytes) +
                            moved(now.localPackets, before.localPackets) * header);
    const std::uint64_t bytes =
        moved(now.billedBytes + now.localBytes, before.billedBytes + before.localBytes);
    double whole = Kb(bytes + moved(now.packets, before.packets) * header);
    if (segments) {
        whole += Kb(moved(now.segmentBytes, before.segmentBytes) +
                    moved(now.segmentPackets, before.segmentPackets) * header);
    }
    // The segments' headers are not classed: they go with the billed part.
    return {.billedKb = std::max(whole - local, 0.0), .localKb = std::min(local, whole)};
}

} // namespace

void ApplicationTraffic::FoldIntoRest(const platform::ApplicationCounters& now) {
    const auto rest =
        std::ranges::find(now.applications, true, &platform::ApplicationCounter::folded);
    if (rest == now.applications.end()) {
        return; // nothing was folded
    }
    platform::TrafficCounters folded;
    for (auto last = m_last.begin(); last != m_last.end();) {
        const auto current = std::ranges::find(now.applications, last->first,
                                               &platform::ApplicationCounter::application);
        const bool gone = current == now.applications.end() ||
                          WentBack(current->counters.received, last->second.counters.received) ||
                          WentBack(current->counters.sent, last->second.counters.sent);
        if (last->first != rest->application && gone) {
            folded += last->second.counters;
            last = m_last.erase(last);
        } else {
            ++last;
        }
    }
    m_last[rest->application].counters += folded;
}

std::vector<ApplicationDelta>
ApplicationTraffic::Differences(const platform::ApplicationCounters& now,
                                std::uint32_t linkHeaderBytes, platform::LinkCounting counting) {
    std::vector<ApplicationDelta> deltas;
    if (m_started && now.interfaceName == m_interface) {
        const bool sameRun = now.run == m_run;
        const bool segmentsReceived = counting.received == platform::SegmentCounting::Segments;
        const bool segmentsSent = counting.sent == platform::SegmentCounting::Segments;
        if (!sameRun) {
            m_last.clear();
        }
        FoldIntoRest(now);
        for (const platform::ApplicationCounter& counter : now.applications) {
            platform::TrafficCounters before;
            if (const auto last = m_last.find(counter.application); last != m_last.end()) {
                before = last->second.counters;
            }
            const bool fromZero = !counter.folded;
            const ApplicationDelta delta{.application = counter.application,
                                         .received =
                                             Moving(counter.counters.received, before.received,
                                                    linkHeaderBytes, segmentsReceived, fromZero),
                                         .sent = Moving(counter.counters.sent, before.sent,
                                                        linkHeaderBytes, segmentsSent, fromZero)};
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
