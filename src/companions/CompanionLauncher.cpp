#include "companions/CompanionLauncher.h"

#include "common/CompanionCommands.h"
#include "common/Rounding.h"
#include "common/WindowShapes.h"

#include <array>
#include <cstdio>
#include <sstream>
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

// The record's four fields, in the order the family stores them.
std::array<std::int32_t*, 4> Fields(platform::ProcessRecord& record) {
    return {&record.processHandle, &record.threadHandle, &record.processId, &record.threadId};
}

std::string FieldName(std::string_view prefix, std::size_t field) {
    return std::string(prefix) + std::string(values::kProcessRecordFields[field]);
}

} // namespace

CompanionLauncher::CompanionLauncher(std::string programDirectory,
                                     platform::ProcessLauncher& launcher,
                                     platform::RegistrySettings& settings,
                                     const sampling::SamplingState& state)
    : m_programDirectory(std::move(programDirectory))
    , m_launcher(launcher)
    , m_settings(settings)
    , m_state(state) {}

platform::ProcessRecord CompanionLauncher::Launch(std::string_view command, bool track) {
    std::istringstream words{std::string(command)};
    std::string name;
    words >> name;
    std::vector<std::string> arguments;
    for (std::string word; words >> word;) {
        arguments.push_back(word);
    }
    return m_launcher.CreateProcess(m_programDirectory + "/" + name, arguments, track);
}

void CompanionLauncher::WriteRecord(std::string_view prefix, platform::ProcessRecord record) {
    const auto fields = Fields(record);
    for (std::size_t i = 0; i < fields.size(); ++i) {
        m_settings.WriteLong(FieldName(prefix, i), *fields[i]);
    }
}

platform::ProcessRecord CompanionLauncher::ReadRecord(std::string_view prefix) {
    platform::ProcessRecord record;
    const auto fields = Fields(record);
    for (std::size_t i = 0; i < fields.size(); ++i) {
        *fields[i] = m_settings.ReadLong(FieldName(prefix, i), 0);
    }
    return record;
}

void CompanionLauncher::StartMonitor() {
    WriteRecord(values::kMonitorRecordPrefix, Launch(commands::kMonitor, true));
}

void CompanionLauncher::StopMonitor() {
    m_launcher.Terminate(ReadRecord(values::kMonitorRecordPrefix));
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

void CompanionLauncher::StartWindowVariant(std::int16_t variant) {
    if (const shapes::WindowShape* shape = shapes::ShapeOfVariant(variant)) {
        WriteRecord(
            values::kVariantRecordPrefix,
            Launch(std::string(shape->fileName) + " " + std::string(commands::kStartSwitch), true));
    }
}

void CompanionLauncher::StartLimitWatcher(bool atStartUp) {
    Launch(std::string(commands::kLimitWatcher) + " /" + Digits(m_state.totalReceived) + " /" +
               Digits(m_state.totalSent) + (atStartUp ? " /yes" : " /no"),
           false);
}

} // namespace quantiro::companions
