#include "companions/CompanionLauncher.h"

#include "common/Rounding.h"
#include "shell/RegistryValues.h"

#include <array>
#include <cstdio>
#include <sstream>
#include <vector>

namespace quantiro::companions {

namespace {

// Whole kilobytes as plain decimal digits, with a minus sign when negative.
std::string Digits(double kilobytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.0f", RoundHalfEven(kilobytes));
    return text;
}

} // namespace

CompanionLauncher::CompanionLauncher(std::string programDirectory,
                                     platform::ProcessLauncher& launcher,
                                     platform::RegistrySettings& settings)
    : m_programDirectory(std::move(programDirectory))
    , m_launcher(launcher)
    , m_settings(settings) {}

platform::ProcessRecord CompanionLauncher::LaunchCompanion(const std::string& tail, bool track) {
    std::istringstream words(tail);
    std::string name;
    words >> name;
    std::vector<std::string> arguments;
    for (std::string word; words >> word;) {
        arguments.push_back(word);
    }
    return m_launcher.CreateProcess(m_programDirectory + "/" + name, arguments, track);
}

namespace {

// The record's four fields, in the order the family stores them.
std::array<std::int32_t*, 4> Fields(platform::ProcessRecord& record) {
    return {&record.hProcess, &record.hThread, &record.dwProcessId, &record.dwThreadId};
}

std::string FieldName(std::string_view prefix, std::size_t field) {
    return std::string(prefix) + std::string(values::kProcessRecordFields[field]);
}

} // namespace

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

void CompanionLauncher::MonitorStart() {
    WriteRecord(values::kMonitorRecordPrefix, LaunchCompanion("dlmon.dll", true));
}

void CompanionLauncher::MonitorStop() {
    m_launcher.Terminate(ReadRecord(values::kMonitorRecordPrefix));
}

void CompanionLauncher::StatisticsStart() {
    LaunchCompanion("ZVstat.dll 1", false);
}

void CompanionLauncher::OptionsShow() {
    LaunchCompanion("ZVopcje.dll", false);
}

void CompanionLauncher::RaportShow() {
    LaunchCompanion("zvraport.dll 1", false);
}

void CompanionLauncher::UpdaterStart() {
    LaunchCompanion("ZVupdate.dll", false);
}

void CompanionLauncher::VariantStart(std::int16_t size) {
    const char* tail = size == 1 ? "ZVmal.dll /START" : size == 2 ? "ZVpoz.dll /START" : nullptr;
    if (tail) {
        WriteRecord(values::kVariantRecordPrefix, LaunchCompanion(tail, true));
    }
}

void CompanionLauncher::CheckLimitDLL(bool Start) {
    const double received = m_state ? m_state->totalReceived : 0;
    const double sent = m_state ? m_state->totalSent : 0;
    LaunchCompanion("ZVlimiter.dll /" + Digits(received) + " /" + Digits(sent) +
                        (Start ? " /yes" : " /no"),
                    false);
}

} // namespace quantiro::companions
