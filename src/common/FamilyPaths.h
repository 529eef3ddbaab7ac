#pragma once

#include <cstddef>
#include <limits>
#include <stdexcept>
#include <string>
#include <string_view>

// Where the programs of the family find their files. Only the program directory
// holds what ships; everything a program writes lives in the user's XDG
// directories, so an installed family runs from a read-only /usr.
namespace quantiro::paths {

struct FamilyPaths {
    // The running executable's directory, links resolved: the family's programs
    // and the default parameter file.
    std::string programDirectory;
    // $XDG_CONFIG_HOME: the settings file and the autostart entry.
    std::string configHome;
    // $XDG_DATA_HOME/Kestrova/Quantiro: the traffic database.
    std::string dataDirectory;
    // $XDG_CACHE_HOME/Kestrova/Quantiro: the downloaded notice list and pages.
    std::string cacheDirectory;
    // $XDG_STATE_HOME/Kestrova/Quantiro: what a program remembers that is no setting.
    std::string stateDirectory;
    // $XDG_RUNTIME_DIR, else the config home: the instance lock and socket.
    std::string runtimeDirectory;
};

// The directories as the environment gives them; an unset, empty or relative XDG
// variable means its default under the home directory. Nothing is created.
FamilyPaths FromEnvironment();

// The family's settings file below a config home: <config home>/Kestrova/Quantiro.conf.
inline std::string SettingsFile(std::string_view configHome) {
    return std::string(configHome) + "/Kestrova/Quantiro.conf";
}

std::string ProgramDirectory();
std::string ConfigHome();

class PathError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Creates `directory` with its missing parents, each new one private (0700).
// Throws PathError, naming the directory, when it cannot be had, or when it lies
// in the fallback home (/tmp/quantiro-UID, for a user without a home) and a folder
// on the way is not the user's alone.
void MakePrivateDirectory(const std::string& directory);

// The whole text of the file at `path`, or its first `maxBytes`; empty when it
// cannot be read.
std::string ReadFileWhole(const std::string& path,
                          std::size_t maxBytes = std::numeric_limits<std::size_t>::max());

// Writes `text` to `path` under another name first and renames it into place, so
// that a reader never sees half a file. Throws PathError, naming the file.
void WriteFileWhole(const std::string& path, std::string_view text);

} // namespace quantiro::paths
