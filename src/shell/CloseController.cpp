#include "shell/CloseController.h"

#include <csignal>

namespace quantiro::shell {

CloseReason CloseReasonOfStopSignal(int signal) {
    return signal == SIGINT ? CloseReason::UserEnded : CloseReason::SystemShutdown;
}

CloseController::CloseController(std::function<void(CloseReason)> close,
                                 std::function<void()> closeOpenDialog)
    : m_close(std::move(close))
    , m_closeOpenDialog(std::move(closeOpenDialog)) {}

void CloseController::Request(CloseReason reason) {
    if (m_reason) {
        return;
    }
    m_reason = reason;
    if (m_runningHandlers > 0) {
        // Carried out when the last running handler returns; a dialog it waits on
        // must not keep the close (a system shutdown above all) waiting for the user.
        m_closeOpenDialog();
        return;
    }
    Run();
}

void CloseController::Run() {
    if (m_running || m_finished) {
        return;
    }
    m_running = true;
    m_close(*m_reason);
    m_finished = true;
}

CloseController::Handler::Handler(CloseController& owner)
    : m_owner(owner) {
    ++m_owner.m_runningHandlers;
}

CloseController::Handler::~Handler() {
    if (--m_owner.m_runningHandlers == 0 && m_owner.m_reason) {
        m_owner.Run();
    }
}

} // namespace quantiro::shell
