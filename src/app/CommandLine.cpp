#include "app/CommandLine.h"

#include "app/Usage.h"
#include "common/CompanionCommands.h"
#include "common/Console.h"
#include "common/FamilyPaths.h"
#include "platform/Autostart.h"

namespace quantiro::app {

namespace {

// "--name", or "--name=value" with its value in the same argument.
bool IsOption(const std::string& argument, const std::string& option) {
    return argument == option || argument.starts_with(option + "=");
}

Invocation Refused(std::string why) {
    Invocation refused;
    refused.action = Invocation::Action::Refuse;
    refused.refusal = std::move(why);
    return refused;
}

} // namespace

Invocation ParseArguments(const std::vector<std::string>& arguments) {
    Invocation invocation;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        // An option's value follows it, or comes after "=" in the same argument.
        auto value = [&](const std::string& option) -> std::optional<std::string> {
            if (argument.starts_with(option + "=")) {
                return argument.substr(option.size() + 1);
            }
            if (argument == option && i + 1 < arguments.size()) {
                return arguments[++i];
            }
            return std::nullopt;
        };
        if (argument == companion_commands::kStartSwitch) {
            invocation.startSwitch = argument;
        } else if (argument == "--help" || argument == "-h") {
            invocation.action = Invocation::Action::ShowHelp;
        } else if (argument == "--version") {
            invocation.action = Invocation::Action::ShowVersion;
        } else if (argument == "--terminal") {
            invocation.terminal = true;
        } else if (IsOption(argument, "--interface")) {
            invocation.interfaceName = value("--interface");
            if (!invocation.interfaceName || invocation.interfaceName->empty()) {
                return Refused("opcja --interface wymaga nazwy interfejsu");
            }
        } else if (IsOption(argument, "--variant")) {
            const std::optional<std::string> name = value("--variant");
            for (const shapes::WindowShape* shape : shapes::kShapes) {
                if (name == shape->optionName) {
                    invocation.shape = shape;
                }
            }
            if (!invocation.shape) {
                return Refused("opcja --variant przyjmuje full, small albo horizontal");
            }
        } else if (IsOption(argument, "--autostart")) {
            const std::optional<std::string> state = value("--autostart");
            if (state != "on" && state != "off") {
                return Refused("opcja --autostart przyjmuje on albo off");
            }
            invocation.action = Invocation::Action::SetAutostart;
            invocation.autostartOn = state == "on";
        } else {
            return Refused("nieznana opcja: " + argument);
        }
    }
    return invocation;
}

std::optional<int> RunWithoutMeter(const Invocation& invocation) {
    switch (invocation.action) {
    case Invocation::Action::RunMeter:
        return std::nullopt;
    case Invocation::Action::ShowHelp:
        Write(stdout, HelpText(MeterUsage()));
        return 0;
    case Invocation::Action::ShowVersion:
        Write(stdout, VersionText(MeterUsage()));
        return 0;
    case Invocation::Action::Refuse:
        Write(stderr, "quantiro: " + invocation.refusal + "\n\n" + HelpText(MeterUsage()));
        return 2;
    case Invocation::Action::SetAutostart:
        try {
            platform::autostart::Set(paths::ConfigHome(), invocation.autostartOn);
        } catch (const paths::PathError& error) {
            Write(stderr, "quantiro: " + std::string(error.what()) + '\n');
            return 1;
        }
        Write(stdout, invocation.autostartOn ? "Miernik będzie uruchamiany razem z sesją.\n"
                                             : "Miernik nie będzie uruchamiany razem z sesją.\n");
        return 0;
    }
    return 2;
}

} // namespace quantiro::app
