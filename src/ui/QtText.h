#pragma once

#include <QString>
#include <string_view>

namespace quantiro::ui {

// The core's UTF-8 text as Qt's.
inline QString FromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace quantiro::ui
