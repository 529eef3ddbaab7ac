#pragma once

#include "common/WindowShapes.h"
#include "platform/Settings.h"
#include "shell/MeterWindow.h"

namespace quantiro::ui {

// The window's stored position in pixels; the family stores twips. A value that
// does not fit 16 bits (written by some other program of the family) reads as its
// default, so the window stays reachable.
shell::PixelPosition ReadStoredPosition(platform::SettingsStore& settings,
                                        const shapes::WindowShape& shape);

} // namespace quantiro::ui
