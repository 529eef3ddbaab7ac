#pragma once

#include <string>

namespace quantiro::platform {

// Messages the user answers: each waits until it is closed. Texts may hold line
// breaks, which are kept.
class MessageDialog {
public:
    virtual ~MessageDialog() = default;
    virtual void Inform(const std::string& title, const std::string& text) = 0;
    // True for Yes. A question closed from outside answers No.
    virtual bool AskYesNo(const std::string& title, const std::string& text) = 0;
    // A notice with a check box that starts unticked: true when it was ticked.
    virtual bool InformWithOptOut(const std::string& title, const std::string& text,
                                  const std::string& optOutCaption) = 0;
    // Closes a dialog that is open (the program is being ended from outside).
    virtual void CloseOpenDialog() = 0;
};

class AboutDialog {
public:
    virtual ~AboutDialog() = default;
    virtual void ShowAbout() = 0;
};

} // namespace quantiro::platform
