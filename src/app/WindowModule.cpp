// The meter's window front-end as a module: the meter loads it only when it opens
// a window, so on a terminal it maps no Qt Gui or Widgets.
#include "app/WindowFrontEnd.h"

extern "C" __attribute__((visibility("default"))) int
QuantiroWindowFrontEnd(int* argc, char** argv, const std::string* commandLine,
                       const quantiro::shapes::WindowShape* shape) {
    return quantiro::app::RunWindowFrontEnd(*argc, argv, *commandLine, *shape);
}
