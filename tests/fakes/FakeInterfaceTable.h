#pragma once

#include "platform/InterfaceTable.h"

namespace quantiro::testing {

// An interface table whose rows the test decides: by default one Ethernet row.
class FakeInterfaceTable final : public platform::InterfaceTable {
public:
    FakeInterfaceTable() {
        rows = {{.name = "eth0", .description = "eth0 (e1000e)", .index = 2, .type = 6}};
    }

    Status Read(std::vector<platform::InterfaceRow>& out) override {
        ++reads;
        out = status == Status::Ok ? rows : std::vector<platform::InterfaceRow>{};
        return status;
    }
    // Sets the first row's byte counters.
    void SetCounters(std::uint64_t received, std::uint64_t sent) {
        rows.front().bytesReceived = received;
        rows.front().bytesSent = sent;
    }

    std::vector<platform::InterfaceRow> rows;
    Status status = Status::Ok;
    int reads = 0;
};

} // namespace quantiro::testing
