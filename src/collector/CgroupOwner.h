#pragma once

#include "platform/linux/CollectorProtocol.h"

#include <string_view>

namespace quantiro::collector {

using platform::linux_impl::TrafficOwner;

// Who a socket's traffic belongs to, from its cgroup's path (relative to the cgroup2
// mount; empty when unknown) and the name of the executable that opened it:
//   .../docker-<64 hex>.scope, .../libpod-<64 hex>.scope     unit, "docker <12 hex>",
//                                                            "podman <12 hex>"
//   /machine.slice/machine-<name>.scope                      unit, "nspawn <name>"
//   /machine.slice/systemd-nspawn@<name>.service
//   .../app.slice/app-[<launcher>-]<desktop id>-<random>.scope   app, the desktop id
//   .../app.slice/app-[<launcher>-]<desktop id>[@<random>].service (or -<random>)
//   .../app.slice/dbus-<unique name>-<bus name>@<n>.service  app, the bus name
//   .../snap.<snap>.<app>-<uuid>.scope                       app, "<snap>_<app>"
//   /system.slice/.../<unit>                                 unit, the innermost unit
//   anything else                                            exe, the executable's name
// and none when the executable is not known either. A container is the owner of
// whatever runs inside it.
TrafficOwner OwnerOf(std::string_view cgroupPath, std::string_view executable);

// The same from the cgroup's own name alone, its parents unknown (a scope removed
// before its path was looked up): a container's, an application's or a snap's unit
// is told by its name; anything else is the executable's.
TrafficOwner OwnerOfUnit(std::string_view unit, std::string_view executable);

} // namespace quantiro::collector
