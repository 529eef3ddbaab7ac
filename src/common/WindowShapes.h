#pragma once

#include "common/SettingsValues.h"

#include <cstdint>
#include <string_view>

// The meter's three window shapes. "Size" chooses one; the family starts each by a
// name of its own, and each keeps its own position.
namespace quantiro::shapes {

struct WindowShape {
    // The value of "Size" that chooses it.
    std::int16_t variant;
    // The file name the family starts it by, in the program directory.
    std::string_view fileName;
    // What --variant calls it.
    std::string_view optionName;
    // Where it stood, in twips.
    values::LongValue left;
    values::LongValue top;
};

// The family stores window positions in twips, 15 to a pixel.
inline constexpr int kTwipsPerPixel = 15;

inline constexpr WindowShape kFull{0, "quantiro", "full", values::kWindowLeft, values::kWindowTop};
inline constexpr WindowShape kSmall{1, "ZVmal.dll", "small", {"LeftP_mal", 100}, {"TopP_mal", 0}};
inline constexpr WindowShape kHorizontal{
    2, "ZVpoz.dll", "horizontal", {"LeftP_poz", 100}, {"TopP_poz", 0}};

inline constexpr const WindowShape* kShapes[] = {&kFull, &kSmall, &kHorizontal};

// The shape "Size" chooses, or nothing for a value no shape has.
inline const WindowShape* ShapeOfVariant(std::int32_t variant) {
    for (const WindowShape* shape : kShapes) {
        if (shape->variant == variant) {
            return shape;
        }
    }
    return nullptr;
}

// The shape of a program started under `fileName` (the full window for any other).
inline const WindowShape& ShapeNamed(std::string_view fileName) {
    for (const WindowShape* shape : kShapes) {
        if (shape->fileName == fileName) {
            return *shape;
        }
    }
    return kFull;
}

} // namespace quantiro::shapes
