#include "ui/StoredPosition.h"

#include <cstdint>
#include <limits>

namespace quantiro::ui {

namespace {

std::int32_t Read16(platform::SettingsStore& settings, const values::LongValue& value) {
    const std::int32_t stored = platform::Read(settings, value);
    const bool fits = stored >= std::numeric_limits<std::int16_t>::min() &&
                      stored <= std::numeric_limits<std::int16_t>::max();
    return fits ? stored : value.defaultValue;
}

} // namespace

shell::PixelPosition ReadStoredPosition(platform::SettingsStore& settings,
                                        const shapes::WindowShape& shape) {
    return {.left = Read16(settings, shape.left) / shapes::kTwipsPerPixel,
            .top = Read16(settings, shape.top) / shapes::kTwipsPerPixel};
}

} // namespace quantiro::ui
