// The simulator's configuration as command-line options, shared by
// halvex-sim and any host program that starts a simulator of its own.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "receiver.h"

// CLI11 is a large header: only the files that parse a command line include it.
namespace CLI {
class App;
}

namespace halvexsim {

// Adds the options to app; they fill config when app parses.
void AddOptions(CLI::App &app, Config &config);

// "modern": a receiver of variable-length waypoints, linked routes and
// headed tracks; "classic" leaves config as it is.
void ApplyPreset(Config &config, const std::string &name);

// "P000,L001,A100,D103": tag letter and number per entry; "none" for no array.
std::optional<std::vector<ProtocolEntry>> ParseProtocols(const std::string &text);

} // namespace halvexsim
