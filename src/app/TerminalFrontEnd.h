#pragma once

#include "common/WindowShapes.h"

#include <string>

namespace quantiro::app {

// The meter without a display: the same start-up, tick, records and exit path,
// shown as text. On a terminal it redraws in place once a second and reads the
// keys (q asks to end); otherwise it prints one line a second. Returns the
// process's exit status.
int RunTerminalFrontEnd(const std::string& commandLine, const shapes::WindowShape& shape);

} // namespace quantiro::app
