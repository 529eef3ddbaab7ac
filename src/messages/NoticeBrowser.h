#pragma once

#include <string>

namespace quantiro::messages {

// Where a notice's page is opened: the browser window, or a line on the terminal.
class NoticeBrowser {
public:
    virtual ~NoticeBrowser() = default;
    virtual void UserMessageShow(const std::string& mURL) = 0;
};

} // namespace quantiro::messages
