#pragma once

#include <string>

namespace quantiro::app {

// The meter with its window, tray icon and menu. Returns the process's exit status.
int RunWindowFrontEnd(int& argc, char** argv, const std::string& commandLine);

} // namespace quantiro::app
