#include "monitor/RateHistory.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace quantiro::monitor {

namespace {

void Push(std::deque<RatePoint>& points, RatePoint point, std::size_t capacity, std::size_t& run) {
    run = !points.empty() && points.back() == point ? run + 1 : 1;
    points.push_back(point);
    if (points.size() > capacity) {
        points.pop_front();
    }
}

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

} // namespace

void RateHistory::AddCounters(std::uint64_t received, std::uint64_t sent, std::uint32_t elapsedMs) {
    const bool counted =
        m_lastReceived && elapsedMs > 0 && received >= *m_lastReceived && sent >= *m_lastSent;
    if (counted) {
        const double seconds = elapsedMs / 1000.0;
        Add({static_cast<double>(received - *m_lastReceived) / seconds,
             static_cast<double>(sent - *m_lastSent) / seconds});
    }
    m_lastReceived = received;
    m_lastSent = sent;
}

void RateHistory::Add(RatePoint rate) {
    Push(m_fine, rate, kFinePoints, m_fineRun);
    ++m_fineAdded;
    m_pending.download += rate.download;
    m_pending.upload += rate.upload;
    if (++m_pendingCount == kFinePerCoarse) {
        Push(m_coarse, {m_pending.download / kFinePerCoarse, m_pending.upload / kFinePerCoarse},
             kCoarsePoints, m_coarseRun);
        ++m_coarseAdded;
        m_pending = {};
        m_pendingCount = 0;
    }
}

const std::deque<RatePoint>& RateHistory::Points(Span span) const {
    return span == Span::TwoMinutes ? m_fine : m_coarse;
}

bool RateHistory::Flat(Span span) const {
    return span == Span::TwoMinutes ? m_fineRun >= m_fine.size() : m_coarseRun >= m_coarse.size();
}

SpanFigures RateHistory::Figures(Span span) const {
    const std::deque<RatePoint>& points = Points(span);
    SpanFigures figures;
    if (points.empty()) {
        return figures;
    }
    figures.current = points.back();
    for (const RatePoint& point : points) {
        figures.average.download += point.download;
        figures.average.upload += point.upload;
        figures.peak.download = std::max(figures.peak.download, point.download);
        figures.peak.upload = std::max(figures.peak.upload, point.upload);
    }
    figures.average.download /= static_cast<double>(points.size());
    figures.average.upload /= static_cast<double>(points.size());
    return figures;
}

GraphScale ScaleFor(double peak) {
    GraphScale scale;
    const bool megabytes = peak >= 1'000'000;
    scale.unitBytes = megabytes ? 1'000'000 : 1000;
    scale.unit = megabytes ? "MB/s" : "kB/s";
    // The smallest 1, 2 or 4 times a power of ten at or above the peak, so that the
    // quarters read as short numbers; at least 1 kB/s.
    const double inUnits = std::max(peak / scale.unitBytes, 1.0);
    double step = std::pow(10.0, std::floor(std::log10(inUnits)));
    double top = step;
    for (const double factor : {1.0, 2.0, 4.0, 10.0}) {
        top = factor * step;
        if (top >= inUnits * (1 - 1e-9)) {
            break;
        }
    }
    scale.maximum = top * scale.unitBytes;
    for (int quarter = 0; quarter <= 4; ++quarter) {
        scale.labels.push_back(Number(top * quarter / 4));
    }
    return scale;
}

std::string FormatRate(double bytesPerSecond) {
    const bool megabytes = bytesPerSecond >= 1'000'000;
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", bytesPerSecond / (megabytes ? 1'000'000.0 : 1000.0),
                  megabytes ? "MB/s" : "kB/s");
    return text;
}

} // namespace quantiro::monitor
