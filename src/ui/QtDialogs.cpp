#include "ui/QtDialogs.h"

#include "shell/Texts.h"
#include "ui/QtText.h"

#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>

namespace quantiro::ui {

namespace {

QString Text(std::string_view text) {
    QString converted = FromUtf8(text);
    converted.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return converted;
}

} // namespace

void QtDialogs::Inform(const std::string& title, const std::string& text) {
    Run(title, text, false, "");
}

bool QtDialogs::AskYesNo(const std::string& title, const std::string& text) {
    return Run(title, text, true, "").yes;
}

bool QtDialogs::InformWithOptOut(const std::string& title, const std::string& text,
                                 const std::string& optOutCaption) {
    return Run(title, text, false, optOutCaption).optedOut;
}

QtDialogs::Answer QtDialogs::Run(const std::string& title, const std::string& text, bool question,
                                 const std::string& optOutCaption) {
    QDialog dialog;
    dialog.setWindowTitle(Text(title));
    auto* layout = new QGridLayout(&dialog);
    layout->setSizeConstraint(QLayout::SetFixedSize); // as large as its lines, no larger
    auto* icon = new QLabel;
    const int side = dialog.style()->pixelMetric(QStyle::PM_MessageBoxIconSize);
    icon->setPixmap(dialog.style()
                        ->standardIcon(question ? QStyle::SP_MessageBoxQuestion
                                                : QStyle::SP_MessageBoxInformation)
                        .pixmap(side, side));
    layout->addWidget(icon, 0, 0, Qt::AlignTop);
    auto* message = new QLabel(Text(text));
    message->setTextFormat(Qt::PlainText);
    message->setWordWrap(false);
    layout->addWidget(message, 0, 1);
    QCheckBox* checkBox = nullptr;
    if (!optOutCaption.empty()) {
        checkBox = new QCheckBox(Text(optOutCaption)); // starts unticked
        layout->addWidget(checkBox, 1, 1);
    }
    auto* buttons = new QDialogButtonBox(question ? QDialogButtonBox::Yes | QDialogButtonBox::No
                                                  : QDialogButtonBox::Ok);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons, 2, 0, 1, 2);
    buttons->button(question ? QDialogButtonBox::Yes : QDialogButtonBox::Ok)->setDefault(true);

    m_open = &dialog;
    const int result = dialog.exec();
    m_open = nullptr;
    return {.yes = result == QDialog::Accepted, .optedOut = checkBox && checkBox->isChecked()};
}

void QtDialogs::CloseOpenDialog() {
    if (m_open) {
        m_open->reject();
    }
}

void QtDialogs::ShowAbout() {
    QMessageBox::about(nullptr, QStringLiteral("O programie"),
                       QStringLiteral("Quantiro %1\nLicznik transferu internetowego.\nKestrova")
                           .arg(QStringLiteral(QUANTIRO_VERSION)));
}

void QtDialogs::ShowMessage(std::string_view text) {
    // Shown without waiting for an answer: a notice may come from inside a tick, and
    // the counting goes on while it is on screen.
    auto* box = new QMessageBox(QMessageBox::Information, Text(shell::texts::kApplicationTitle),
                                Text(text), QMessageBox::Ok);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
}

} // namespace quantiro::ui
