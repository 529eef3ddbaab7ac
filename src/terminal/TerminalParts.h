#pragma once

#include "common/WindowShapes.h"
#include "messages/NoticeBrowser.h"
#include "platform/Dialogs.h"
#include "platform/Notifier.h"
#include "platform/Settings.h"
#include "presentation/DetailsList.h"
#include "presentation/NetworkText.h"
#include "presentation/RateScale.h"
#include "sampling/TickCollaborators.h"
#include "shell/MeterWindow.h"

#include <functional>
#include <string>

namespace quantiro::terminal {

// Text from the network made safe to print on a terminal: control characters (C0,
// DEL, C1, ESC among them) and bytes that are no UTF-8 are removed, so a notice's
// address cannot move the cursor, clear the screen or retitle the terminal.
std::string Printable(std::string_view text);

// What the window shows, kept as text: bars against the same scale maxima with the
// rates as measured beside them, the three amounts, the error marker and the
// monitored interface.
class TerminalDisplay final : public sampling::RateDisplay {
public:
    explicit TerminalDisplay(std::string decimalSeparator)
        : m_decimalSeparator(std::move(decimalSeparator)) {}

    void RefreshDetails(const platform::InterfaceRow& current,
                        const platform::InterfaceRow& lastSeen) override {
        m_details.Refresh(current, lastSeen);
    }
    void ShowErrorMarker(bool visible) override { m_errorMarker = visible; }
    void ShowRates(double download, double upload) override;
    void ShowAmounts(double received, double sent, double month) override;
    void ShowWaiting() override {
        m_details.ShowWaiting();
        m_waiting = true;
    }
    void ShowNetwork(const platform::Network& network,
                     const std::optional<sampling::PlanUse>& plan) override {
        m_details.ShowNetwork(network,
                              plan ? presentation::PlanUseText(plan->usedKb, plan->limitKb,
                                                               plan->lastDay, m_decimalSeparator)
                                   : std::string());
        m_networkKnown = network.Known();
    }
    void SetScale(const presentation::RateScale& scale) { m_scale = scale; }
    // The interface's name, and its network once one is known.
    std::string LinkName() const;

    // The screen: several lines for a terminal, one line for a pipe.
    std::string Screen() const;
    std::string Line() const;

private:
    // The line while nothing can be measured.
    std::string Waiting() const;
    // "Odeb.: ... Wysł.: ..." with `gap` between the two.
    std::string Amounts(std::string_view gap) const;

    std::string m_decimalSeparator;
    presentation::DetailsList m_details;
    bool m_networkKnown = false;
    presentation::RateScale m_scale;
    bool m_hasSample = false;
    bool m_waiting = false;
    bool m_errorMarker = false;
    double m_downloadRate = 0, m_uploadRate = 0; // rate units, not cut at the scale
    double m_receivedKb = 0, m_sentKb = 0, m_monthKb = 0;
};

// The terminal's window: it prints the display on standard output (redrawn in
// place on a terminal, one line a second into a pipe) and keeps the scale.
class TerminalWindow final : public shell::MeterWindow {
public:
    TerminalWindow(TerminalDisplay& display, bool redraw)
        : m_display(display)
        , m_redraw(redraw) {}

    // Prints the display; false when standard output can no longer be written.
    bool Show();
    // Something else was printed below the screen: the next one starts afresh.
    void Forget() { m_lines = 0; }

    void ApplyScale(const presentation::RateScale& scale) override { m_display.SetScale(scale); }
    void Closing() override;

private:
    TerminalDisplay& m_display;
    bool m_redraw;
    int m_lines = 0;
};

// Message boxes as lines on standard error; a question is asked on the terminal
// ("t"/"n"), where a second Ctrl+C answers yes and SIGTERM or SIGHUP ends the meter.
class TerminalDialog final : public platform::MessageDialog,
                             public platform::AboutDialog,
                             public platform::Notifier,
                             public messages::NoticeBrowser {
public:
    explicit TerminalDialog(int signalDescriptor)
        : m_signalDescriptor(signalDescriptor) {}
    // What a SIGTERM or SIGHUP during a question does (the meter, made after this).
    void OnShutdownSignal(std::function<void()> handler) {
        m_onShutdownSignal = std::move(handler);
    }

    void Inform(const std::string& title, const std::string& text) override;
    bool AskYesNo(const std::string& title, const std::string& text) override;
    // The notice alone: a terminal has no check box, and it is never ticked.
    bool InformWithOptOut(const std::string& title, const std::string& text,
                          const std::string&) override;
    // A question returns by itself when a signal ends the meter.
    void CloseOpenDialog() override {}
    void ShowAbout() override;
    void ShowMessage(std::string_view text) override;
    // A notice's page cannot be shown here: its address is.
    void ShowNoticePage(const std::string& address) override;

private:
    int m_signalDescriptor;
    std::function<void()> m_onShutdownSignal;
};

} // namespace quantiro::terminal
