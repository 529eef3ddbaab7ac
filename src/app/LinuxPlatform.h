#pragma once

#include "companions/CompanionLauncher.h"
#include "messages/UpdateChecker.h"
#include "platform/linux/CurlDownloader.h"
#include "platform/linux/FlockInstanceLock.h"
#include "platform/linux/IniRegistrySettings.h"
#include "platform/linux/NetlinkInterfaceTable.h"
#include "platform/linux/ProgramDirectory.h"
#include "platform/linux/SpawnProcessLauncher.h"
#include "platform/linux/SqliteDatabase.h"
#include "platform/linux/SystemClock.h"

#include <memory>
#include <string>

namespace quantiro::app {

// Everything both front-ends take from Linux and from the family, built once.
struct LinuxPlatform {
    static std::unique_ptr<platform::Database> OpenDatabase(const std::string& path) {
        return platform::linux_impl::OpenTrafficDatabase(path);
    }

    std::string programDirectory = platform::linux_impl::ProgramDirectory();
    platform::linux_impl::IniRegistrySettings settings;
    platform::linux_impl::SystemClock clock;
    platform::linux_impl::NetlinkInterfaceTable table;
    platform::linux_impl::FlockInstanceLock instanceLock;
    platform::linux_impl::SpawnProcessLauncher launcher;
    platform::linux_impl::CurlDownloader downloader;
    companions::CompanionLauncher companions{programDirectory, launcher, settings};
    messages::UpdateChecker updateChecker{companions};
};

} // namespace quantiro::app
