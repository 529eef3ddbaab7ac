#include "app/TerminalFrontEnd.h"
#include "app/WindowFrontEnd.h"

#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    // The whole argument text, as the family compares it with "/START".
    std::string commandLine;
    for (int i = 1; i < argc; ++i) {
        commandLine += (i > 1 ? " " : "") + std::string(argv[i]);
    }
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const bool display = (x11 && *x11) || (wayland && *wayland);
    if (!display) {
        return quantiro::app::RunTerminalFrontEnd(commandLine);
    }
    return quantiro::app::RunWindowFrontEnd(argc, argv, commandLine);
}
