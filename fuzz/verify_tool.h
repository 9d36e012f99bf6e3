// `vamubase verify` as the tool runs it, for the harnesses that check what
// it says against what the reads and queries return.
#pragma once

#include <string>

namespace fuzz {

// Runs `vamubase verify -q [--index] path` through the tool's own command
// table, its output silenced; true when it finds the base healthy.
bool VerifySaysHealthy(const std::string& path, bool index = false);

}  // namespace fuzz
