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
    int ShowMessage(int style, const std::string& text, int iconStyle, const std::string& title,
                    bool& checkBoxState, const std::string& checkBoxCaption) override;
    void CloseOpenDialog() override;
    void ShowAbout() override;
    void ShowMessage(std::string_view text) override;

private:
    QDialog* m_open = nullptr;
};

} // namespace quantiro::ui
