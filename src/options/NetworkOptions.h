#pragma once

#include "limits/NetworkPlans.h"
#include "options/OptionsCommandLine.h"
#include "platform/NetworkRecords.h"
#include "platform/Settings.h"

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// The networks the meter has seen and their plans, as the options program's page
// "Sieci" and its command line show and change them. The networks come from the
// records (read-only but for a merge); the plans live in the settings file.
namespace quantiro::options {

// "5GB", "5,5 GB", "500MB" or "500" (MB) as whole megabytes, 1 GB being 1024 MB;
// or why the text is no limit.
std::variant<std::int32_t, std::string> ParseLimit(std::string_view text);

// What a network's plan says in the list: its plan, "taryfowana, bez planu" for a
// metered network left on the shared plan (so the user knows to set one), else
// "plan wspólny".
std::string PlanSummary(const platform::Network& network,
                        const std::optional<limits::NetworkPlan>& plan, std::string_view separator);
// The kind in the user's words: "Wi-Fi", "Ethernet", "sieć komórkowa".
std::string KindText(platform::NetworkKind kind);

// The networks to list: every one seen but those forgotten since.
std::vector<platform::StoredNetwork> ListedNetworks(platform::NetworkRecords& records,
                                                    platform::SettingsStore& settings);
// The network a user named by its id or its name; a refusal when none or several are.
std::variant<platform::StoredNetwork, Refusal>
NamedNetwork(const std::vector<platform::StoredNetwork>& networks, std::string_view named);

// Merges `merged` into `kept`: the records move, and kept takes merged's plan when
// it has none of its own.
void MergeNetworks(platform::NetworkRecords& records, platform::SettingsStore& settings,
                   const platform::StoredNetwork& kept, const platform::StoredNetwork& merged);

// A network command of the command line:
//   --networks
//   --network ID --plan LIMIT [--from-day DZIEŃ] [--direction 0|1|2]
//   --network ID --package LIMIT --start RRRR-MM-DD --days N [--direction 0|1|2]
//   --network ID --unlimited | --no-plan
//   --forget ID
//   --merge ID ID
struct NetworkCommand {
    enum class Action { List, SetPlan, RemovePlan, Forget, Merge };
    Action action = Action::List;
    std::string network; // as the user named it: an id or a name
    std::string other;   // the second of a merge
    limits::NetworkPlan plan;
};
bool IsNetworkCommand(const std::vector<std::string>& arguments);
// The command, or why it cannot be, judged without the settings or the records.
std::variant<NetworkCommand, Refusal>
ParseNetworkCommand(const std::vector<std::string>& arguments);

// Runs a parsed command; the exit status as RunCommandLine's.
int RunNetworkCommand(const NetworkCommand& command, platform::SettingsStore& settings,
                      platform::NetworkRecords& records, std::ostream& out, std::ostream& errors);

} // namespace quantiro::options
