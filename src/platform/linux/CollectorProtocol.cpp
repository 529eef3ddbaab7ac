#include "platform/linux/CollectorProtocol.h"

#include "common/DecimalText.h"
#include "common/Utf8Text.h"

#include <algorithm>
#include <cstring>

namespace quantiro::platform::linux_impl {

namespace {

constexpr std::array kKindNames{
    std::pair{OwnerKind::App, std::string_view("app")},
    std::pair{OwnerKind::Exe, std::string_view("exe")},
    std::pair{OwnerKind::Unit, std::string_view("unit")},
    std::pair{OwnerKind::Others, std::string_view("others")},
    std::pair{OwnerKind::Rest, std::string_view("rest")},
    std::pair{OwnerKind::None, std::string_view("none")},
};

// The counters of a row in the order a ROW line carries them, after its kind and
// id; one list for writing and reading, so the two ends never disagree on it.
template <typename Row> auto CounterFields(Row& row) {
    auto& in = row.counters.received;
    auto& out = row.counters.sent;
    return std::array{&in.billedBytes,    &out.billedBytes,    &in.localBytes,   &out.localBytes,
                      &in.packets,        &out.packets,        &in.segmentBytes, &out.segmentBytes,
                      &in.segmentPackets, &out.segmentPackets, &in.localPackets, &out.localPackets};
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    for (std::size_t from = 0;;) {
        const std::size_t end = text.find(separator, from);
        parts.push_back(text.substr(from, end == std::string_view::npos ? end : end - from));
        if (end == std::string_view::npos) {
            return parts;
        }
        from = end + 1;
    }
}

// Names come from cgroup paths and executable names, which may hold any byte but
// '/' and NUL, and a refused request is echoed: a control character would break the
// line apart, and a byte that is no UTF-8 a reader that takes the line as text. Each
// such character, or byte, becomes '?'.
std::string PrintableField(std::string_view text) {
    std::string field;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = Utf8Length(text.substr(at));
        const auto lead = static_cast<unsigned char>(text[at]);
        const bool control = length == 1 ? lead < 0x20 || lead == 0x7f
                                         : length == 2 && lead == 0xC2 &&
                                               static_cast<unsigned char>(text[at + 1]) < 0xA0;
        if (length == 0 || control) {
            field += '?';
        } else {
            field += text.substr(at, length);
        }
        at += std::max<std::size_t>(length, 1);
    }
    return field;
}

} // namespace

std::string_view KindName(OwnerKind kind) {
    for (const auto& [known, name] : kKindNames) {
        if (known == kind) {
            return name;
        }
    }
    return "none";
}

CollectorRequest ParseRequest(std::string_view line) {
    if (line.size() > kCollectorLineLimit) {
        return BadRequest{.reason = "za długi wiersz"};
    }
    const std::size_t space = line.find(' ');
    const std::string_view verb = line.substr(0, space);
    const std::string_view rest =
        space == std::string_view::npos ? std::string_view() : line.substr(space + 1);
    if (verb == "COUNTERS") {
        const std::vector<std::string_view> fields = Split(rest, ' ');
        if (fields.size() == 2) {
            const auto cookie = ParseWholeText<std::uint64_t>(fields[0]);
            const auto ifindex = ParseWholeText<std::uint32_t>(fields[1]);
            if (cookie && ifindex) {
                return CountersRequest{.netnsCookie = *cookie, .ifindex = *ifindex};
            }
        }
        return BadRequest{.reason = "COUNTERS wymaga ciasteczka przestrzeni nazw i numeru "
                                    "interfejsu"};
    }
    if (verb == "STATUS") {
        if (space == std::string_view::npos) {
            return StatusRequest{};
        }
        return BadRequest{.reason = "STATUS nie ma argumentów"};
    }
    if (verb == "LOCAL") {
        auto parsed = prefixes::ParseList(rest);
        if (const auto* problem = std::get_if<std::string>(&parsed)) {
            return BadRequest{.reason = PrintableField(*problem)};
        }
        return LocalRequest{.prefixes = std::get<std::vector<IpPrefix>>(std::move(parsed))};
    }
    return BadRequest{.reason = "nieznane polecenie"};
}

std::string CountersRequestLine(std::uint64_t netnsCookie, std::uint32_t ifindex) {
    return "COUNTERS " + std::to_string(netnsCookie) + " " + std::to_string(ifindex) + "\n";
}

