#pragma once

#include <string>
#include <string_view>

namespace quantiro::platform {

// How an application recorded in "aplikacje" shows: the name a user knows it by and
// an icon, either a theme icon's name or an image file's absolute path.
struct ApplicationLook {
    std::string name;
    std::string icon;
    bool operator==(const ApplicationLook&) const = default;
};

// The desktop's application entries, asked about an application as recorded
// (common/ApplicationNames.h). Answers are remembered for the life of the object.
class DesktopEntries {
public:
    virtual ~DesktopEntries() = default;
    virtual const ApplicationLook& Look(std::string_view application) = 0;
};

} // namespace quantiro::platform
