#pragma once

#include "platform/Settings.h"

#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace quantiro::options {

// quantiro-options on a terminal: --list, --get NAME..., --set NAME=VALUE... (also
// repeated: --set A=1 --set B=2). `usage` is printed without arguments and after
// a call it does not know. Returns the exit status: 0 done, 1 the settings could
// not be written, 2 the arguments or a value were refused (and nothing was written).
int RunCommandLine(const std::vector<std::string>& arguments, platform::SettingsStore& settings,
                   std::ostream& out, std::ostream& errors, std::string_view usage);

// Why a call cannot be run. A bad name or value is told in one line with what it
// may be; only a call the program does not know gets the usage after it.
struct Refusal {
    std::string reason;
    bool unknownCall = false;
};

// Why `arguments` cannot be run, judged without the settings, so that a refused
// call writes nothing at all; nullopt when they can.
std::optional<Refusal> RefusalOf(const std::vector<std::string>& arguments);

// Tells the refusal on `errors`, with `usage` after an unknown call; returns 2.
int Refuse(std::ostream& errors, const Refusal& refusal, std::string_view usage);

// Every setting: name, current value, default and meaning, one a line.
void PrintList(platform::SettingsStore& settings, std::ostream& out);

} // namespace quantiro::options
