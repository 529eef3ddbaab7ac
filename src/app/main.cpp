#include "app/TerminalFrontEnd.h"

#include <string>

int main(int argc, char** argv) {
    // The whole argument text, as the family compares it with "/START".
    std::string commandLine;
    for (int i = 1; i < argc; ++i) {
        commandLine += (i > 1 ? " " : "") + std::string(argv[i]);
    }
    return quantiro::app::RunTerminalFrontEnd(commandLine.c_str());
}
