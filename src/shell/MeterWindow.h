#pragma once

#include "sampling/RateScale.h"

#include <string>
#include <vector>

namespace quantiro::shell {

// What the meter's core asks of its window. The window front-end carries these out
// with widgets; the terminal front-end, which has no window, keeps only the scale.
class MeterWindow {
public:
    virtual ~MeterWindow() = default;
    // The bars' maxima and scale captions (SetInternet's display part).
    virtual void ApplyScale(const sampling::RateScale& scale) = 0;
    // The interface picker, filled once at start-up; its first entry is selected.
    virtual void FillInterfacePicker(const std::vector<std::string>& descriptions) = 0;
    virtual void SetPosition() = 0;
    virtual void SetFormSize() = 0;
    virtual void MoveFormToTray() = 0;
    virtual void CreateMenu() = 0;
    virtual void SetFormOnTop() = 0;
    virtual void SetFormNotOnTop() = 0;
    virtual void HideWindow() = 0;
    virtual void EnableTimer(bool enabled) = 0;
    // Closes the window from code: the close goes through and the program ends.
    virtual void CloseFromCode() = 0;
};

} // namespace quantiro::shell
