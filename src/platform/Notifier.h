#pragma once

#include <string_view>

namespace quantiro::platform {

// A message the user must acknowledge (a message box with one OK button and the
// application's title; on the terminal, a line on standard error).
class Notifier {
public:
    virtual ~Notifier() = default;
    virtual void ShowMessage(std::string_view text) = 0;
};

} // namespace quantiro::platform
