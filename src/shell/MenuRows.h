#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace quantiro::shell {

// What a row of the popup menu does.
enum class MenuCommand { Options, OnTop, Reports, Hide, End, About };

// One row of the popup menu: a command, or a separator (no command).
struct MenuRow {
    std::optional<MenuCommand> command;
    std::string_view key; // the row's object name
    std::string_view caption;
    int icon = -1; // 1-based picture number; -1 for none
};

inline constexpr std::array<MenuRow, 10> kMenuRows{{
    {.command = MenuCommand::Options, .key = "mnuParam", .caption = "Parametry", .icon = 1},
    {},
    {.command = MenuCommand::OnTop, .key = "OnTop", .caption = "Zawsze na wierzchu", .icon = 2},
    {},
    {.command = MenuCommand::Reports, .key = "mnuRaport", .caption = "Raporty", .icon = 6},
    {},
    {.command = MenuCommand::Hide, .key = "mnuHide", .caption = "Ukryj", .icon = 3},
    {.command = MenuCommand::End, .key = "mnuEnd", .caption = "Zakończ", .icon = 4},
    {},
    {.command = MenuCommand::About, .key = "mnuAbout", .caption = "O programie", .icon = 5},
}};

} // namespace quantiro::shell
