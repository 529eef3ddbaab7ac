// Writes the manual page of the program named in the argument to standard output;
// run by the build.
#include "app/Usage.h"

#include <iostream>

int main(int argc, char** argv) {
    const quantiro::app::ProgramUsage* usage =
        argc == 2 ? quantiro::app::UsageOf(argv[1]) : nullptr;
    if (!usage) {
        std::cerr << "usage: quantiro_manual_page quantiro|quantiro-options|quantiro-reports|"
                     "quantiro-monitor|quantiro-collector\n";
        return 2;
    }
    quantiro::app::WriteManualPage(std::cout, *usage, QUANTIRO_VERSION);
    return std::cout ? 0 : 1;
}
