#pragma once

#include "platform/Registry.h"

#include <cstdint>
#include <string>
#include <string_view>

// Every named value the meter reads or writes under the family's settings key, with
// its type and the default its reader uses. Where two readers use different defaults
// there is one entry per reader, so no default is ever written twice in the code.
namespace quantiro::values {

inline constexpr std::string_view kKeyPath = "SOFTWARE\\Kestrova\\Quantiro";

struct BoolValue {
    std::string_view name;
    bool defaultValue;
};

struct LongValue {
    std::string_view name;
    std::int32_t defaultValue;
};

// Running flag: written at start-up and exit, read only by the rest of the family.
inline constexpr BoolValue kIsRunning{"IsRunning", false};
inline constexpr BoolValue kWarningsEnabled{"OstrzezeniaEnabled", false};
inline constexpr BoolValue kWarningsSuppressed{"OstrzezeniaNiePokazuj", false};
inline constexpr BoolValue kWasChanged{"WasChanged", false};
// Window variant of the family: 0 is this window, 1 and 2 the others.
inline constexpr LongValue kSize{"Size", 0};
inline constexpr LongValue kAutoupdate{"Autoupdate", 0};
inline constexpr BoolValue kUnloadInfo{"UnloadInfo", true};
inline constexpr BoolValue kMonitorShow{"MonitorShow", true};
inline constexpr BoolValue kHide{"Hide", false};
inline constexpr BoolValue kOnTop{"OnTop", true};
inline constexpr LongValue kOkres{"Okres", 1};
inline constexpr BoolValue kInfoFile{"InfoFile", false};
// Nominal speeds: the display scales from them with its own defaults, the limits
// use them only when they are not 0.
inline constexpr LongValue kDownloadForScale{"Download", 512};
inline constexpr LongValue kUploadForScale{"Upload", 128};
inline constexpr LongValue kDownloadForLimits{"Download", 0};
inline constexpr LongValue kUploadForLimits{"Upload", 0};
inline constexpr BoolValue kExtError{"ExtError", true};
inline constexpr LongValue kExtErrorValue{"ExtErrorValue", 130};
inline constexpr LongValue kLeftP{"LeftP", 100};
inline constexpr LongValue kTopP{"TopP", 0};
inline constexpr BoolValue kOdejmij{"Odejmij", false};
inline constexpr LongValue kOdejmijDownload{"OdejmijDownload", 0};
inline constexpr LongValue kOdejmijUpload{"OdejmijUpload", 0};
inline constexpr LongValue kOdejmijTime{"OdejmijTime", 0};

// Process records of started companions: four integers under a prefix.
inline constexpr std::string_view kMonitorRecordPrefix = "Mon_";
inline constexpr std::string_view kVariantRecordPrefix = "QU_";
inline constexpr std::string_view kProcessRecordFields[] = {"hProcess", "hThread", "dwProcessId",
                                                            "dwThreadId"};

// "mID_<n>": the notice with identifier n has been shown.
inline constexpr std::string_view kMessageShownPrefix = "mID_";
inline constexpr bool kMessageShownDefault = false;

inline bool Read(platform::RegistrySettings& settings, const BoolValue& value) {
    return settings.ReadBool(value.name, value.defaultValue);
}

inline std::int32_t Read(platform::RegistrySettings& settings, const LongValue& value) {
    return settings.ReadLong(value.name, value.defaultValue);
}

inline void Write(platform::RegistrySettings& settings, const BoolValue& value, bool data) {
    settings.WriteBool(value.name, data);
}

inline void Write(platform::RegistrySettings& settings, const LongValue& value, std::int32_t data) {
    settings.WriteLong(value.name, data);
}

} // namespace quantiro::values
