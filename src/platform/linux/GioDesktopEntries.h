#pragma once

#include "platform/DesktopEntries.h"

#include <map>

namespace quantiro::platform::linux_impl {

// Desktop entries found the way the desktop finds them (XDG_DATA_HOME and
// XDG_DATA_DIRS, through GIO), named in Polish where the entry has a Polish name.
class GioDesktopEntries final : public DesktopEntries {
public:
    const ApplicationLook& Look(std::string_view application) override;

private:
    std::map<std::string, ApplicationLook, std::less<>> m_looks;
};

} // namespace quantiro::platform::linux_impl
