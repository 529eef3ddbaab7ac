#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quantiro::sampling {

// One record of the parameter file "quantiro.par": a name, the download and upload
// speeds, and a whole number the meter does not use.
struct ParameterRecord {
    std::string name;
    double download = 0;
    double upload = 0;
    std::int16_t kind = 0;
};

// Reads the three records (twelve comma- or line-separated items; text may be in
// double quotes; numbers with a point as the decimal separator, whatever the
// locale). nullopt when the file is missing, short or malformed.
std::optional<std::array<ParameterRecord, 3>> ReadParameterFile(const std::string& path);
std::optional<std::array<ParameterRecord, 3>> ReadParameterRecords(std::string_view text);

} // namespace quantiro::sampling
