#pragma once

#include "platform/Dialogs.h"
#include "platform/Notifier.h"

class QMessageBox;

namespace quantiro::ui {

// The family's message dialog, about box and plain notices as Qt message boxes.
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
    QMessageBox* m_open = nullptr;
};

} // namespace quantiro::ui
