#pragma once

#include "common/WindowShapes.h"

#include <string>

namespace quantiro::app {

// The meter without a display, on Linux's parts (see terminal::RunMeter).
int RunTerminalFrontEnd(const std::string& commandLine, const shapes::WindowShape& shape);

} // namespace quantiro::app
