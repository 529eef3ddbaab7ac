#pragma once

#include "companions/Companions.h"
#include "platform/Dialogs.h"
#include "platform/InstanceLock.h"
#include "sampling/TickCollaborators.h"

#include <string>
#include <vector>

namespace quantiro::testing {

class FakeInstanceLock final : public platform::InstanceLock {
public:
    bool AnotherInstanceRunning() override { return anotherRunning; }
    bool anotherRunning = false;
};

// Records every dialog and answers with what the test put in `answer` and `tick`.
class ScriptedDialog final : public platform::MessageDialog, public platform::AboutDialog {
public:
    struct Shown {
        std::string text, title, checkBoxCaption;
        int iconStyle;
    };
    int ShowMessage(int, const std::string& text, int iconStyle, const std::string& title,
                    bool& checkBoxState, const std::string& checkBoxCaption) override {
        shown.push_back({text, title, checkBoxCaption, iconStyle});
        checkBoxState = tick;
        return answer;
    }
    void ShowAbout() override { ++abouts; }

    std::vector<Shown> shown;
    int answer = platform::kAnswerOk;
    bool tick = false;
    int abouts = 0;
};

// Companion starts, limit checks and update checks, in the order they happen.
class RecordingCompanions final : public companions::Companions,
                                  public sampling::LimitWatcher,
                                  public sampling::UpdateCheck {
public:
    void MonitorStart() override { log.push_back("monitor"); }
    void MonitorStop() override { log.push_back("monitor stop"); }
    void StatisticsStart() override { log.push_back("statistics"); }
    void OptionsShow() override { log.push_back("options"); }
    void RaportShow() override { log.push_back("reports"); }
    void UpdaterStart() override { log.push_back("updater"); }
    void VariantStart(std::int16_t size) override {
        log.push_back("variant " + std::to_string(size));
    }
    void CheckLimitDLL(bool start) override { log.push_back(start ? "limits yes" : "limits no"); }
    void CheckForUpdate() override { log.push_back("update"); }
    std::vector<std::string> log;
};

} // namespace quantiro::testing
