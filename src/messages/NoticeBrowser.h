#pragma once

#include <string>

namespace quantiro::messages {

// Where a notice's page is opened: the browser window, or a line on the terminal.
class NoticeBrowser {
public:
    virtual ~NoticeBrowser() = default;
    virtual void ShowNoticePage(const std::string& address) = 0;
};

} // namespace quantiro::messages
