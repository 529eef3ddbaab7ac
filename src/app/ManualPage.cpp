// Writes the manual page quantiro(1) to standard output; run by the build.
#include "app/Usage.h"

#include <iostream>

int main() {
    quantiro::app::WriteManualPage(std::cout, QUANTIRO_VERSION);
    return std::cout ? 0 : 1;
}
