// libFuzzer target: whatever a server sends as "messages.cfg" is read without harm.
#include "messages/MessageList.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view in(reinterpret_cast<const char*>(data), size);
    for (const auto& notice : quantiro::messages::ReadMessageList(in)) {
        (void)quantiro::messages::IsWebPage(notice.page);
    }
    return 0;
}
