#include "companions/CompanionLauncher.h"

#include "common/CompanionCommands.h"
#include "common/Rounding.h"
#include "common/WindowShapes.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <vector>

namespace quantiro::companions {

namespace commands = companion_commands;

namespace {

// Whole kilobytes as plain decimal digits, with a minus sign when negative.
std::string Digits(double kilobytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.0f", RoundHalfEven(kilobytes));
    return text;
}

} // namespace

CompanionLauncher::CompanionLauncher(std::string programDirectory,
                                     platform::ProcessLauncher& launcher)
    : m_programDirectory(std::move(programDirectory))
    , m_launcher(launcher) {}

platform::StartedProcess CompanionLauncher::Launch(std::string_view command, bool track) {
    // The program's name and its arguments, separated by white space.
    constexpr std::string_view kSpace = " \t\n\v\f\r";
    std::vector<std::string> words;
    for (std::size_t start = command.find_first_not_of(kSpace); start != std::string_view::npos;
         start = command.find_first_not_of(kSpace, start)) {
        const std::size_t end = std::min(command.find_first_of(kSpace, start), command.size());
        words.emplace_back(command.substr(start, end - start));
        start = end;
    }
    const std::string name = words.empty() ? std::string() : words.front();
    if (!words.empty()) {
        words.erase(words.begin());
    }
    return m_launcher.Start(m_programDirectory + "/" + name, words, track);
}

platform::StartedProcess CompanionLauncher::StartMonitor() {
    m_monitor = Launch(commands::kMonitor, true);
    return m_monitor;
}

void CompanionLauncher::StopMonitor() {
    m_launcher.Terminate(m_monitor);
}

void CompanionLauncher::StartStatistics() {
    Launch(commands::kStatistics, false);
}

void CompanionLauncher::StartOptions() {
    Launch(commands::kOptions, false);
}

void CompanionLauncher::StartReports() {
    Launch(commands::kReports, false);
}

void CompanionLauncher::StartUpdater() {
    Launch(commands::kUpdater, false);
}

platform::StartedProcess CompanionLauncher::StartWindowVariant(std::int16_t variant) {
    const shapes::WindowShape* shape = shapes::ShapeOfVariant(variant);
    if (!shape) {
        return {};
    }
    return Launch(std::string(shape->fileName) + " " + std::string(commands::kStartSwitch), true);
}

void CompanionLauncher::StartLimitWatcher(bool atStartUp, const sampling::Totals& totals) {
    Launch(std::string(commands::kLimitWatcher) + " /" + Digits(totals.received) + " /" +
               Digits(totals.sent) + (atStartUp ? " /yes" : " /no"),
           false);
}

} // namespace quantiro::companions
