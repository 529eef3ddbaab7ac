#pragma once

#include "platform/Notifier.h"
#include "sampling/TickCollaborators.h"

#include <cstdio>
#include <string>

namespace quantiro::app {

// The meter's display on a terminal: one line a second with the monitored
// interface, both rates and both totals.
class TerminalDisplay final : public sampling::RateDisplay {
public:
    explicit TerminalDisplay(std::string decimalSeparator)
        : m_decimalSeparator(std::move(decimalSeparator)) {}

    void RefreshDetails(const ifstats::CInterface& current,
                        const ifstats::CInterface& lastSeen) override;
    void ShowErrorMarker(bool visible) override { m_errorMarker = visible; }
    void ShowRates(double download, double upload) override;
    void ShowAmounts(double received, double sent, double month) override;

    // The status line as it stands now.
    std::string StatusLine() const;
    bool HasSample() const { return m_hasSample; }

private:
    std::string m_decimalSeparator;
    std::string m_interfaceName;
    bool m_hasSample = false;
    bool m_errorMarker = false;
    double m_downloadRate = 0;
    double m_uploadRate = 0;
    double m_received = 0;
    double m_sent = 0;
    double m_month = 0;
};

class StderrNotifier final : public platform::Notifier {
public:
    void ShowMessage(std::string_view text) override;
};

// Runs the sampling loop until Ctrl+C, SIGTERM or SIGHUP; returns the exit status.
int RunTerminalFrontEnd();

} // namespace quantiro::app
