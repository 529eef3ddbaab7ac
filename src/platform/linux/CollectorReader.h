#pragma once

#include "platform/ApplicationCounters.h"
#include "platform/linux/UniqueFd.h"

#include <string>
#include <utility>

namespace quantiro::platform::linux_impl {

// The meter's line to the counting service: one connection kept open, a question
// sent and its answer read without ever blocking, so a tick never waits on the
// service. An absent service is looked for again after longer and longer gaps, up
// to 32 asks (it may start later); a service that does not answer within a few
// questions loses the connection, and one that answers is looked for soon after it
// goes.
class CollectorReader final : public ApplicationCounterSource {
public:
    // The socket named by QUANTIRO_COLLECTOR, else the service's own.
    CollectorReader();
    explicit CollectorReader(std::string socketPath);

    std::optional<ApplicationCounters> Poll(const AskedInterface& interface, bool ask) override;
    bool Waiting() const override { return m_waiting; }
    void SetLocalNetworks(const std::string& prefixes) override;
    bool TakeLocalNetworksRefused() override { return std::exchange(m_localRefused, false); }

private:
    bool Connect();
    // Reads what came; true once the answer is whole.
    bool ReadAnswer();
    bool AnswerWhole() const;
    void Drop();
    // The next look for the service after the current gap, and the gap doubled.
    void LookLater();

    std::string m_socketPath;
    UniqueFd m_fd;
    std::string m_answer;
    std::string m_askedAbout; // the interface of the question out
    bool m_waiting = false;   // a question is out
    int m_asksWaited = 0;
    int m_asksUntilLook = 0;
    int m_lookGap = 1; // asks from a failed look to the next
    std::uint64_t m_netnsCookie = 0;
    std::string m_localNetworks;
    bool m_localPending = false; // to be told with the next question
    bool m_localAsked = false;   // its one-line answer comes before the counters
    bool m_localRefused = false; // the service had no room for them
};

} // namespace quantiro::platform::linux_impl
