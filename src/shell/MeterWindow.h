#pragma once

#include "presentation/RateScale.h"

namespace quantiro::shell {

// What the meter's core asks of its window. The window front-end carries these out
// with widgets; the terminal front-end, which has no window, keeps only the scale
// and the stored position.
class MeterWindow {
public:
    virtual ~MeterWindow() = default;
    // The bars' maxima and scale captions.
    virtual void ApplyScale(const presentation::RateScale& scale) = 0;
    virtual void RestorePosition() = 0;
    virtual void ApplyFixedSize() = 0;
    virtual void ShowTrayIcon() = 0;
    virtual void RemoveTrayIcon() = 0;
    // Builds the popup menu again, so its check marks follow the state.
    virtual void RebuildMenu() = 0;
    virtual void SetOnTop(bool onTop) = 0;
    virtual void HideWindow() = 0;
    // Whether a hidden window comes back through an icon in the notification area;
    // without one it is minimised to the task bar instead.
    virtual bool InTray() const { return true; }
    virtual void StartTimer() = 0;
    // The close has begun: the timer stops before the exit steps run.
    virtual void Closing() = 0;
    // The exit steps are done: the front-end ends its event loop.
    virtual void Closed() = 0;
    // Where the window stands, in twips, for the next start.
    virtual double LeftTwips() = 0;
    virtual double TopTwips() = 0;
};

} // namespace quantiro::shell
