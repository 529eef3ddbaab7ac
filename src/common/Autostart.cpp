#include "common/Autostart.h"

#include "common/FamilyPaths.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

#include <unistd.h>

namespace quantiro::autostart {

namespace {

constexpr const char* kEntry = "[Desktop Entry]\n"
                               "Type=Application\n"
                               "Name=Quantiro\n"
                               "Comment=Miernik ruchu sieciowego\n"
                               "Exec=quantiro\n"
                               "Icon=quantiro\n"
                               "Terminal=false\n"
                               "X-GNOME-Autostart-enabled=true\n";

[[noreturn]] void Fail(const std::string& path, int error) {
    throw paths::PathError("Nie można zapisać pliku „" + path + "”: " + std::strerror(error));
}

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
            Fail(path, errno);
        }
        return;
    }
    paths::MakePrivateDirectory(configHome + "/autostart");
    // Written whole under another name first, so a session never reads half an entry.
    const std::string partial = path + ".tmp";
    {
        std::ofstream out(partial, std::ios::trunc);
        out << kEntry;
        if (!out.flush()) {
            Fail(path, errno);
        }
    }
    if (std::rename(partial.c_str(), path.c_str()) != 0) {
        const int error = errno;
        std::remove(partial.c_str());
        Fail(path, error);
    }
}

} // namespace quantiro::autostart
