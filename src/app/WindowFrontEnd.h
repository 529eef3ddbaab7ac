#pragma once

#include "common/WindowShapes.h"

#include <string>

namespace quantiro::app {

// The meter with its window, tray icon and menu. Returns the process's exit status.
int RunWindowFrontEnd(int& argc, char** argv, const std::string& commandLine,
                      const shapes::WindowShape& shape);

} // namespace quantiro::app
