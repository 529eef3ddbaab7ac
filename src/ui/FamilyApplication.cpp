#include "ui/FamilyApplication.h"

#include "shell/Texts.h"
#include "ui/Icons.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QSessionManager>
#include <QTranslator>
#include <QWidget>

namespace quantiro::ui {

namespace {

void PrepareFamilyApplication() {
    const QLocale polish(QLocale::Polish, QLocale::Poland);
    QLocale::setDefault(polish);
    // The application owns the translator; without the translations (a build
    // without the package) the buttons stay in English and nothing else changes.
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (translator->load(polish, QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(translator);
    }
    QApplication::setWindowIcon(MeterIcon());
}

} // namespace

FamilyApplication::FamilyApplication(int& argc, char** argv, const Names& names)
    : m_application(std::make_unique<QApplication>(argc, argv)) {
    PrepareFamilyApplication();
    QApplication::setApplicationName(QString::fromUtf8(names.program));
    if (names.desktopEntry) {
        QGuiApplication::setDesktopFileName(QString::fromUtf8(names.desktopEntry));
    }
}

FamilyApplication::~FamilyApplication() = default;

void FamilyApplication::KeepRunningWithoutWindows() {
    QApplication::setQuitOnLastWindowClosed(false);
}

void FamilyApplication::OnSessionEnd(std::function<void()> end) {
    QObject::connect(m_application.get(), &QGuiApplication::commitDataRequest, m_application.get(),
                     [end = std::move(end)](QSessionManager&) { end(); });
}

int FamilyApplication::Run() {
    return QApplication::exec();
}

void BringForward(QWidget& window) {
    window.showNormal();
    window.raise();
    window.activateWindow();
}

void ShowStartFailure(const char* reason) {
    QMessageBox::critical(nullptr, QString::fromUtf8(shell::texts::kApplicationTitle.data()),
                          QString::fromUtf8(reason));
}

void ShowWarningBox(int& argc, char** argv, bool critical, const QString& summary,
                    const QString& body) {
    const FamilyApplication application(argc, argv,
                                        {.program = "quantiro-notify", .desktopEntry = nullptr});
    QMessageBox box(critical ? QMessageBox::Critical : QMessageBox::Warning,
                    QStringLiteral("Quantiro"), summary + QStringLiteral("\n\n") + body);
    box.exec();
}

} // namespace quantiro::ui
