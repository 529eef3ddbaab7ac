#include "sampling/ParameterFile.h"

#include "common/FamilyPaths.h"
#include "common/Rounding.h"
#include "platform/Files.h"

#include <charconv>
#include <limits>
#include <vector>

namespace quantiro::sampling {

namespace {

constexpr std::size_t kItems = 12;
// A parameter file is a few lines; anything longer than this is not one.
constexpr std::size_t kMaxItemLength = 4096;

bool IsSpace(int c) {
    return c == ' ' || c == '\t';
}
bool IsBlank(int c) {
    return IsSpace(c) || c == '\r' || c == '\n';
}

// The file's bytes one at a time, as a stream would give them, EOF at the end.
class Characters {
public:
    explicit Characters(std::string_view text)
        : m_text(text) {}
    int get() {
        return m_next < m_text.size() ? static_cast<unsigned char>(m_text[m_next++])
                                      : std::char_traits<char>::eof();
    }

private:
    std::string_view m_text;
    std::size_t m_next = 0;
};

// Reads the next item, or nullopt at the end of the file. Separators are commas
// and line ends; spaces around an item do not belong to it.
std::optional<std::string> NextItem(Characters& in) {
    // Blank lines and spaces before an item are skipped.
    int c = in.get();
    while (IsBlank(c)) {
        c = in.get();
    }
    if (c == std::char_traits<char>::eof()) {
        return std::nullopt;
    }
    std::string item;
    if (c == '"') {
        for (c = in.get(); c != '"' && c != std::char_traits<char>::eof(); c = in.get()) {
            if (item.size() >= kMaxItemLength) {
                return std::nullopt;
            }
            item.push_back(static_cast<char>(c));
        }
        // Whatever follows the closing quote up to the separator is dropped.
        do {
            c = in.get();
        } while (c != ',' && c != '\n' && c != std::char_traits<char>::eof());
        return item;
    }
    for (; c != ',' && c != '\n' && c != std::char_traits<char>::eof(); c = in.get()) {
        if (item.size() >= kMaxItemLength) {
            return std::nullopt;
        }
        if (c != '\r') {
            item.push_back(static_cast<char>(c));
        }
    }
    while (!item.empty() && IsSpace(static_cast<unsigned char>(item.back()))) {
        item.pop_back();
    }
    return item;
}

std::optional<double> Number(const std::string& item) {
    double value = 0;
    const char* first = item.data();
    const char* last = item.data() + item.size();
    if (first != last && *first == '+') {
        ++first;
    }
    const auto [end, error] = std::from_chars(first, last, value);
    if (error != std::errc() || end != last || first == last) {
        return std::nullopt;
    }
    return value;
}

} // namespace

std::optional<std::array<ParameterRecord, 3>> ReadParameterFile(const std::string& path) {
    // A parameter file is a few lines; its first 64 kB hold any that is one.
    return ReadParameterRecords(platform::ReadFileWhole(path, 64 * 1024));
}

std::optional<std::array<ParameterRecord, 3>> ReadParameterRecords(std::string_view text) {
    Characters in(text);
    std::vector<std::string> items;
    while (items.size() < kItems) {
        auto item = NextItem(in);
        if (!item) {
            return std::nullopt; // short, or an item far too long
        }
        items.push_back(std::move(*item));
    }
    std::array<ParameterRecord, 3> records;
    for (std::size_t r = 0; r < records.size(); ++r) {
        const auto download = Number(items[4 * r + 1]);
        const auto upload = Number(items[4 * r + 2]);
        const auto kind = Number(items[4 * r + 3]);
        if (!download || !upload || !kind ||
            *kind < std::numeric_limits<std::int16_t>::min() - 0.5 ||
            *kind >= std::numeric_limits<std::int16_t>::max() + 0.5) {
            return std::nullopt;
        }
        records[r] = {items[4 * r], *download, *upload, RoundToInt16(*kind)};
    }
    return records;
}

} // namespace quantiro::sampling
