#pragma once

#include "messages/NoticeBrowser.h"
#include "platform/Dialogs.h"
#include "platform/Notifier.h"
#include "platform/Tray.h"
#include "platform/Windows.h"
#include "sampling/DetailsList.h"
#include "sampling/RateScale.h"
#include "sampling/TickCollaborators.h"
#include "shell/MeterWindow.h"

#include <string>

namespace quantiro::app {

// What the window shows, kept as text: bars against the same scale maxima, the
// three amounts, the error marker and the monitored interface.
class TerminalDisplay final : public sampling::RateDisplay {
public:
    explicit TerminalDisplay(std::string decimalSeparator)
        : m_decimalSeparator(std::move(decimalSeparator)) {}

    void RefreshDetails(const ifstats::CInterface& current,
                        const ifstats::CInterface& lastSeen) override {
        m_details.Refresh(current, lastSeen);
    }
    void ShowErrorMarker(bool visible) override { m_errorMarker = visible; }
    void ShowRates(double download, double upload) override;
    void ShowAmounts(double received, double sent, double month) override;
    void SetScale(const sampling::RateScale& scale) { m_scale = scale; }

    // The screen: several lines for a terminal, one line for a pipe.
    std::string Screen() const;
    std::string Line() const;

private:
    // "Odeb.: ... Wysł.: ..." with `gap` between the two.
    std::string Amounts(std::string_view gap) const;

    std::string m_decimalSeparator;
    sampling::DetailsList m_details;
    sampling::RateScale m_scale;
    bool m_hasSample = false;
    bool m_errorMarker = false;
    double m_downloadBar = 0, m_uploadBar = 0;
    double m_receivedKb = 0, m_sentKb = 0, m_monthKb = 0;
};

// The window the terminal does not have: it keeps the scale, remembers the stored
// position to write it back unchanged, and turns a close from code into a request
// the loop carries out.
class TerminalWindow final : public shell::MeterWindow, public platform::WindowPlacement {
public:
    TerminalWindow(TerminalDisplay& display, platform::RegistrySettings& settings)
        : m_display(display)
        , m_settings(settings) {}

    void ApplyScale(const sampling::RateScale& scale) override { m_display.SetScale(scale); }
    void FillInterfacePicker(const std::vector<std::string>&) override {}
    void SetPosition() override;
    void SetFormSize() override {}
    void MoveFormToTray() override {}
    void CreateMenu() override {}
    void SetFormOnTop() override {}
    void SetFormNotOnTop() override {}
    void HideWindow() override {}
    void EnableTimer(bool enabled) override { m_timerEnabled = enabled; }
    void CloseFromCode() override { m_closeRequested = true; }

    double LeftTwips() override { return m_left; }
    double TopTwips() override { return m_top; }

    bool TimerEnabled() const { return m_timerEnabled; }
    bool CloseRequested() const { return m_closeRequested; }

private:
    TerminalDisplay& m_display;
    platform::RegistrySettings& m_settings;
    double m_left = 0, m_top = 0;
    bool m_timerEnabled = false;
    bool m_closeRequested = false;
};

// Message boxes as lines on standard error; a question is asked on the terminal
// ("t"/"n"), where a second Ctrl+C answers yes. Without a terminal to ask on, the
// answer is yes.
class TerminalDialog final : public platform::MessageDialog,
                             public platform::AboutDialog,
                             public platform::Notifier,
                             public messages::NoticeBrowser {
public:
    TerminalDialog(int signalFd, bool interactive)
        : m_signalFd(signalFd)
        , m_interactive(interactive) {}

    int ShowMessage(int style, const std::string& text, int iconStyle, const std::string& title,
                    bool& checkBoxState, const std::string& checkBoxCaption) override;
    void ShowAbout() override;
    void ShowMessage(std::string_view text) override;
    // A notice's page cannot be shown here: its address is.
    void UserMessageShow(const std::string& mURL) override;

    // A shutdown signal that arrived while a question was open.
    int PendingSignal() const { return m_pendingSignal; }

private:
    int m_signalFd;
    bool m_interactive;
    int m_pendingSignal = 0;
};

// No notification area on a terminal.
class NoTray final : public platform::TrayIcon {
public:
    void Remove() override {}
};

} // namespace quantiro::app
