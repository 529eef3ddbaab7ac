#pragma once

#include "platform/Dialogs.h"
#include "shell/Meter.h"

#include <array>
#include <string_view>

namespace quantiro::ui {

// One row of the popup menu "mnuPopup"; items are told apart by their 1-based
// position, separators included.
struct MenuRow {
    bool separator;
    std::string_view key;
    std::string_view caption;
    int icon; // 1-based picture number; -1 for none
};

inline constexpr std::string_view kMenuKey = "mnuPopup";
inline constexpr int kOnTopPosition = 3;
inline constexpr std::array<MenuRow, 10> kMenuRows{{
    {false, "mnuParam", "Parametry", 1},
    {true, "", "", -1},
    {false, "OnTop", "Zawsze na wierzchu", 2},
    {true, "", "", -1},
    {false, "mnuRaport", "Raporty", 6},
    {true, "", "", -1},
    {false, "mnuHide", "Ukryj", 3},
    {false, "mnuEnd", "Zakończ", 4},
    {true, "", "", -1},
    {false, "mnuAbout", "O programie", 5},
}};

// The commands of the popup menu, by position. The terminal front-end uses the
// same commands for its exit question.
class MenuCommands {
public:
    MenuCommands(shell::Meter& meter, platform::AboutDialog& about);

    // Runs the command at `position`; separators and anything outside 1..10 do nothing.
    void Dispatch(int position);

    // "Zakończ": asks first; unless the answer is No, stops the timer and closes.
    void EndProgram();

private:
    shell::Meter& m_meter;
    platform::AboutDialog& m_about;
};

} // namespace quantiro::ui
