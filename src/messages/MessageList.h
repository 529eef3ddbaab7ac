#pragma once

#include "common/CalendarDate.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quantiro::messages {

// One record of "messages.cfg": the notice's page, its number and the day from
// which it is no longer shown.
struct Notice {
    std::string page;
    std::int16_t identifier = 0;
    CalendarDate expiry;
};

// Reads the records in file order: one per line, three comma-separated fields, the
// page possibly in double quotes, the expiry as yyyy-mm-dd (also between #). Blank
// lines are skipped; reading stops at the first malformed record, and nothing after
// it counts. Whatever the bytes, this returns.
std::vector<Notice> ReadMessageList(std::string_view text);

// Whether a page may be opened at all: http and https only.
bool IsWebPage(const std::string& page);

} // namespace quantiro::messages
