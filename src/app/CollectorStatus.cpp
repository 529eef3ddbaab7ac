#include "app/CollectorStatus.h"

#include "collector/ServiceLog.h"
#include "platform/linux/CollectorProtocol.h"
#include "platform/linux/UniqueFd.h"
#include "platform/linux/UnixAddress.h"

#include <array>
#include <cerrno>
#include <ctime>
#include <string_view>

#include <sys/socket.h>

namespace quantiro::app {

namespace {

using platform::linux_impl::UniqueFd;

// A service that has not answered in this time is stuck, not merely busy.
constexpr timeval kAnswerLimit{.tv_sec = 3};
// An answer is a dozen lines; more is no service of ours.
constexpr std::size_t kAnswerSize = 64 * 1024;

constexpr std::array kTableNames{
    std::pair{std::string_view("readers"), "czytniki (z tym pytaniem)"},
    std::pair{std::string_view("traffic"), "liczniki ruchu"},
    std::pair{std::string_view("traffic_overflow"), "liczniki ponad limit użytkownika lub mapy"},
    std::pair{std::string_view("local_prefixes"), "zakresy lokalne wszędzie"},
    std::pair{std::string_view("connected_prefixes"), "sieci podłączone"},
    std::pair{std::string_view("user_prefixes"), "prefiksy lokalne użytkowników"},
    std::pair{std::string_view("user_shares"), "użytkownicy z licznikami"},
};

std::string TableName(std::string_view name) {
    for (const auto& [known, polish] : kTableNames) {
        if (known == name) {
            return polish;
        }
    }
    return std::string(name);
}

// "2025-03-01 08:00:12 (2 dni 3 godz. 4 min temu)", in the local time.
std::string Since(std::int64_t startedAt) {
    const auto started = static_cast<std::time_t>(startedAt);
    std::tm local{};
    std::array<char, 32> date{};
    if (::localtime_r(&started, &local) == nullptr ||
        std::strftime(date.data(), date.size(), "%Y-%m-%d %H:%M:%S", &local) == 0) {
        return std::to_string(startedAt);
    }
    const std::int64_t minutes = std::max<std::int64_t>(std::time(nullptr) - startedAt, 0) / 60;
    std::string ago;
    if (minutes >= 24 * 60) {
        ago += std::to_string(minutes / (24 * 60)) + (minutes < 2 * 24 * 60 ? " dzień " : " dni ");
    }
    if (minutes >= 60) {
        ago += std::to_string(minutes / 60 % 24) + " godz. ";
    }
    return std::string(date.data()) + " (" + ago + std::to_string(minutes % 60) + " min temu)";
}

} // namespace

int PrintCollectorStatus(const std::string& socketPath, std::ostream& out) {
    const auto address = platform::linux_impl::UnixAddress(socketPath);
    const UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!address || !fd.Valid()) {
        out << "quantiro-collector: za długa ścieżka gniazda: " << socketPath << "\n";
        return 4;
    }
    ::setsockopt(fd.Get(), SOL_SOCKET, SO_RCVTIMEO, &kAnswerLimit, sizeof kAnswerLimit);
    ::setsockopt(fd.Get(), SOL_SOCKET, SO_SNDTIMEO, &kAnswerLimit, sizeof kAnswerLimit);
    if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&*address), sizeof *address) != 0) {
        // No socket, or one left by a service that ended: none runs. Else it may.
        if (errno != ENOENT && errno != ECONNREFUSED) {
            out << "quantiro-collector: nie można zapytać usługi na gnieździe " << socketPath
                << ": " << collector::ErrorText(errno) << "\n";
            return 4;
        }
        out << "quantiro-collector nie działa: nikt nie odpowiada na gnieździe " << socketPath
            << ".\nWłączysz ją poleceniem: sudo systemctl enable --now quantiro-collector\n";
        return 3;
    }
    const std::string request = platform::linux_impl::StatusRequestLine();
    std::string answer;
    if (::send(fd.Get(), request.data(), request.size(), MSG_NOSIGNAL) ==
        static_cast<ssize_t>(request.size())) {
        ::shutdown(fd.Get(), SHUT_WR); // the service answers and closes
        std::array<char, 4096> buffer{};
        for (ssize_t got; answer.size() < kAnswerSize &&
                          (got = ::recv(fd.Get(), buffer.data(), buffer.size(), 0)) > 0;) {
            answer.append(buffer.data(), static_cast<std::size_t>(got));
        }
    }
    const auto status = platform::linux_impl::ParseStatusAnswer(answer);
    if (!status) {
        out << "quantiro-collector: usługa na gnieździe " << socketPath
            << (answer.empty() ? " nie odpowiedziała w ciągu 3 s"
                               : " nie rozumie pytania o stan (starsza wersja?)")
            << "\n";
        return 4;
    }
    out << "quantiro-collector działa na gnieździe " << socketPath << "\n"
        << "  wersja: " << status->version << "\n"
        << "  od: " << Since(status->startedAt) << "\n"
        << "  właściciele ruchu: " << status->owners << "\n";
    for (const platform::linux_impl::TableFill& table : status->tables) {
        out << "  " << TableName(table.name) << ": " << table.used << " z " << table.limit << "\n";
    }
    return 0;
}

} // namespace quantiro::app
