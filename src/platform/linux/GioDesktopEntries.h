#pragma once

#include "platform/DesktopEntries.h"
#include "platform/linux/SystemdUnits.h"

#include <map>

namespace quantiro::platform::linux_impl {

// Desktop entries found the way the desktop finds them (XDG_DATA_HOME and
// XDG_DATA_DIRS, through GIO), named in Polish where the entry has a Polish name.
// With `units`, a system unit shows with what systemd says it is beside its name.
class GioDesktopEntries final : public DesktopEntries {
public:
    explicit GioDesktopEntries(SystemdUnits* units = nullptr)
        : m_units(units) {}
    const ApplicationLook& Look(std::string_view application) override;

private:
    SystemdUnits* m_units;
    std::map<std::string, ApplicationLook, std::less<>> m_looks;
};

} // namespace quantiro::platform::linux_impl
