#pragma once

#include <functional>
#include <optional>

namespace quantiro::shell {

enum class CloseReason {
    UserEnded,      // "Zakończ" answered yes, the terminal's q or Ctrl+C, SIGINT
    OtherVariant,   // the settings chose another window variant of the family
    SystemShutdown, // SIGTERM, SIGHUP, the session ending
    BrokenPipe,     // whoever read the terminal's output went away
};

// The close a stop signal asks for: SIGINT is the user's own end, a confirmed
// "Zakończ"; SIGTERM and SIGHUP end the session's programs, a system shutdown.
CloseReason CloseReasonOfStopSignal(int signal);

// The one owner of the meter's end. Every close request comes here; the first one
// wins and later ones are ignored. The close itself (stop the tick, the exit steps,
// end the event loop) runs exactly once and never inside a handler: a request made
// during a tick, a menu command or an open dialog waits until that handler returns,
// and an open dialog is closed so that it returns at once.
class CloseController {
public:
    CloseController(std::function<void(CloseReason)> close, std::function<void()> closeOpenDialog);

    void Request(CloseReason reason);
    // A close was requested (it may still wait for a handler).
    bool Requested() const { return m_reason.has_value(); }
    // The close has run to its end.
    bool Finished() const { return m_finished; }

    // Marks a handler as running for as long as it lives.
    class Handler {
    public:
        explicit Handler(CloseController& owner);
        ~Handler();
        Handler(const Handler&) = delete;
        Handler& operator=(const Handler&) = delete;

    private:
        CloseController& m_owner;
    };

private:
    void Run();

    std::function<void(CloseReason)> m_close;
    std::function<void()> m_closeOpenDialog;
    std::optional<CloseReason> m_reason;
    int m_runningHandlers = 0;
    bool m_running = false;
    bool m_finished = false;
};

} // namespace quantiro::shell
