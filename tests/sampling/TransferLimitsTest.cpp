#include "sampling/TransferLimits.h"

#include "fakes/RecordsRig.h"
#include "shell/MeterSettings.h"

#include <fstream>
#include <optional>

#include <gtest/gtest.h>

namespace quantiro::sampling {
namespace {

constexpr const char* kShippedFile = "\"Modem\",56,33,0\n\"DSL\",512,128,1\n\"LAN\",1024,256,2\n";

TEST(TransferLimitsTest, LimitsComeFromTheSettingsOrTheParameterFile) {
    struct Case {
        const char* name;
        std::optional<std::int32_t> download, upload, tolerance;
        std::optional<bool> check;
        std::optional<std::string> file; // nullopt: no file at all
        double limitDownload, limitUpload;
        bool rateCheckEnabled;
    };
    const Case cases[] = {
        {"settings win over the file", 512, 128, 130, std::nullopt, kShippedFile, 66.56, 16.64,
         true},
        {"zero speeds send to the file", 0, std::nullopt, std::nullopt, std::nullopt, kShippedFile,
         133.12, 33.28, true},
        {"a tolerance of 100 is a tenth", 1000, 500, 100, std::nullopt, kShippedFile, 100, 50,
         true},
        {"the check switched off", 512, 128, 130, false, kShippedFile, 66.56, 16.64, false},
        {"decimals, quotes, spaces and CRLF", 0, 0, 130, std::nullopt,
         "Modem, 56 ,33,0\r\n\"DSL, fast\",512,128,1\r\n\r\n  \"LAN\" ,  1024.5 , 256 , 2\r\n",
         133.185, 33.28, true},
        {"no file, speeds set", 512, 128, 130, std::nullopt, std::nullopt, 66.56, 16.64, false},
        {"no file, no speeds", std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
         0, 0, false},
        {"a word where a number belongs", 0, 0, 130, std::nullopt,
         "\"Modem\",56,33,0\n\"DSL\",fast,128,1\n\"LAN\",1024,256,2\n", 0, 0, false},
        {"a fourth item beyond 16 bits", 0, 0, 130, std::nullopt,
         "\"Modem\",56,33,0\n\"DSL\",512,128,1\n\"LAN\",1024,256,70000\n", 0, 0, false},
    };
    for (const Case& c : cases) {
        testing::RecordsRig meter;
        const std::string path = (meter.system.dir.Path() / "quantiro.par").string();
        if (c.file) {
            std::ofstream(path, std::ios::binary) << *c.file;
        }
        if (c.download) {
            platform::Write(meter.system.settings, values::kDownloadForLimits, *c.download);
        }
        if (c.upload) {
            platform::Write(meter.system.settings, values::kUploadForLimits, *c.upload);
        }
        if (c.tolerance) {
            platform::Write(meter.system.settings, values::kRateTolerancePercent, *c.tolerance);
        }
        if (c.check) {
            platform::Write(meter.system.settings, values::kRateCheck, *c.check);
        }
        TransferLimits limits(path);
        limits.Set({.enabled = !c.rateCheckEnabled}); // each way of switching it
        limits.Update(shell::MeterSettingsFile(meter.system.settings, shapes::kFull).Read().speeds);
        EXPECT_DOUBLE_EQ(limits.Current().download, c.limitDownload) << c.name;
        EXPECT_DOUBLE_EQ(limits.Current().upload, c.limitUpload) << c.name;
        EXPECT_EQ(limits.Current().enabled, c.rateCheckEnabled) << c.name;
    }
}

} // namespace
} // namespace quantiro::sampling
