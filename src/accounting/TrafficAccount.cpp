#include "accounting/TrafficAccount.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace quantiro::accounting {

namespace {

using namespace std::chrono_literals;

// The service is asked once a second; its answer is looked for on the ticks after,
// so what it says is a tick old, not a second.
constexpr auto kAskInterval = 1000ms;
// How long a tick's traffic waits for the service before it counts as billed.
constexpr auto kLongestWait = 3000ms;
// Questions unanswered before the service is taken to be silent.
constexpr int kAsksBeforeSilent = 3;
// Ticks kept for an answer that may still come once they no longer wait.
constexpr auto kKeptForAnswer = 10s;

std::uint32_t Ms(std::chrono::milliseconds interval) {
    return static_cast<std::uint32_t>(interval.count());
}

// The part of a segment of link traffic that was local, as a fraction of it.
double LocalFraction(double localKb, double linkKb) {
    if (localKb <= 0) {
        return 0;
    }
    return linkKb > 0 ? std::min(localKb / linkKb, 1.0) : 1.0;
}

// The whole kilobytes of a growing fractional sum: floor, so each step adds no more
// whole kilobytes than the step's own size rounded up to the tick's whole ones.
double WholeKb(double kb) {
    return std::floor(kb + 1e-9);
}

} // namespace

TrafficAccount::TrafficAccount(records::HourlyRecords& hours, platform::Clock& clock,
                               platform::ApplicationCounterSource* service,
                               const platform::NetworkWatch* networks)
    : m_hours(hours)
    , m_clock(clock)
    , m_service(service)
    , m_networks(networks) {}

const platform::Network& TrafficAccount::CurrentNetwork() const {
    static const platform::Network kNone;
    return m_networks ? m_networks->Current() : kNone;
}

sampling::Totals TrafficAccount::Withheld() const {
    return {.received = WholeKb(m_localExact.received) + m_waiting.received,
            .sent = WholeKb(m_localExact.sent) + m_waiting.sent};
}

bool TrafficAccount::ServiceSilent() const {
    return !m_service || m_asksUnanswered >= kAsksBeforeSilent;
}

void TrafficAccount::Count(double downloadKb, double uploadKb, std::uint32_t onlineMs) {
    // Waits only while the service answers: without it the whole link counts, as
    // the meter errs towards the bill. A counter that went back is never held.
    const bool wait = m_internetOnly && m_answering && downloadKb >= 0 && uploadKb >= 0;
    const platform::Network& network = CurrentNetwork();
    m_hours.Count(wait ? 0 : downloadKb, wait ? 0 : uploadKb, onlineMs, network);
    if (!m_service) {
        return; // no answer will ever ask which hour the tick went to
    }
    m_ticks.push_back({.number = m_nextTick++,
                       .at = m_clock.TickMilliseconds(),
                       .hour = m_hours.OpenHourNumber(),
                       .network = network.id,
                       .receivedKb = downloadKb,
                       .sentKb = uploadKb,
                       .waiting = wait});
    if (wait) {
        m_waiting.received += downloadKb;
        m_waiting.sent += uploadKb;
    }
}

void TrafficAccount::Settle(Tick& tick, double localReceivedKb, double localSentKb) {
    if (!tick.waiting) {
        return;
    }
    tick.waiting = false;
    m_waiting.received -= tick.receivedKb;
    m_waiting.sent -= tick.sentKb;
    // Whole kilobytes leave the amounts, so what is shown and what the hour holds
    // stay whole and equal; the fractions add up until they make one.
    const sampling::Totals before = m_localExact;
    m_localExact.received += std::min(localReceivedKb, tick.receivedKb);
    m_localExact.sent += std::min(localSentKb, tick.sentKb);
    const double leftReceived = WholeKb(m_localExact.received) - WholeKb(before.received);
    const double leftSent = WholeKb(m_localExact.sent) - WholeKb(before.sent);
    m_hours.CountLate(tick.hour, tick.network, tick.receivedKb - leftReceived,
                      tick.sentKb - leftSent);
    // The network's row keeps what left the amounts beside them.
    m_hours.CountLocal(tick.hour, tick.network, leftReceived, leftSent);
}

void TrafficAccount::SettleAll() {
    for (Tick& tick : m_ticks) {
        Settle(tick, 0, 0);
    }
}

void TrafficAccount::SetInternetOnly(bool internetOnly) {
    m_internetOnly = internetOnly;
    if (!internetOnly) {
        SettleAll();
    }
}

void TrafficAccount::OnTick(const LinkNow& link) {
    const std::uint32_t now = m_clock.TickMilliseconds();
    if (m_service) {
        // While a question is out the reader is asked once a second (it counts those
        // asks to give up on a service that hangs); once the answer is in, the next
        // question goes out as soon as a second has passed since the last one.
        if (m_service->Waiting()) {
            const bool attempt = now - m_attemptedAt >= Ms(kAskInterval);
            Poll(link, attempt, now);
        }
        if (!m_service->Waiting() && (!m_asked || now - m_askedAt >= Ms(kAskInterval))) {
            Poll(link, true, now);
        }
    }
    // The ticks are in the order they came: only the oldest can be overdue.
    for (Tick& tick : m_ticks) {
        if (now - tick.at < Ms(kLongestWait)) {
            break;
        }
        Settle(tick, 0, 0);
    }
    while (!m_ticks.empty() && now - m_ticks.front().at >= Ms(kKeptForAnswer)) {
        m_ticks.pop_front();
    }
}

