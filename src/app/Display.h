#pragma once

#include <cstdlib>

// Whether the programs of the family can open a window: the environment names an
// X11 or a Wayland display.
namespace quantiro::app {

inline bool EnvironmentSet(const char* variable) {
    const char* value = std::getenv(variable);
    return value && *value;
}

inline bool DisplayAvailable() {
    return EnvironmentSet("DISPLAY") || EnvironmentSet("WAYLAND_DISPLAY");
}

} // namespace quantiro::app
