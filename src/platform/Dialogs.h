#pragma once

#include <string>

namespace quantiro::platform {

inline constexpr int kStyleOk = 1;
inline constexpr int kIconInformation = 64;
// A question with Yes and No buttons.
inline constexpr int kIconQuestionYesNo = 36;
inline constexpr int kAnswerOk = 1;
inline constexpr int kAnswerYes = 6;
inline constexpr int kAnswerNo = 7;

// The family's message dialog: a text, a title, an icon style and, when a caption
// is given, a check box (which starts unticked; its state comes back in
// `checkBoxState`). Answers kAnswerOk, or kAnswerYes / kAnswerNo for a question.
class MessageDialog {
public:
    virtual ~MessageDialog() = default;
    virtual int ShowMessage(int style, const std::string& text, int iconStyle,
                            const std::string& title, bool& checkBoxState,
                            const std::string& checkBoxCaption) = 0;
    // Closes a dialog that is open (the program is being ended from outside); its
    // ShowMessage returns as if No or OK were chosen.
    virtual void CloseOpenDialog() = 0;
};

class AboutDialog {
public:
    virtual ~AboutDialog() = default;
    virtual void ShowAbout() = 0;
};

} // namespace quantiro::platform
