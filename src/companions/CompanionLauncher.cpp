#include "companions/CompanionLauncher.h"

#include "common/Rounding.h"
#include "shell/RegistryValues.h"

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

void CompanionLauncher::WriteRecord(std::string_view prefix,
                                    const platform::ProcessRecord& record) {
    const std::int32_t fields[] = {record.hProcess, record.hThread, record.dwProcessId,
                                   record.dwThreadId};
    for (std::size_t i = 0; i < std::size(fields); ++i) {
        m_settings.WriteLong(std::string(prefix) + std::string(values::kProcessRecordFields[i]),
                             fields[i]);
    }
}

void CompanionLauncher::MonitorStart() {
    WriteRecord(values::kMonitorRecordPrefix, LaunchCompanion("dlmon.dll", true));
}

void CompanionLauncher::MonitorStop() {
    platform::ProcessRecord record;
    const std::string prefix(values::kMonitorRecordPrefix);
    record.hProcess = m_settings.ReadLong(prefix + "hProcess", 0);
    record.hThread = m_settings.ReadLong(prefix + "hThread", 0);
    record.dwProcessId = m_settings.ReadLong(prefix + "dwProcessId", 0);
    record.dwThreadId = m_settings.ReadLong(prefix + "dwThreadId", 0);
    m_launcher.Terminate(record);
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
