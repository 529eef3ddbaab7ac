#pragma once

#include <string>

// Starting the meter with the user's session: an XDG autostart entry in the
// config home. The entry starts the meter without "/START", so a meter that is
// already running is found and not started twice.
namespace quantiro::platform::autostart {

std::string EntryPath(const std::string& configHome);
bool IsOn(const std::string& configHome);

// Writes or removes the entry. Throws paths::PathError naming the file when it
// cannot be written or removed.
void Set(const std::string& configHome, bool on);

} // namespace quantiro::platform::autostart
