#pragma once

#include "applications/ApplicationTraffic.h"
#include "platform/ApplicationCounters.h"
#include "platform/Clock.h"
#include "platform/Networks.h"
#include "records/HourlyRecords.h"
#include "sampling/TickCollaborators.h"

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

namespace quantiro::accounting {

// The link as the tick left it, for the question to the counting service.
struct LinkNow {
    std::string interfaceName; // empty while the meter waits for an interface
    std::int32_t interfaceIndex = 0;
    std::uint32_t headerBytes = 0;
    platform::LinkCounting counting; // how it counts large packets each way
    sampling::Totals carried;        // what the link carried since the meter started, in kB
};

// What one application moved this run, as the user's figures count it, in kB.
struct ApplicationTotal {
    double receivedKb = 0;
    double sentKb = 0;
};

// The one owner of what the ticks' traffic counts as: billed or local, which hour
// it belongs to, and which application moved it. The sampler hands it every
// counting tick; the counting service, read once a second, says a second later
// which part was local and who moved it.
//
// Counting billed traffic only, a tick's kilobytes wait for that word before they
// reach the hour and the amounts shown, so what is shown never runs ahead and
// falls back; what is still not told apart 3 s after its tick counts as billed and
// is never taken back (the meter errs towards the bill, never below it).
//
// The service's figures cover the ticks since its previous answer, which may span
// two hours: each hour gets the share its ticks' link traffic carried, and an hour
// closed meanwhile has its record written again.
//
// Each tick belongs to the network the watch names at that tick, so a switch splits
// the hour at the tick, and the service's figures over a switch are spread over the
// two networks' ticks as they are over two hours.
class TrafficAccount final : public sampling::HourRecords {
public:
    // `service`: none when the meter counts the link alone. `networks`: none when no
    // network is known, and the hours keep no network rows.
    TrafficAccount(records::HourlyRecords& hours, platform::Clock& clock,
                   platform::ApplicationCounterSource* service,
                   const platform::NetworkWatch* networks = nullptr);

    void Count(double downloadKb, double uploadKb, std::uint32_t onlineMs) override;
    void Reject(double downloadKb, double uploadKb) override {
        m_hours.Reject(downloadKb, uploadKb, CurrentNetwork().id);
    }
    bool CountsEveryKilobyte() const override { return m_hours.CountsEveryKilobyte(); }
    bool HourChanged() override { return m_hours.HourChanged(); }
    void StartNextHour() override { m_hours.StartNextHour(); }
    sampling::Totals Withheld() const override;

    // Counting billed traffic only ("TylkoInternet"); turned off, what waits counts
    // as billed at once.
    void SetInternetOnly(bool internetOnly);

    // After each tick's sample: what waited past its time counts as billed; the
    // service is asked once a second and its answer taken in when it has come.
    void OnTick(const LinkNow& link);
    // What still waits counts as billed now, so the hour saved at exit holds it.
    void SettleAll();

    // The service has left the last few questions unanswered (or there is none).
    bool ServiceSilent() const;
    // The local network's traffic this run, as the service classified it, in kB.
    const sampling::Totals& LocalTotals() const { return m_localTotals; }
    const std::map<std::string, ApplicationTotal, std::less<>>& ApplicationTotals() const {
        return m_applicationTotals;
    }

private:
    // One counting tick since the service's last answer.
    struct Tick {
        std::uint64_t number = 0;
        std::uint32_t at = 0;   // the clock's tick count
        std::uint64_t hour = 0; // the hour records' number of the hour it went to
        std::string network;    // the id of the network it was on; empty: none known
        double receivedKb = 0;  // whole kilobytes, as the link's totals move
        double sentKb = 0;
        bool waiting = false; // not in the hour yet: waits for the service's word
    };

    // One call to the service: the answer to the question out, if it came, and with
    // `ask` the next question.
    void Poll(const LinkNow& link, bool ask, std::uint32_t now);
    // Takes an answer in: the local network's part and the applications' shares of
    // the ticks up to the question it answers.
    void TakeAnswer(const platform::ApplicationCounters& answer, const LinkNow& link);
    // Adds the applications' deltas to the hours the covered ticks went to.
    void CountApplications(const std::vector<applications::ApplicationDelta>& deltas,
                           std::size_t covered);
    // A waiting tick into its hour, less the local part given (kB, fractional).
    void Settle(Tick& tick, double localReceivedKb, double localSentKb);
    const platform::Network& CurrentNetwork() const;

    records::HourlyRecords& m_hours;
    platform::Clock& m_clock;
    platform::ApplicationCounterSource* m_service;
    const platform::NetworkWatch* m_networks;
    applications::ApplicationTraffic m_traffic;
    bool m_internetOnly = false;

    std::deque<Tick> m_ticks;
    std::uint64_t m_nextTick = 1;
    // The last tick before the question out, and the link's totals then.
    std::uint64_t m_askedThrough = 0;
    sampling::Totals m_linkAsked;
    // The link's totals at the question last answered.
    sampling::Totals m_linkAnswered;
    std::uint32_t m_askedAt = 0;     // when the last question went out
    std::uint32_t m_attemptedAt = 0; // when the reader was last asked to ask
    bool m_asked = false;
    int m_asksUnanswered = 0;
    bool m_answering = false; // an answer came within the last few questions

    sampling::Totals m_waiting; // kB of ticks that wait
    // The local part of the ticks that waited, exact; its whole kilobytes are what
    // the amounts leave out.
    sampling::Totals m_localExact;
    sampling::Totals m_localTotals;
    std::map<std::string, ApplicationTotal, std::less<>> m_applicationTotals;
};

} // namespace quantiro::accounting
