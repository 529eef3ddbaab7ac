#pragma once

namespace quantiro::platform {

// The meter's icon in the notification area.
class TrayIcon {
public:
    virtual ~TrayIcon() = default;
    virtual void Remove() = 0;
};

} // namespace quantiro::platform
