// libFuzzer target: any "quantiro.par" reads as three records or as nothing.
#include "sampling/ParameterFile.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view in(reinterpret_cast<const char*>(data), size);
    (void)quantiro::sampling::ReadParameterRecords(in);
    return 0;
}
