#include "ui/StoredPosition.h"

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

StoredPosition ReadStoredPosition(platform::SettingsStore& settings,
                                  const shapes::WindowShape& shape) {
    return {Read16(settings, shape.left), Read16(settings, shape.top)};
}

} // namespace quantiro::ui
