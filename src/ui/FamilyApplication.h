#pragma once

namespace quantiro::ui {

// What every window of the family has in common, set once after the application
// is made:
// - Polish whatever the environment's language: Qt's own texts (buttons,
//   calendars) from Qt's Polish translations, dates and names from a Polish
//   locale. Numbers keep the environment's decimal separator, which the programs
//   look up themselves.
// - The program's icon on every window, message boxes included.
void PrepareFamilyApplication();

} // namespace quantiro::ui
