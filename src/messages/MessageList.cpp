#include "messages/MessageList.h"

#include <algorithm>
#include <cctype>
#include <limits>
#include <optional>

namespace quantiro::messages {

namespace {

// Longer lines than this are not records; they end the reading like any malformed one.
constexpr std::size_t kMaxLineLength = 8192;

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
        text.remove_prefix(1);
    }
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
        text.remove_suffix(1);
    }
    return text;
}

std::optional<Notice> ParseRecord(std::string_view line) {
    Notice notice;
    line = Trimmed(line);
    if (!line.empty() && line.front() == '"') {
        const auto closing = line.find('"', 1);
        if (closing == std::string_view::npos) {
            return std::nullopt;
        }
        notice.page = std::string(line.substr(1, closing - 1));
        line = Trimmed(line.substr(closing + 1));
        if (line.empty() || line.front() != ',') {
            return std::nullopt;
        }
        line.remove_prefix(1);
    } else {
        const auto comma = line.find(',');
        if (comma == std::string_view::npos) {
            return std::nullopt;
        }
        notice.page = std::string(Trimmed(line.substr(0, comma)));
        line.remove_prefix(comma + 1);
    }

    const auto comma = line.find(',');
    if (comma == std::string_view::npos) {
        return std::nullopt;
    }
    std::string_view identifier = Trimmed(line.substr(0, comma));
    if (!identifier.empty() && identifier.front() == '+') {
        identifier.remove_prefix(1);
    }
    int number = 0;
    const auto [end, error] =
        std::from_chars(identifier.data(), identifier.data() + identifier.size(), number);
    if (identifier.empty() || error != std::errc() ||
        end != identifier.data() + identifier.size() ||
        number < std::numeric_limits<std::int16_t>::min() ||
        number > std::numeric_limits<std::int16_t>::max()) {
        return std::nullopt;
    }
    notice.identifier = static_cast<std::int16_t>(number);

    std::string_view expiry = Trimmed(line.substr(comma + 1));
    if (expiry.size() >= 2 && expiry.front() == '#' && expiry.back() == '#') {
        expiry = expiry.substr(1, expiry.size() - 2);
    }
    const auto date = ParseIsoDate(expiry);
    if (!date) {
        return std::nullopt; // a bad date, or a fourth field
    }
    notice.expiry = *date;
    return notice;
}

} // namespace

std::vector<Notice> ReadMessageList(std::string_view text) {
    std::vector<Notice> notices;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        if (line.size() > kMaxLineLength) {
            return notices; // a line no record is this long
        }
        if (Trimmed(line).empty()) {
            continue;
        }
        const auto notice = ParseRecord(line);
        if (!notice) {
            return notices;
        }
        notices.push_back(*notice);
    }
    return notices;
}

bool IsWebPage(const std::string& page) {
    std::string scheme = page.substr(0, page.find(':'));
    std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return (scheme == "http" || scheme == "https") && page.size() > scheme.size() + 3 &&
           page.compare(scheme.size(), 3, "://") == 0;
}

} // namespace quantiro::messages
