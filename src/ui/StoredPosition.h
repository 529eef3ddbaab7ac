#pragma once

#include "common/WindowShapes.h"
#include "platform/Settings.h"

#include <cstdint>

namespace quantiro::ui {

struct StoredPosition {
    std::int32_t leftTwips;
    std::int32_t topTwips;
};

// The window's stored position; a value that does not fit 16 bits (written by some
// other program of the family) reads as its default, so the window stays reachable.
StoredPosition ReadStoredPosition(platform::SettingsStore& settings,
                                  const shapes::WindowShape& shape);

} // namespace quantiro::ui
