#pragma once

#include <ostream>
#include <string>
#include <string_view>

// What `quantiro --help` prints and what the manual page says, from one table, so
// that the two never tell different stories.
namespace quantiro::app {

std::string HelpText();

// The manual page quantiro(1), in roff.
void WriteManualPage(std::ostream& out, std::string_view version);

} // namespace quantiro::app
