#include "applications/ApplicationTraffic.h"

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

// One application's movement one way, counted whole and as segments.
struct Movement {
    double wholeKb = 0;
    double splitKb = 0;
    double localKb = 0;
};

// One way of one application's counters: bytes, packets, and the segments' and
// the local network's parts of them.
struct Way {
    std::uint64_t bytes, packets, splitBytes, splitPackets, localBytes, localPackets;
};

Movement Moving(const Way& now, const Way& before, std::uint32_t header) {
    const double whole =
        Kb(Moved(now.bytes, before.bytes) + Moved(now.packets, before.packets) * header);
    return {.wholeKb = whole,
            .splitKb = whole + Kb(Moved(now.splitBytes, before.splitBytes) +
                                  Moved(now.splitPackets, before.splitPackets) * header),
            .localKb = Kb(Moved(now.localBytes, before.localBytes) +
                          Moved(now.localPackets, before.localPackets) * header)};
}

Movement Received(const platform::ApplicationCounter& now,
                  const platform::ApplicationCounter& before, std::uint32_t header) {
    auto way = [](const platform::ApplicationCounter& c) {
        return Way{c.receivedBytes,        c.receivedPackets,    c.receivedSplitBytes,
                   c.receivedSplitPackets, c.receivedLocalBytes, c.receivedLocalPackets};
    };
    return Moving(way(now), way(before), header);
}

Movement Sent(const platform::ApplicationCounter& now, const platform::ApplicationCounter& before,
              std::uint32_t header) {
    auto way = [](const platform::ApplicationCounter& c) {
        return Way{c.sentBytes,        c.sentPackets,    c.sentSplitBytes,
                   c.sentSplitPackets, c.sentLocalBytes, c.sentLocalPackets};
    };
    return Moving(way(now), way(before), header);
}

} // namespace

std::vector<ApplicationDelta>
ApplicationTraffic::Differences(const platform::ApplicationCounters& now,
                                std::uint32_t linkHeaderBytes, platform::LinkCounting counting) {
    std::vector<ApplicationDelta> deltas;
    if (m_started && now.interfaceName == m_interface) {
        const bool sameRun = now.run == m_run;
        struct Moves {
            std::string application;
            Movement received, sent;
        };
        std::vector<Moves> moves;
        for (const platform::ApplicationCounter& counter : now.applications) {
            platform::ApplicationCounter before;
            if (const auto last = m_last.find(counter.application);
                sameRun && last != m_last.end()) {
                before = last->second;
            }
            moves.push_back({.application = counter.application,
                             .received = Received(counter, before, linkHeaderBytes),
                             .sent = Sent(counter, before, linkHeaderBytes)});
        }
        const bool splitReceived = counting.received == platform::SegmentCounting::Segments;
        const bool splitSent = counting.sent == platform::SegmentCounting::Segments;
        for (const Moves& move : moves) {
            const double download = splitReceived ? move.received.splitKb : move.received.wholeKb;
            const double upload = splitSent ? move.sent.splitKb : move.sent.wholeKb;
            if (download > 0 || upload > 0) {
                deltas.push_back({.application = move.application,
                                  .downloadKb = download,
                                  .uploadKb = upload,
                                  .downloadLocalKb = move.received.localKb,
                                  .uploadLocalKb = move.sent.localKb});
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
