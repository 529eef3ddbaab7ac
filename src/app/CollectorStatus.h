#pragma once

#include <ostream>
#include <string>

namespace quantiro::app {

// quantiro-collector --status: asks the service on `socketPath` with STATUS and prints
// its answer in Polish. Returns the exit status, as the LSB's and systemctl's: 0 when it
// runs, 3 when none does, 4 when that cannot be told (the socket cannot be reached, or
// what answers says nothing this program understands).
int PrintCollectorStatus(const std::string& socketPath, std::ostream& out);

} // namespace quantiro::app
