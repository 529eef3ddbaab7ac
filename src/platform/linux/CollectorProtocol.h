#pragma once

#include "common/NetworkPrefixes.h"
#include "platform/TrafficCounters.h"

#include <array>
#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// The counting service's protocol on its Unix socket: one request a line, answer
// lines with tab-separated fields. The service and its readers both use these, so
// the two ends never spell a line differently.
namespace quantiro::platform::linux_impl {

// The service's socket, unless QUANTIRO_COLLECTOR names another.
inline constexpr std::string_view kCollectorSocketPath = "/run/quantiro/collector.sock";
// Longer request lines are refused, so no client can make the service buffer more.
inline constexpr std::size_t kCollectorLineLimit = 4096;
// The refusal of LOCAL when the service's table of every user's prefixes is full.
inline constexpr std::string_view kPrefixTableFull =
    "brak miejsca na prefiksy lokalne w usłudze; dotychczasowe zostają";

enum class OwnerKind {
    App,    // a desktop application, by its desktop id
    Exe,    // an executable, by its name
    Unit,   // a system service by its unit name, or a container by its engine and short id
    Others, // everyone else's traffic, summed, with no name
    Rest,   // summed with no name: the reader's own new programs past its bound in the
            // service, and owners gone for good (a reader's own and the system's)
    None,   // nobody known: sockets of the kernel or of processes gone before it noted them
};

struct TrafficOwner {
    OwnerKind kind = OwnerKind::None;
    std::string id;
    auto operator<=>(const TrafficOwner&) const = default;
};

struct CollectorRow {
    TrafficOwner owner;
    TrafficCounters counters;
};

// One answer to COUNTERS: the service's run (another one means its counters started
// again from zero) and a row per owner.
struct CollectorCounters {
    std::string runId;
    std::vector<CollectorRow> rows;
};

using prefixes::IpPrefix;

struct CountersRequest {
    std::uint64_t netnsCookie = 0;
    std::uint32_t ifindex = 0;
};
struct LocalRequest {
    std::vector<IpPrefix> prefixes;
};
struct StatusRequest {};
struct BadRequest {
    std::string reason; // in Polish, for the ERR line
};
using CollectorRequest = std::variant<CountersRequest, LocalRequest, StatusRequest, BadRequest>;

// How full one of the service's bounded tables is: its readers, or a BPF map.
struct TableFill {
    std::string name; // "readers", or the map's own name
    std::uint64_t used = 0;
    std::uint64_t limit = 0;
};

// One answer to STATUS, which the service gives any user.
struct CollectorStatus {
    std::string version;
    std::int64_t startedAt = 0; // seconds since the epoch
    std::uint64_t owners = 0;   // every namespace's and user's
    std::vector<TableFill> tables;
};

// A request line, without its newline.
CollectorRequest ParseRequest(std::string_view line);

std::string CountersRequestLine(std::uint64_t netnsCookie, std::uint32_t ifindex);
// The prefixes as the user wrote them, comma-separated.
std::string LocalRequestLine(std::string_view prefixes);
std::string StatusRequestLine();

std::string RunLine(std::string_view runId);
std::string RowLine(const CollectorRow& row);
std::string EndLine();
std::string OkLine();
std::string ErrorLine(std::string_view reason);
// The whole answer to STATUS, through its END line.
std::string StatusAnswer(const CollectorStatus& status);

// Reads a whole answer to COUNTERS, through its END line; nullopt when it is not one.
std::optional<CollectorCounters> ParseCountersAnswer(std::string_view text);
// Reads a whole answer to STATUS; nullopt when it is not one.
std::optional<CollectorStatus> ParseStatusAnswer(std::string_view text);

std::string_view KindName(OwnerKind kind);

} // namespace quantiro::platform::linux_impl
