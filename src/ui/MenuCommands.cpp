#include "ui/MenuCommands.h"

#include "shell/RegistryValues.h"
#include "shell/Texts.h"

namespace quantiro::ui {

MenuCommands::MenuCommands(shell::Meter& meter, platform::AboutDialog& about)
    : m_meter(meter)
    , m_about(about) {}

void MenuCommands::EndProgram() {
    bool noCheckBox = false;
    const int answer = m_meter.Parts().dialog.ShowMessage(
        platform::kStyleOk, std::string(shell::texts::kExitQuestion), platform::kIconQuestionYesNo,
        std::string(shell::texts::kExitQuestionTitle), noCheckBox, "");
    if (answer == platform::kAnswerNo) {
        return;
    }
    m_meter.Parts().window.EnableTimer(false);
    m_meter.Parts().window.CloseFromCode();
}

void MenuCommands::Dispatch(int position) {
    shell::MeterWindow& window = m_meter.Parts().window;
    sampling::SamplingState& state = m_meter.State();
    switch (position) {
    case 1:
        m_meter.Parts().companions.OptionsShow();
        break;
    case kOnTopPosition:
        if (state.OnTopFlag) {
            window.SetFormNotOnTop();
        } else {
            window.SetFormOnTop();
        }
        state.OnTopFlag = !state.OnTopFlag;
        values::Write(m_meter.Settings(), values::kOnTop, state.OnTopFlag);
        window.CreateMenu(); // the check mark follows only through a rebuild
        break;
    case 5:
        // The reports read the database: the hour so far goes in first. The
        // counters keep running.
        try {
            m_meter.Hours().WriteAccumulators();
        } catch (const platform::DatabaseError& error) {
            m_meter.Parts().notifier.ShowMessage(error.what());
        }
        m_meter.Parts().companions.RaportShow();
        break;
    case 7:
        values::Write(m_meter.Settings(), values::kHide, true);
        window.HideWindow();
        break;
    case 8:
        EndProgram();
        break;
    case 10:
        m_about.ShowAbout();
        break;
    default:
        break;
    }
}

} // namespace quantiro::ui
