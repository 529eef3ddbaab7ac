#include "collector/ServiceLog.h"

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

namespace quantiro::collector {

namespace {

using namespace std::chrono_literals;

// Lines of one kind of refusal told a minute; the rest are counted.
constexpr int kRefusalsPerMinute = 5;

constexpr std::array kErrorTexts{
    std::pair{ENOENT, "nie ma takiego pliku ani katalogu"},
    std::pair{EACCES, "brak dostępu"},
    std::pair{EPERM, "brak uprawnień"},
    std::pair{EEXIST, "plik już istnieje"},
    std::pair{ENOTDIR, "to nie jest katalog"},
    std::pair{EROFS, "system plików tylko do odczytu"},
    std::pair{ENAMETOOLONG, "za długa nazwa"},
    std::pair{EADDRINUSE, "adres jest już używany"},
    std::pair{ECONNREFUSED, "połączenie odrzucone"},
    std::pair{ENOMEM, "brak pamięci"},
    std::pair{ENOSPC, "brak miejsca"},
    std::pair{EMFILE, "za dużo otwartych plików procesu"},
    std::pair{ENFILE, "za dużo otwartych plików w systemie"},
    std::pair{EINVAL, "nieprawidłowy argument"},
    std::pair{EOPNOTSUPP, "działanie nieobsługiwane"},
    std::pair{EAGAIN, "zasób chwilowo niedostępny"},
};

constexpr std::array kRefusalNames{
    std::pair{ServiceLog::Refusal::Request, "błędne pytania"},
    std::pair{ServiceLog::Refusal::LongLine, "za długie wiersze"},
    std::pair{ServiceLog::Refusal::TooManyReaders, "odmowy przy nadmiarze czytników"},
    std::pair{ServiceLog::Refusal::SlowReader, "czytniki nieodbierające odpowiedzi"},
    std::pair{ServiceLog::Refusal::PrefixesFull, "brak miejsca na prefiksy lokalne"},
};

} // namespace

std::string ErrorText(int error) {
    const char* name = ::strerrorname_np(error);
    const std::string code = name != nullptr ? name : std::to_string(error);
    for (const auto& [known, text] : kErrorTexts) {
        if (known == error) {
            return std::string(text) + " (" + code + ")";
        }
    }
    return "błąd systemowy " + code;
}

bool StandardErrorIsJournal() {
    const char* stream = std::getenv("JOURNAL_STREAM");
    struct stat status {};
    if (stream == nullptr || ::fstat(STDERR_FILENO, &status) != 0) {
        return false;
    }
    return std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino) == stream;
}

ServiceLog::ServiceLog(std::ostream& out, bool journal)
    : m_out(out)
    , m_journal(journal) {}

void ServiceLog::Write(int priority, std::string_view text) {
    if (m_journal) {
        m_out << '<' << priority << '>' << text << std::endl;
    } else {
        m_out << "quantiro-collector: " << text << std::endl;
    }
}

void ServiceLog::Info(std::string_view text) {
    Write(LOG_INFO, text);
}

void ServiceLog::Error(std::string_view text) {
    Write(LOG_ERR, text);
}

void ServiceLog::Refused(Refusal kind, std::string_view text) {
    Summarize();
    const auto [window, started] = m_windows.try_emplace(kind);
    if (started) {
        window->second.start = std::chrono::steady_clock::now();
    }
    if (window->second.told < kRefusalsPerMinute) {
        ++window->second.told;
        Write(LOG_WARNING, text);
    } else {
        ++window->second.left;
    }
}

void ServiceLog::FailedOnce(std::string_view step, int error) {
    if (m_failed.emplace(step).second) {
        Write(LOG_ERR, std::string(step) + ": " + ErrorText(error) +
                           " (usługa działa dalej; ten błąd nie będzie już zgłaszany)");
    }
}

void ServiceLog::Summarize(bool all) {
    const auto now = std::chrono::steady_clock::now();
    for (auto window = m_windows.begin(); window != m_windows.end();) {
        if (!all && now - window->second.start < 1min) {
            ++window;
            continue;
        }
        if (window->second.left > 0) {
            for (const auto& [kind, name] : kRefusalNames) {
                if (kind == window->first) {
                    Write(LOG_WARNING, "pominięto jeszcze " + std::to_string(window->second.left) +
                                           " takich wpisów w ciągu minuty: " + name);
                }
            }
        }
        window = m_windows.erase(window);
    }
}

} // namespace quantiro::collector
