#pragma once

#include "fakes/IfTableBuilder.h"
#include "platform/InterfaceTable.h"

#include <cstring>

namespace quantiro::testing {

// An interface table whose rows and failures the test decides.
class FakeInterfaceTable final : public platform::InterfaceTable {
public:
    enum class Mode { Normal, NotSupported, FillFails, ZeroSize };

    void SetRows(const std::vector<RowSpec>& rows) { m_table = BuildTable(rows); }
    void SetMode(Mode mode) { m_mode = mode; }
    int Calls() const { return m_calls; }

    std::uint32_t GetIfTable(std::byte* buffer, std::uint32_t& size, bool) override {
        ++m_calls;
        if (m_mode == Mode::NotSupported) {
            return platform::kErrorNotSupported;
        }
        if (buffer == nullptr) {
            size = m_mode == Mode::ZeroSize ? 0 : static_cast<std::uint32_t>(m_table.size());
            return platform::kErrorInsufficientBuffer;
        }
        if (m_mode == Mode::FillFails) {
            return platform::kErrorInsufficientBuffer;
        }
        if (size < m_table.size()) {
            return platform::kErrorInsufficientBuffer;
        }
        std::memcpy(buffer, m_table.data(), m_table.size());
        return platform::kNoError;
    }

private:
    std::vector<std::byte> m_table = BuildTable({});
    Mode m_mode = Mode::Normal;
    int m_calls = 0;
};

} // namespace quantiro::testing
