#pragma once

namespace quantiro::platform {

inline constexpr double kTwipsPerPixel = 15;

// Where the meter's main window stands on the screen, in twips.
class WindowPlacement {
public:
    virtual ~WindowPlacement() = default;
    virtual double LeftTwips() = 0;
    virtual double TopTwips() = 0;
};

} // namespace quantiro::platform
