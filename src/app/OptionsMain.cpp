// quantiro-options: the family's settings in a window, or on a terminal.
#include "app/Display.h"
#include "app/ShowRequests.h"
#include "app/Usage.h"
#include "common/FamilyPaths.h"
#include "options/NetworkOptions.h"
#include "options/OptionsCommandLine.h"
#include "platform/linux/IniSettingsStore.h"
#include "platform/linux/NetlinkInterfaceTable.h"
#include "platform/linux/SqliteDatabase.h"
#include "ui/FamilyApplication.h"
#include "ui/OptionsWindow.h"

#include <filesystem>
#include <iostream>

namespace {

using namespace quantiro;

// The link speed the meter would scale to, in kbit/s; 0 when the kernel does not know it.
std::int64_t LinkSpeed(const std::string& interfaceName) {
    platform::linux_impl::NetlinkInterfaceTable table;
    table.PreferInterface(interfaceName);
    std::vector<platform::InterfaceRow> rows;
    if (table.Read(rows) != platform::InterfaceTable::Status::Ok || rows.empty() ||
        (!interfaceName.empty() && rows.front().name != interfaceName)) {
        return 0;
    }
    return rows.front().speed / 1000;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    if (arguments.size() == 1 && (arguments[0] == "--help" || arguments[0] == "--version")) {
        std::cout << (arguments[0] == "--help" ? app::HelpText(app::OptionsUsage())
                                               : app::VersionText(app::OptionsUsage()));
        return 0;
    }
    // A refused call stops before the settings are opened, which makes their folder.
    if (const auto refusal = options::RefusalOf(arguments)) {
        return options::Refuse(std::cerr, *refusal, app::HelpText(app::OptionsUsage()));
    }
    const paths::FamilyPaths paths = paths::FromEnvironment();
    platform::linux_impl::IniSettingsStore settings(paths::SettingsFile(paths.configHome));
    try {
        settings.Open();
    } catch (const platform::SettingsError& error) {
        std::cerr << "quantiro-options: " << error.what() << '\n';
        return 1;
    }
    if (options::IsNetworkCommand(arguments)) {
        const auto command =
            std::get<options::NetworkCommand>(options::ParseNetworkCommand(arguments));
        if (!std::filesystem::exists(paths::TrafficDatabase(paths.dataDirectory))) {
            std::cerr << "quantiro-options: miernik nie zapisał jeszcze żadnej sieci\n";
            return command.action == options::NetworkCommand::Action::List ? 0 : 2;
        }
        try {
            // Only a merge writes the records; the rest reads the networks seen.
            const auto records = platform::linux_impl::OpenNetworkRecords(
                paths::TrafficDatabase(paths.dataDirectory),
                command.action == options::NetworkCommand::Action::Merge);
            return options::RunNetworkCommand(command, settings, *records, std::cout, std::cerr);
        } catch (const platform::DatabaseError& error) {
            std::cerr << "quantiro-options: " << error.what() << '\n';
            return 1;
        }
    }
    if (!arguments.empty()) {
        return options::RunCommandLine(arguments, settings, std::cout, std::cerr,
                                       app::HelpText(app::OptionsUsage()));
    }
    if (!app::DisplayAvailable()) {
        options::PrintList(settings, std::cout);
        std::cout << "\nBez ekranu graficznego ustawienia zmienia się poleceniem\n"
                     "  quantiro-options --set NAZWA=WARTOŚĆ...\n";
        return 0;
    }

    ui::FamilyApplication application(argc, argv, {.program = "quantiro-options"});
    app::ShowRequests showRequests(paths.runtimeDirectory, "quantiro-options");
    if (showRequests.Send()) {
        return 0; // the window that is open already comes forward
    }
    const std::string database = paths::TrafficDatabase(paths.dataDirectory);
    ui::OptionsWindow window(settings, paths.configHome, LinkSpeed, [database](bool forMerging) {
        return platform::linux_impl::OpenNetworkRecords(database, forMerging);
    });
    showRequests.Listen([&] { ui::BringForward(window); });
    window.show();
    return application.Run();
}
