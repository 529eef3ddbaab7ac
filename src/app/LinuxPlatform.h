#pragma once

#include "common/FamilyPaths.h"
#include "platform/linux/CollectorReader.h"
#include "platform/linux/FetchHelperDownloader.h"
#include "platform/linux/FlockInstanceLock.h"
#include "platform/linux/IniSettingsStore.h"
#include "platform/linux/NetlinkInterfaceTable.h"
#include "platform/linux/SpawnProcessLauncher.h"
#include "platform/linux/SqliteDatabase.h"
#include "platform/linux/SystemClock.h"
#include "platform/linux/SystemNetworkWatch.h"
#include "shell/Meter.h"

#include <string>

namespace quantiro::app {

// Everything both front-ends take from Linux, built once.
struct LinuxPlatform {
    shell::SystemParts Parts(const shapes::WindowShape& shape = shapes::kFull) {
        return {.settings = settings,
                .clock = clock,
                .interfaceTable = table,
                .instanceLock = instanceLock,
                .launcher = launcher,
                .downloader = downloader,
                .programDirectory = paths.programDirectory,
                .dataDirectory = paths.dataDirectory,
                .cacheDirectory = paths.cacheDirectory,
                .openDatabase = platform::linux_impl::OpenTrafficDatabase,
                .openNetworkRecords =
                    [](const std::string& path) {
                        return platform::linux_impl::OpenNetworkRecords(path, false);
                    },
                .shape = &shape,
                .applicationCounters = &applicationCounters,
                .networks = &networks,
                .runtimeDirectory = paths.runtimeDirectory};
    }

    paths::FamilyPaths paths = paths::FromEnvironment();
    platform::linux_impl::IniSettingsStore settings{paths::SettingsFile(paths.configHome)};
    platform::linux_impl::SystemClock clock;
    platform::linux_impl::NetlinkInterfaceTable table;
    platform::linux_impl::FlockInstanceLock instanceLock{paths.runtimeDirectory};
    platform::linux_impl::SpawnProcessLauncher launcher;
    platform::linux_impl::FetchHelperDownloader downloader{paths.programDirectory +
                                                           "/quantiro-fetch"};
    platform::linux_impl::CollectorReader applicationCounters;
    // Read by the front-end's loop from its descriptor, so the tick never asks.
    platform::linux_impl::SystemNetworkWatch networks;
};

} // namespace quantiro::app
