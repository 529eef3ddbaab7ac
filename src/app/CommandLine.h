#pragma once

#include "common/WindowShapes.h"

#include <optional>
#include <string>
#include <vector>

namespace quantiro::app {

// What the arguments ask for. Anything not understood is refused, so a mistyped
// option never starts a second meter.
struct Invocation {
    enum class Action { RunMeter, ShowHelp, ShowVersion, SetAutostart, Refuse };
    Action action = Action::RunMeter;
    // The command line text the meter compares with the family's "/START".
    std::string startSwitch;
    bool terminal = false;
    std::optional<std::string> interfaceName;
    bool autostartOn = false;
    // --variant: the window shape, instead of the one the program's name gives.
    const shapes::WindowShape* shape = nullptr;
    // Why the arguments were refused, in the user's words.
    std::string refusal;
};

Invocation ParseArguments(const std::vector<std::string>& arguments);

// Runs what the arguments ask for other than the meter itself: help, version,
// autostart and refusals. Returns the exit status, or nothing when the meter is to run.
std::optional<int> RunWithoutMeter(const Invocation& invocation);

} // namespace quantiro::app