std::string LocalRequestLine(std::string_view prefixes) {
    return "LOCAL " + PrintableField(prefixes) + "\n";
}

std::string StatusRequestLine() {
    return "STATUS\n";
}

std::string RunLine(std::string_view runId) {
    return "RUN " + PrintableField(runId) + "\n";
}

std::string RowLine(const CollectorRow& row) {
    std::string line = "ROW\t";
    line += KindName(row.owner.kind);
    line += '\t' + PrintableField(row.owner.id);
    for (const std::uint64_t* value : CounterFields(row)) {
        line += '\t' + std::to_string(*value);
    }
    return line + '\n';
}

std::string EndLine() {
    return "END\n";
}

std::string OkLine() {
    return "OK\n";
}

std::string ErrorLine(std::string_view reason) {
    return "ERR " + PrintableField(reason) + "\n";
}

std::string StatusAnswer(const CollectorStatus& status) {
    std::string answer = "STATUS\t" + PrintableField(status.version) + '\t' +
                         std::to_string(status.startedAt) + '\t' + std::to_string(status.owners) +
                         '\n';
    for (const TableFill& table : status.tables) {
        answer += "FILL\t" + PrintableField(table.name) + '\t' + std::to_string(table.used) + '\t' +
                  std::to_string(table.limit) + '\n';
    }
    return answer + EndLine();
}

std::optional<CollectorStatus> ParseStatusAnswer(std::string_view text) {
    const std::vector<std::string_view> lines = Split(text, '\n');
    if (lines.size() < 3 || !lines.back().empty() || lines[lines.size() - 2] != "END") {
        return std::nullopt;
    }
    const std::vector<std::string_view> head = Split(lines.front(), '\t');
    const auto startedAt = head.size() == 4 ? ParseWholeText<std::int64_t>(head[2]) : std::nullopt;
    const auto owners = head.size() == 4 ? ParseWholeText<std::uint64_t>(head[3]) : std::nullopt;
    if (head.front() != "STATUS" || !startedAt || !owners) {
        return std::nullopt;
    }
    CollectorStatus status{
        .version = std::string(head[1]), .startedAt = *startedAt, .owners = *owners};
    for (std::size_t index = 1; index + 2 < lines.size(); ++index) {
        const std::vector<std::string_view> fields = Split(lines[index], '\t');
        const auto used =
            fields.size() == 4 ? ParseWholeText<std::uint64_t>(fields[2]) : std::nullopt;
        const auto limit =
            fields.size() == 4 ? ParseWholeText<std::uint64_t>(fields[3]) : std::nullopt;
        if (fields.front() != "FILL" || !used || !limit) {
            return std::nullopt;
        }
        status.tables.push_back({.name = std::string(fields[1]), .used = *used, .limit = *limit});
    }
    return status;
}

std::optional<CollectorCounters> ParseCountersAnswer(std::string_view text) {
    CollectorCounters counters;
    std::vector<std::string_view> lines = Split(text, '\n');
    if (lines.size() < 3 || !lines.back().empty() || lines[lines.size() - 2] != "END" ||
        !lines.front().starts_with("RUN ")) {
        return std::nullopt;
    }
    counters.runId = lines.front().substr(4);
    for (std::size_t index = 1; index + 2 < lines.size(); ++index) {
        const std::vector<std::string_view> fields = Split(lines[index], '\t');
        CollectorRow row;
        const auto values = CounterFields(row);
        if (fields.size() != 3 + values.size() || fields[0] != "ROW") {
            return std::nullopt;
        }
        const auto kind =
            std::find_if(kKindNames.begin(), kKindNames.end(),
                         [&](const auto& known) { return known.second == fields[1]; });
        if (kind == kKindNames.end()) {
            return std::nullopt;
        }
        row.owner = {.kind = kind->first, .id = std::string(fields[2])};
        for (std::size_t field = 0; field < values.size(); ++field) {
            const auto value = ParseWholeText<std::uint64_t>(fields[3 + field]);
            if (!value) {
                return std::nullopt;
            }
            *values[field] = *value;
        }
        counters.rows.push_back(std::move(row));
    }
    return counters;
}

} // namespace quantiro::platform::linux_impl
