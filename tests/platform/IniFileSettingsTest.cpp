#include "platform/linux/IniFileSettings.h"

#include "fakes/TestMeter.h"

#include <gtest/gtest.h>

namespace quantiro::platform::linux_impl {
namespace {

// The limit watcher's reader against files the real settings component wrote and
// files edited by hand: every value reads as the component reads it back.
TEST(IniFileSettingsTest, ReadsWhatTheSettingsComponentWroteAsItReadsItBack) {
    testing::TestSystem system;
    const auto writer = system.OtherProgram();
    writer->WriteLong("LimitMiesieczny", 2'147'483'647);
    writer->WriteLong("LimitProg1", -5);
    writer->WriteBool("OstrzezeniaEnabled", true);
    writer->WriteBool("OstrzezeniaNiePokazuj", false);
    writer->WriteText("Interfejs", "eth 0, \"wan\"");
    writer->WriteText("Pusty", "");
    {
        std::ofstream(system.SettingsFile(), std::ios::app)
            << "Download=12abc\nUpload= 64 \nExtError=TRUE\nHide=1\nLeftP=1, 2\nTopP=\n"
               "[Inna]\nLimitKierunek=1\n";
    }
    const auto reader = system.OtherProgram(); // the real component, fresh
    IniFileSettings small(system.SettingsFile().string());
    for (const char* name : {"LimitMiesieczny", "LimitProg1", "OstrzezeniaEnabled",
                             "OstrzezeniaNiePokazuj", "Interfejs", "Pusty", "Download", "Upload",
                             "ExtError", "Hide", "LeftP", "TopP", "LimitKierunek", "Brak"}) {
        for (const std::int32_t fallback : {-1, 7}) {
            EXPECT_EQ(small.ReadLong(name, fallback), reader->ReadLong(name, fallback)) << name;
        }
        for (const bool fallback : {false, true}) {
            EXPECT_EQ(small.ReadBool(name, fallback), reader->ReadBool(name, fallback)) << name;
        }
        EXPECT_EQ(small.ReadText(name, "?"), reader->ReadText(name, "?")) << name;
    }
}

} // namespace
} // namespace quantiro::platform::linux_impl
