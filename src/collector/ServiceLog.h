#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <string_view>

namespace quantiro::collector {

// A system error in Polish, with its symbolic name for searching: "brak dostępu (EACCES)".
std::string ErrorText(int error);

// Whether standard error is the journal's stream (systemd names it in JOURNAL_STREAM).
bool StandardErrorIsJournal();

// The service's lines for the administrator, on standard error, which systemd hands to
// the journal; there each line carries its priority. Refusals of readers are told a
// few a minute per kind and then counted, so a reader's storm cannot flood the journal.
class ServiceLog {
public:
    enum class Refusal { Request, LongLine, TooManyReaders, SlowReader, PrefixesFull };

    // `journal`: `out` is the journal's stream, which reads "<N>" as a line's priority.
    ServiceLog(std::ostream& out, bool journal);

    void Info(std::string_view text);
    void Error(std::string_view text);
    void Refused(Refusal kind, std::string_view text);
    // A failure the service goes on after: told the first time `step` fails only.
    void FailedOnce(std::string_view step, int error);
    // Tells how many refusals were left out in each minute that is over; with `all`,
    // in the minutes still running too (at the end).
    void Summarize(bool all = false);

private:
    struct Window {
        std::chrono::steady_clock::time_point start;
        int told = 0;
        std::size_t left = 0; // refusals not told
    };
    void Write(int priority, std::string_view text);

    std::ostream& m_out;
    bool m_journal;
    std::map<Refusal, Window> m_windows;
    std::set<std::string, std::less<>> m_failed;
};

} // namespace quantiro::collector
