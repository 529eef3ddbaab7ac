#pragma once

#include <QString>
#include <functional>
#include <memory>

class QApplication;
class QWidget;

namespace quantiro::ui {

// The start every Qt program of the family shares, made once in its main:
// - the application, with the names the desktop matches its windows by;
// - Polish whatever the environment's language: Qt's own texts (buttons,
//   calendars) from Qt's Polish translations, dates and names from a Polish
//   locale. Numbers keep the environment's decimal separator, which the programs
//   look up themselves;
// - the program's icon on every window, message boxes included.
class FamilyApplication {
public:
    struct Names {
        // The program's own name, the class of its windows.
        const char* program;
        // The desktop entry its windows belong to; none for a passing message.
        const char* desktopEntry = "quantiro";
    };

    FamilyApplication(int& argc, char** argv, const Names& names);
    ~FamilyApplication();
    FamilyApplication(const FamilyApplication&) = delete;
    FamilyApplication& operator=(const FamilyApplication&) = delete;

    // The meter's own: it goes on in the tray with no window open.
    void KeepRunningWithoutWindows();
    // The session manager logging the user off calls `end`.
    void OnSessionEnd(std::function<void()> end);
    // The event loop until the program ends; its exit status.
    int Run();

private:
    std::unique_ptr<QApplication> m_application;
};

// A second start asked for the program's window: it comes forward, restored.
void BringForward(QWidget& window);

// A start that failed: the reason in a message box with the program's title.
void ShowStartFailure(const char* reason);

// quantiro-notify without a notification service: the warning in a message box,
// shown until the user closes it.
void ShowWarningBox(int& argc, char** argv, bool critical, const QString& summary,
                    const QString& body);

} // namespace quantiro::ui
