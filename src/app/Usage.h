#pragma once

#include <ostream>
#include <span>
#include <string>
#include <string_view>

// What each program's --help prints and what its manual page says, from one table
// per program, so that the two never tell different stories.
namespace quantiro::app {

struct OptionText {
    std::string_view name;
    std::string_view argument;
    std::string_view description;
};

// A file or an environment variable, and what it is to the program.
struct NamedText {
    std::string_view name;
    std::string_view description;
};

struct ProgramUsage {
    std::string_view program;  // the command: "quantiro-options"
    std::string_view synopsis; // what follows it: "[OPCJA]..."
    std::string_view summary;  // a few words for the page's name line
    std::string_view description;
    std::span<const OptionText> options;
    // The manual page's section: 1, a user's command; 8, the system's service.
    int section = 1;
    std::span<const NamedText> files;
    std::span<const NamedText> environment;
    std::string_view exitStatus;
};

const ProgramUsage& MeterUsage();
const ProgramUsage& OptionsUsage();
const ProgramUsage& ReportsUsage();
const ProgramUsage& MonitorUsage();
const ProgramUsage& CollectorUsage();
// The program named, or nullptr.
const ProgramUsage* UsageOf(std::string_view program);

// At most 80 columns: an option too long for its column gets its text below it.
std::string HelpText(const ProgramUsage& usage);
// "quantiro-options 0.2.0\n".
std::string VersionText(const ProgramUsage& usage);

// The manual page PROGRAM(SECTION), in roff.
void WriteManualPage(std::ostream& out, const ProgramUsage& usage, std::string_view version);

} // namespace quantiro::app
