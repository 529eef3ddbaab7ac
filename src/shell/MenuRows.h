#pragma once

#include <array>
#include <string_view>

namespace quantiro::shell {

// One row of the popup menu; items are told apart by their 1-based position,
// separators included.
struct MenuRow {
    bool separator;
    std::string_view key;
    std::string_view caption;
    int icon; // 1-based picture number; -1 for none
};

inline constexpr int kOptionsPosition = 1;
inline constexpr int kOnTopPosition = 3;
inline constexpr int kReportsPosition = 5;
inline constexpr int kHidePosition = 7;
inline constexpr int kEndPosition = 8;
inline constexpr int kAboutPosition = 10;

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

} // namespace quantiro::shell
