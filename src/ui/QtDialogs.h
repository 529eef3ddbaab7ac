#pragma once

#include "platform/Dialogs.h"
#include "platform/Notifier.h"

class QDialog;

namespace quantiro::ui {

// The family's message dialog, about box and plain notices as Qt dialogs. A message
// shows its lines as written: Qt's message box wraps any line wider than a limit
// of its own, which left single words on lines of their own.
class QtDialogs final : public platform::MessageDialog,
                        public platform::AboutDialog,
                        public platform::Notifier {
public:
    void Inform(const std::string& title, const std::string& text) override;
    bool AskYesNo(const std::string& title, const std::string& text) override;
    bool InformWithOptOut(const std::string& title, const std::string& text,
                          const std::string& optOutCaption) override;
    void CloseOpenDialog() override;
    void ShowAbout() override;
    void ShowMessage(std::string_view text) override;

private:
    struct Answer {
        bool yes;      // a question's Yes, a notice's OK
        bool optedOut; // its check box ticked
    };
    // One dialog: the text's lines whole, Yes and No for a question, else OK, and a
    // check box when a caption is given.
    Answer Run(const std::string& title, const std::string& text, bool question,
               const std::string& optOutCaption);

    QDialog* m_open = nullptr;
};

} // namespace quantiro::ui
