#pragma once

#include <QIcon>
#include <string_view>

namespace quantiro::ui {

// The meter's own pictures, drawn rather than loaded, so nothing can go missing;
// the program's icon is built into the program from its SVG drawing. Menu pictures are numbered as
// the menu rows refer to them: 1 options, 2 on top, 3 hide, 4 end, 5 about, 6 reports.
QIcon MenuIcon(int number);
// The program's icon, for the tray and the window, and the options button's tools.
QIcon MeterIcon();
QIcon ToolsIcon();
// An application's icon as the desktop entries name it: a theme icon's name or an
// image file's absolute path; a program without one of its own has the generic one.
QIcon ApplicationIcon(std::string_view icon);

} // namespace quantiro::ui
