#pragma once

#include "presentation/RateScale.h"

namespace quantiro::shell {

// What the meter's core asks of either front-end's window: the terminal's too.
class MeterWindow {
public:
    virtual ~MeterWindow() = default;
    // The bars' maxima and scale captions.
    virtual void ApplyScale(const presentation::RateScale& scale) = 0;
    // The close has begun: the ticks stop before the exit steps run.
    virtual void Closing() = 0;
};

// A window's place on the screen, in pixels.
struct PixelPosition {
    int left = 0;
    int top = 0;
};

// What only a window on a desktop does; a meter on a terminal has none.
class DesktopWindow {
public:
    virtual ~DesktopWindow() = default;
    // Moves the window where it stood last time.
    virtual void MoveTo(const PixelPosition& position) = 0;
    virtual void ApplyFixedSize() = 0;
    virtual void ShowTrayIcon() = 0;
    virtual void RemoveTrayIcon() = 0;
    // Builds the popup menu again, so its check marks follow the state.
    virtual void RebuildMenu() = 0;
    // The user's choice of keeping the window above the others, which the menu's
    // check mark shows; the window may stand on top for a while without it.
    virtual void SetOnTop(bool onTop) = 0;
    virtual bool OnTopChosen() const = 0;
    virtual void HideWindow() = 0;
    // Whether a hidden window comes back through an icon in the notification area;
    // without one it is minimised to the task bar instead.
    virtual bool InTray() const { return true; }
    // The event loop's timer starts ticking the meter.
    virtual void StartTimer() = 0;
    // The exit steps are done: the front-end ends its event loop.
    virtual void Closed() = 0;
    // Where the window stands, for the next start.
    virtual PixelPosition Position() const = 0;
};

} // namespace quantiro::shell
