#include "app/TerminalFrontEnd.h"

int main() {
    return quantiro::app::RunTerminalFrontEnd();
}
