#pragma once

#include "platform/Notifier.h"

#include <string>
#include <vector>

namespace quantiro::testing {

class RecordingNotifier final : public platform::Notifier {
public:
    void ShowMessage(std::string_view text) override { messages.emplace_back(text); }
    std::vector<std::string> messages;
};

} // namespace quantiro::testing
