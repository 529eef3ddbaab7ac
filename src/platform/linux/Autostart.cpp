#include "platform/Autostart.h"

#include "common/FamilyPaths.h"
#include "platform/Files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <unistd.h>

namespace quantiro::platform::autostart {

namespace {

constexpr const char* kEntry = "[Desktop Entry]\n"
                               "Type=Application\n"
                               "Name=Quantiro\n"
                               "Comment=Miernik ruchu sieciowego\n"
                               // Skipped by the session once the package is gone.
                               "TryExec=quantiro\n"
                               "Exec=quantiro\n"
                               "Icon=quantiro\n"
                               "Terminal=false\n"
                               "X-GNOME-Autostart-enabled=true\n";

} // namespace

std::string EntryPath(const std::string& configHome) {
    return configHome + "/autostart/quantiro.desktop";
}

bool IsOn(const std::string& configHome) {
    return ::access(EntryPath(configHome).c_str(), F_OK) == 0;
}

void Set(const std::string& configHome, bool on) {
    const std::string path = EntryPath(configHome);
    if (!on) {
        if (std::remove(path.c_str()) != 0 && errno != ENOENT) {
            throw paths::PathError("Nie można zapisać pliku „" + path +
                                   "”: " + std::strerror(errno));
        }
        return;
    }
    MakePrivateDirectory(configHome + "/autostart");
    WriteFileWhole(path, kEntry); // a session never reads half an entry
}

} // namespace quantiro::platform::autostart
