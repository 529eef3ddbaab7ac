#pragma once

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

// The family's other files, each named here once, below the directory that holds it:
// the traffic database (data), the parameter file that ships beside the programs
// (program), what the limit watcher and the reports remember between runs and the
// lock that lets one reports summary run at a time (state).
inline std::string TrafficDatabase(std::string_view dataDirectory) {
    return std::string(dataDirectory).append("/qub.db");
}
inline std::string ParameterFile(std::string_view programDirectory) {
    return std::string(programDirectory).append("/quantiro.par");
}
inline std::string LimitsState(std::string_view stateDirectory) {
    return std::string(stateDirectory).append("/limits.state");
}
inline std::string ReportsState(std::string_view stateDirectory) {
    return std::string(stateDirectory).append("/reports.state");
}
inline std::string ReportsLock(std::string_view stateDirectory) {
    return std::string(stateDirectory).append("/reports.lock");
}

// The open hour's figures per network, which the meter replaces at most once a
// second so the limit watcher sees a plan's use within seconds (runtime directory).
inline std::string NetworkHourFile(std::string_view runtimeDirectory) {
    return std::string(runtimeDirectory).append("/quantiro-networks.now");
}

// Where a user without a home of their own keeps the family's files: a folder in
// /tmp named after the user, which must be the user's alone, as anyone can make a
// folder there first.
std::string FallbackHome();

std::string ProgramDirectory();
std::string ConfigHome();

class PathError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace quantiro::paths