void TrafficAccount::Poll(const LinkNow& link, bool ask, std::uint32_t now) {
    if (ask) {
        m_attemptedAt = now;
    }
    const bool waited = m_service->Waiting();
    // An answer is to the question already out; a question asked in the same call
    // goes out after it is taken in.
    const auto answer =
        m_service->Poll({.name = link.interfaceName, .index = link.interfaceIndex}, ask);
    if (answer) {
        m_asksUnanswered = 0;
        m_answering = true;
        TakeAnswer(*answer, link);
    } else if (ask && ++m_asksUnanswered >= kAsksBeforeSilent) {
        m_answering = false;
    }
    if (ask && m_service->Waiting() && (answer || !waited)) {
        m_asked = true;
        m_askedAt = now;
        m_askedThrough = m_nextTick - 1;
        m_linkAsked = link.carried;
    }
}

void TrafficAccount::TakeAnswer(const platform::ApplicationCounters& answer, const LinkNow& link) {
    const std::vector<applications::ApplicationDelta> deltas =
        m_traffic.Differences(answer, link.headerBytes, link.counting);
    std::size_t covered = 0;
    while (covered < m_ticks.size() && m_ticks[covered].number <= m_askedThrough) {
        ++covered;
    }
    CountApplications(deltas, covered);

    // The local network's part of what the link carried between the two questions,
    // spread over the ticks in proportion to their traffic.
    sampling::Totals local;
    for (const applications::ApplicationDelta& delta : deltas) {
        local.received += delta.received.localKb;
        local.sent += delta.sent.localKb;
    }
    m_localTotals.received += local.received;
    m_localTotals.sent += local.sent;
    const double receivedFraction =
        LocalFraction(local.received, m_linkAsked.received - m_linkAnswered.received);
    const double sentFraction = LocalFraction(local.sent, m_linkAsked.sent - m_linkAnswered.sent);
    for (std::size_t i = 0; i < covered; ++i) {
        Tick& tick = m_ticks[i];
        const double localReceived = tick.receivedKb * receivedFraction;
        const double localSent = tick.sentKb * sentFraction;
        if (!m_internetOnly) {
            // Counting everything, the local part is within the network's kilobytes.
            m_hours.CountLocal(tick.hour, tick.network, std::max(localReceived, 0.0),
                               std::max(localSent, 0.0));
        }
        Settle(tick, localReceived, localSent);
    }
    m_ticks.erase(m_ticks.begin(), m_ticks.begin() + static_cast<std::ptrdiff_t>(covered));
    m_linkAnswered = m_linkAsked;
}

void TrafficAccount::CountApplications(const std::vector<applications::ApplicationDelta>& deltas,
                                       std::size_t covered) {
    if (deltas.empty()) {
        return;
    }
    // Each hour's and network's share of the covered ticks' link traffic, one way
    // and the other: a switch splits a program's figures as an hour's end does.
    struct Share {
        double receivedKb = 0;
        double sentKb = 0;
    };
    using Part = std::pair<std::uint64_t, std::string>; // the hour's number, the network
    std::map<Part, Share> hours;
    Share all;
    Part latestPart{m_hours.OpenHourNumber(), CurrentNetwork().id};
    for (std::size_t i = 0; i < covered; ++i) {
        const Tick& tick = m_ticks[i];
        Share& share = hours[{tick.hour, tick.network}];
        share.receivedKb += std::max(tick.receivedKb, 0.0);
        share.sentKb += std::max(tick.sentKb, 0.0);
        all.receivedKb += std::max(tick.receivedKb, 0.0);
        all.sentKb += std::max(tick.sentKb, 0.0);
        latestPart = {tick.hour, tick.network};
    }
    auto fraction = [](double part, double whole, bool only) {
        return whole > 0 ? part / whole : (only ? 1.0 : 0.0);
    };
    if (hours.empty()) {
        hours[latestPart] = {};
    }
    for (const applications::ApplicationDelta& delta : deltas) {
        // Billed only: what the program exchanged with the local network stays out.
        const double download = m_internetOnly ? delta.received.billedKb : delta.received.WholeKb();
        const double upload = m_internetOnly ? delta.sent.billedKb : delta.sent.WholeKb();
        for (const auto& [part, share] : hours) {
            // With no traffic one way, that way's share goes to the latest tick's part.
            const bool latest = part == latestPart;
            const double down = fraction(share.receivedKb, all.receivedKb, latest);
            const double up = fraction(share.sentKb, all.sentKb, latest);
            m_hours.CountApplication(part.first, part.second, delta.application, download * down,
                                     upload * up, delta.received.localKb * down,
                                     delta.sent.localKb * up);
        }
        ApplicationTotal& total = m_applicationTotals[delta.application];
        total.receivedKb += download;
        total.sentKb += upload;
    }
}

} // namespace quantiro::accounting
