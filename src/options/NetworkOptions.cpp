#include "options/NetworkOptions.h"

#include "common/DecimalText.h"
#include "common/SettingsValues.h"
#include "presentation/NetworkText.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <iomanip>

namespace quantiro::options {

namespace {

constexpr double kLargestLimitMb = 2'147'483'647;
constexpr std::int32_t kLongestPackage = 3660;

std::string Lower(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

// A whole number from `minimum` to `maximum`, or why `text` is none.
std::variant<std::int32_t, std::string> Whole(std::string_view text, std::int32_t minimum,
                                              std::int32_t maximum) {
    const auto number = ParseWholeText<std::int64_t>(text);
    if (!number || *number < minimum || *number > maximum) {
        return "oczekiwano liczby całkowitej od " + std::to_string(minimum) + " do " +
               std::to_string(maximum);
    }
    return static_cast<std::int32_t>(*number);
}

std::string Named(const platform::StoredNetwork& stored) {
    return stored.network.name.empty() ? stored.network.id : stored.network.name;
}

} // namespace

std::variant<std::int32_t, std::string> ParseLimit(std::string_view text) {
    std::string number = Lower(text);
    std::erase(number, ' ');
    double unitMb = 1;
    if (number.ends_with("gb")) {
        unitMb = 1024;
        number.resize(number.size() - 2);
    } else if (number.ends_with("mb")) {
        number.resize(number.size() - 2);
    }
    std::replace(number.begin(), number.end(), ',', '.');
    const auto value = ParseWholeText<double>(number);
    if (!value || !std::isfinite(*value)) {
        return "oczekiwano limitu, np. 5GB albo 500MB";
    }
    if (*value < 0) {
        return "limit nie może być ujemny";
    }
    const double megabytes = std::round(*value * unitMb);
    if (megabytes < 1) {
        return "limit musi wynosić co najmniej 1 MB (sieć bez limitu: --unlimited)";
    }
    if (megabytes > kLargestLimitMb) {
        return "limit może wynosić najwyżej 2 147 483 647 MB";
    }
    return static_cast<std::int32_t>(megabytes);
}

std::string KindText(platform::NetworkKind kind) {
    const std::string_view name = presentation::KindName(kind);
    return name.empty() ? "nieznany rodzaj" : std::string(name);
}

std::string PlanSummary(const platform::Network& network,
                        const std::optional<limits::NetworkPlan>& plan,
                        std::string_view separator) {
    if (plan) {
        return limits::PlanText(*plan, separator);
    }
    return network.metered ? "taryfowana, bez planu" : "plan wspólny";
}

std::vector<platform::StoredNetwork> ListedNetworks(platform::NetworkRecords& records,
                                                    platform::SettingsStore& settings) {
    std::vector<platform::StoredNetwork> networks = records.ReadNetworks();
    std::erase_if(networks, [&](const platform::StoredNetwork& stored) {
        return limits::Forgotten(settings, stored.network.id, stored.last);
    });
    return networks;
}

std::variant<platform::StoredNetwork, Refusal>
NamedNetwork(const std::vector<platform::StoredNetwork>& networks, std::string_view named) {
    for (const platform::StoredNetwork& stored : networks) {
        if (stored.network.id == named || stored.network.otherId == named) {
            return stored;
        }
    }
    const auto byName = [&](const platform::StoredNetwork& stored) {
        return stored.network.name == named;
    };
    const auto count = std::count_if(networks.begin(), networks.end(), byName);
    if (count == 1) {
        return *std::find_if(networks.begin(), networks.end(), byName);
    }
    if (count > 1) {
        return Refusal{.reason =
                           "kilka sieci nazywa się „" + std::string(named) +
                           "”; podaj identyfikator (wypisuje je quantiro-options --networks)"};
    }
    return Refusal{.reason = "nieznana sieć: " + std::string(named) +
                             " (wszystkie wypisuje quantiro-options --networks)"};
}

void MergeNetworks(platform::NetworkRecords& records, platform::SettingsStore& settings,
                   const platform::StoredNetwork& kept, const platform::StoredNetwork& merged) {
    records.MergeNetworks(kept.network.id, merged.network.id);
    const auto mergedPlan = limits::ReadNetworkPlan(settings, merged.network.id);
    if (mergedPlan && !limits::ReadNetworkPlan(settings, kept.network.id)) {
        limits::NetworkPlan plan = *mergedPlan;
        plan.network = kept.network.id;
        limits::WriteNetworkPlan(settings, plan);
    }
    settings.RemoveGroup(limits::PlanGroup(merged.network.id));
}

bool IsNetworkCommand(const std::vector<std::string>& arguments) {
    return !arguments.empty() && (arguments[0] == "--networks" || arguments[0] == "--network" ||
                                  arguments[0] == "--forget" || arguments[0] == "--merge");
}

std::variant<NetworkCommand, Refusal>
ParseNetworkCommand(const std::vector<std::string>& arguments) {
    NetworkCommand command;
    const std::string& first = arguments.at(0);
    const auto wrongCall = [&] {
        return Refusal{.reason = "niepoprawne wywołanie " + first, .unknownCall = true};
    };
    if (first == "--networks") {
        return arguments.size() == 1 ? std::variant<NetworkCommand, Refusal>(command) : wrongCall();
    }
    if (first == "--forget" || first == "--merge") {
        if (arguments.size() != (first == "--forget" ? 2u : 3u)) {
            return wrongCall();
        }
        command.action =
            first == "--forget" ? NetworkCommand::Action::Forget : NetworkCommand::Action::Merge;
        command.network = arguments[1];
        command.other = first == "--merge" ? arguments[2] : "";
        if (command.network == command.other) {
            return Refusal{.reason = "--merge: podaj dwie różne sieci"};
        }
        return command;
    }
    if (arguments.size() < 3) {
        return wrongCall();
    }
    command.network = arguments[1];
    command.plan.network = arguments[1];
    // Each option's value, checked as it comes; the plan's kind is the one option
    // that names it, and the others must fit it.
    std::optional<std::string> kindOption;
    bool startGiven = false, dayGiven = false;
    for (std::size_t i = 2; i < arguments.size(); ++i) {
        const std::string& option = arguments[i];
        if (option == "--unlimited" || option == "--no-plan") {
            if (kindOption) {
                return wrongCall();
            }
            kindOption = option;
            command.action = option == "--unlimited" ? NetworkCommand::Action::SetPlan
                                                     : NetworkCommand::Action::RemovePlan;
            command.plan.kind = limits::PlanKind::Unlimited;
            continue;
        }
        if (i + 1 >= arguments.size()) {
            return Refusal{.reason = option + ": brak wartości", .unknownCall = true};
        }
        const std::string& value = arguments[++i];
        const auto refused = [&](const std::string& problem) {
            std::string reason = option;
            reason.append(": niepoprawna wartość „").append(value).append("”: ");
            return Refusal{.reason = reason.append(problem).append(".")};
        };
        if (option == "--plan" || option == "--package") {
            if (kindOption) {
                return wrongCall();
            }
            kindOption = option;
            command.action = NetworkCommand::Action::SetPlan;
            command.plan.kind =
                option == "--plan" ? limits::PlanKind::Monthly : limits::PlanKind::Package;
            const auto limit = ParseLimit(value);
            if (const auto* problem = std::get_if<std::string>(&limit)) {
                return refused(*problem);
            }
            command.plan.limitMb = std::get<std::int32_t>(limit);
        } else if (option == "--from-day" || option == "--days" || option == "--direction") {
            const auto number = option == "--from-day" ? Whole(value, 1, 31)
                                : option == "--days"   ? Whole(value, 1, kLongestPackage)
                                                       : Whole(value, 0, 2);
            if (const auto* problem = std::get_if<std::string>(&number)) {
                return refused(*problem);
            }
            const std::int32_t whole = std::get<std::int32_t>(number);
            if (option == "--from-day") {
                command.plan.billingDay = whole;
                dayGiven = true;
            } else if (option == "--days") {
                command.plan.days = whole;
            } else {
                command.plan.direction = limits::DirectionOfStored(whole);
            }
        } else if (option == "--start") {
            const auto start = ParseIsoDate(value);
            if (!start) {
                return refused("oczekiwano daty RRRR-MM-DD, która istnieje");
            }
            command.plan.start = *start;
            startGiven = true;
        } else {
            return wrongCall();
        }
    }
    const bool package = kindOption == "--package";
    if (!kindOption || (kindOption != "--plan" && !package && arguments.size() != 3) ||
        (dayGiven && package)) {
        return wrongCall();
    }
    if (package != startGiven) {
        return Refusal{.reason = package ? "--package: podaj też --start RRRR-MM-DD"
                                         : "--start należy do pakietu (--package)"};
    }
    return command;
}

int RunNetworkCommand(const NetworkCommand& command, platform::SettingsStore& settings,
                      platform::NetworkRecords& records, std::ostream& out, std::ostream& errors) {
    try {
        const std::vector<platform::StoredNetwork> networks = ListedNetworks(records, settings);
        if (command.action == NetworkCommand::Action::List) {
            const std::string separator = EnvironmentDecimalSeparator();
            for (const platform::StoredNetwork& stored : networks) {
                const platform::Network& network = stored.network;
                out << network.id << '\t' << Named(stored) << '\t' << KindText(network.kind) << '\t'
                    << (network.metered ? "taryfowana" : "nietaryfowana") << '\t'
                    << PlanSummary(network, limits::ReadNetworkPlan(settings, network.id),
                                   separator)
                    << '\n';
            }
            return 0;
        }
        const auto named = NamedNetwork(networks, command.network);
        if (const auto* refusal = std::get_if<Refusal>(&named)) {
            return Refuse(errors, *refusal, "");
        }
        const platform::StoredNetwork& network = std::get<platform::StoredNetwork>(named);
        switch (command.action) {
        case NetworkCommand::Action::SetPlan: {
            limits::NetworkPlan plan = command.plan;
            plan.network = network.network.id;
            limits::WriteNetworkPlan(settings, plan);
            break;
        }
        case NetworkCommand::Action::RemovePlan:
            limits::RemoveNetworkPlan(settings, network.network.id);
            break;
        case NetworkCommand::Action::Forget:
            limits::ForgetNetwork(settings, network.network.id, network.last);
            break;
        case NetworkCommand::Action::Merge: {
            const auto other = NamedNetwork(networks, command.other);
            if (const auto* refusal = std::get_if<Refusal>(&other)) {
                return Refuse(errors, *refusal, "");
            }
            MergeNetworks(records, settings, network, std::get<platform::StoredNetwork>(other));
            break;
        }
        case NetworkCommand::Action::List:
            break;
        }
        platform::Write(settings, values::kSettingsChanged, true);
        return 0;
    } catch (const platform::SettingsError& error) {
        errors << "quantiro-options: " << error.what() << '\n';
    } catch (const platform::DatabaseError& error) {
        errors << "quantiro-options: " << error.what() << '\n';
    }
    return 1;
}

} // namespace quantiro::options
