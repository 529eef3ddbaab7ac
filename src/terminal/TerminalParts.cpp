#include "terminal/TerminalParts.h"

#include "common/Console.h"
#include "common/DecimalText.h"
#include "presentation/AmountFormat.h"
#include "shell/Texts.h"

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <string_view>

#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace quantiro::terminal {

namespace {

constexpr int kBarWidth = 30;

// Right-aligned in nine places, so the columns of a pipe's lines stay put.
std::string KilobytesPerSecond(double rateUnits, std::string_view separator) {
    std::string number = FixedDecimal(rateUnits / 1000, 2, separator);
    if (number.size() < 9) {
        number.insert(0, 9 - number.size(), ' ');
    }
    return number + " kBps";
}

// The bar stops at the scale's top; the number beside it is the rate as measured.
std::string TextBar(double rate, std::int32_t maximum) {
    const double value = presentation::BarValue(rate, maximum);
    const double share = value >= maximum ? 1.0 : std::clamp(value / maximum, 0.0, 1.0);
    const int filled = static_cast<int>(std::lround(share * kBarWidth));
    return "[" + std::string(static_cast<std::size_t>(filled), '#') +
           std::string(static_cast<std::size_t>(kBarWidth - filled), '.') + "]";
}

// Message texts use CR LF line breaks; a terminal wants LF alone.
std::string WithoutCarriageReturns(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

} // namespace

void TerminalDisplay::ShowRates(double download, double upload) {
    m_downloadRate = download;
    m_uploadRate = upload;
    m_hasSample = true;
}

void TerminalDisplay::ShowAmounts(double received, double sent, double month) {
    // Kept as numbers: ten ticks arrive for every screen, only the last is shown.
    m_waiting = false;
    m_receivedKb = received;
    m_sentKb = sent;
    m_monthKb = month;
}

std::string TerminalDisplay::Waiting() const {
    // The amounts so far stay in view: a wait ends none of them.
    std::string line = "Brak danych monitorowanego interfejsu: " +
                       std::string(presentation::DetailsList::kWaiting) + ".";
    if (m_hasSample) {
        line += "  " + Amounts("  ") + "  Transfer miesięczny: " +
                presentation::FormatMonthAmount(m_monthKb, m_decimalSeparator);
    }
    return line;
}

std::string TerminalDisplay::Amounts(std::string_view gap) const {
    return "Odeb.: " + presentation::FormatAmount(m_receivedKb, m_decimalSeparator) +
           std::string(gap) + "Wysł.: " + presentation::FormatAmount(m_sentKb, m_decimalSeparator);
}

std::string TerminalDisplay::LinkName() const {
    if (!m_networkKnown) {
        return m_details.Value(1);
    }
    return m_details.Value(1) +
           " – sieć: " + m_details.Value(presentation::DetailsList::kNetworkRow);
}

std::string TerminalDisplay::Screen() const {
    if (!m_hasSample || m_waiting) {
        return Waiting() + "\n";
    }
    std::string screen = " " + LinkName() + "\n";
    screen += " Pobieranie " + TextBar(m_downloadRate, m_scale.downloadMaximum) +
              KilobytesPerSecond(m_downloadRate, m_decimalSeparator) + "  (skala " +
              m_scale.downloadLabels.back() + ")\n";
    screen += " Wysyłanie  " + TextBar(m_uploadRate, m_scale.uploadMaximum) +
              KilobytesPerSecond(m_uploadRate, m_decimalSeparator) + "  (skala " +
              m_scale.uploadLabels.back() + ")\n";
    screen += " " + Amounts("    ") + "\n";
    screen +=
        " Transfer miesięczny: " + presentation::FormatMonthAmount(m_monthKb, m_decimalSeparator) +
        "\n";
    screen += m_errorMarker ? " [próbka odrzucona]\n" : "\n";
    return screen;
}

std::string TerminalDisplay::Line() const {
    if (!m_hasSample || m_waiting) {
        return Waiting();
    }
    std::string line = LinkName();
    line += "  pobieranie:" + KilobytesPerSecond(m_downloadRate, m_decimalSeparator);
    line += "  wysyłanie:" + KilobytesPerSecond(m_uploadRate, m_decimalSeparator);
    line += "  " + Amounts("  ") + "  Transfer miesięczny: " +
            presentation::FormatMonthAmount(m_monthKb, m_decimalSeparator);
    if (m_errorMarker) {
        line += "  [próbka odrzucona]";
    }
    // The whole kilobytes as well, for whoever adds these lines up with a program.
    return line + "  (kB odebrane: " + FixedDecimal(m_receivedKb, 0, "") +
           ", wysłane: " + FixedDecimal(m_sentKb, 0, "") + ")";
}

bool TerminalWindow::Show() {
    if (!m_redraw) {
        Write(stdout, m_display.Line() + '\n');
        return Flush(stdout);
    }
    const std::string screen = m_display.Screen() + " q - zakończ\n";
    if (m_lines > 0) {
        // back to the top of the last screen
        Write(stdout, "\x1b[" + std::to_string(m_lines) + "A\x1b[J");
    }
    Write(stdout, screen);
    m_lines = static_cast<int>(std::count(screen.begin(), screen.end(), '\n'));
    return Flush(stdout);
}

void TerminalWindow::Closing() {
    // A pipe gets the last figures once more; a broken one gets nothing at all.
    if (!m_redraw && !std::ferror(stdout)) {
        Write(stdout, m_display.Line() + '\n');
    }
    Write(stdout, "Kończenie pracy programu...\n");
    Flush(stdout);
}

void TerminalDialog::Inform(const std::string& title, const std::string& text) {
    Write(stderr, '\n' + title + ": " + WithoutCarriageReturns(text) + '\n');
}

bool TerminalDialog::InformWithOptOut(const std::string& title, const std::string& text,
                                      const std::string&) {
    Inform(title, text);
    return false;
}

bool TerminalDialog::AskYesNo(const std::string& title, const std::string& text) {
    // Questions are asked only on a terminal: without one, Ctrl+C ends the meter at
    // once and "q" cannot be typed.
    Inform(title, text);
    Write(stderr, "[t/n] ");
    pollfd watched[] = {{STDIN_FILENO, POLLIN, 0}, {m_signalDescriptor, POLLIN, 0}};
    for (;;) {
        if (::poll(watched, 2, -1) < 0) {
            continue;
        }
        if (watched[1].revents & POLLIN) {
            signalfd_siginfo info{};
            if (::read(m_signalDescriptor, &info, sizeof info) == sizeof info &&
                info.ssi_signo != SIGINT) {
                m_onShutdownSignal();
            }
            Write(stderr, "t\n");
            return true; // a second Ctrl+C means yes
        }
        char key = 0;
        if (::read(STDIN_FILENO, &key, 1) != 1) {
            return true; // the terminal went away
        }
        if (key == 't' || key == 'T' || key == 'y' || key == 'Y') {
            Write(stderr, "t\n");
            return true;
        }
        if (key == 'n' || key == 'N') {
            Write(stderr, "n\n");
            return false;
        }
    }
}

void TerminalDialog::ShowAbout() {
    Write(stderr, "Quantiro — licznik transferu. Kestrova\n");
}

void TerminalDialog::ShowMessage(std::string_view text) {
    Write(stderr, std::string(shell::texts::kApplicationTitle) + ": " + std::string(text) + '\n');
}

void TerminalDialog::ShowNoticePage(const std::string& address) {
    Write(stderr, "\n  Informacja dla użytkowników: " + Printable(address) + '\n');
}

std::string Printable(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80             ? 1
                                   : (lead & 0xE0) == 0xC0 ? 2
                                   : (lead & 0xF0) == 0xE0 ? 3
                                   : (lead & 0xF8) == 0xF0 ? 4
                                                           : 0;
        bool whole = length > 0 && i + length <= text.size();
        for (std::size_t k = 1; whole && k < length; ++k) {
            whole = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
        }
        if (!whole) {
            ++i; // a byte that starts no character
            continue;
        }
        const bool control = length == 1 ? lead < 0x20 || lead == 0x7F
                                         : length == 2 && lead == 0xC2 &&
                                               static_cast<unsigned char>(text[i + 1]) < 0xA0;
        if (!control) {
            out.append(text.substr(i, length));
        }
        i += length;
    }
    return out;
}

} // namespace quantiro::terminal
