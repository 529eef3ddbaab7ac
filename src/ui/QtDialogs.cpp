#include "ui/QtDialogs.h"

#include "shell/Texts.h"
#include "ui/QtText.h"

#include <QCheckBox>
#include <QLabel>
#include <QMessageBox>

namespace quantiro::ui {

namespace {

QString Text(std::string_view text) {
    QString converted = FromUtf8(text);
    converted.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return converted;
}

// A text written as lines is shown as those lines, each whole: Qt's box would wrap
// any line wider than a limit of its own, leaving single words on lines of their
// own. The box is sized again once Qt has laid it out.
class LineKeepingBox final : public QMessageBox {
protected:
    void showEvent(QShowEvent* event) override {
        QMessageBox::showEvent(event);
        auto* label = findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
        if (label && label->wordWrap() && text().contains(QLatin1Char('\n'))) {
            label->setWordWrap(false);
            setMinimumSize(0, 0);
            setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
            adjustSize();
            setFixedSize(size());
        }
    }
};

} // namespace

int QtDialogs::ShowMessage(int, const std::string& text, int iconStyle, const std::string& title,
                           bool& checkBoxState, const std::string& checkBoxCaption) {
    LineKeepingBox box;
    box.setWindowTitle(Text(title));
    box.setText(Text(text));
    const bool question = iconStyle == platform::kIconQuestionYesNo;
    box.setIcon(question ? QMessageBox::Question : QMessageBox::Information);
    box.setStandardButtons(question ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok);
    QCheckBox* checkBox = nullptr;
    if (!checkBoxCaption.empty()) {
        checkBox = new QCheckBox(Text(checkBoxCaption)); // the box owns it; it starts unticked
        box.setCheckBox(checkBox);
    }
    m_open = &box;
    const int pressed = box.exec();
    m_open = nullptr;
    checkBoxState = checkBox && checkBox->isChecked();
    if (!question) {
        return platform::kAnswerOk;
    }
    return pressed == QMessageBox::No ? platform::kAnswerNo : platform::kAnswerYes;
}

void QtDialogs::CloseOpenDialog() {
    if (m_open) {
        m_open->done(QMessageBox::No);
    }
}

void QtDialogs::ShowAbout() {
    QMessageBox::about(nullptr, QStringLiteral("O programie"),
                       QStringLiteral("Quantiro %1\nLicznik transferu internetowego.\nKestrova")
                           .arg(QStringLiteral(QUANTIRO_VERSION)));
}

void QtDialogs::ShowMessage(std::string_view text) {
    QMessageBox::information(nullptr, Text(shell::texts::kApplicationTitle), Text(text));
}

} // namespace quantiro::ui
