// halvex nmea watch: sentences as they come, or a table of the latest of
// each kind.
#pragma once

#include <string>
#include <vector>

#include "connection.h"

namespace halvex {

// Whether a sentence's "*hh" checksum is right: "ok", "bad" or "missing".
std::string ChecksumState(const std::string &sentence);

// Watches for seconds (0: until interrupted). With kinds, shows the latest
// sentence of each (GGA, RMC, ...) instead of every sentence.
void WatchNmea(Connection &connection, double seconds, const std::vector<std::string> &kinds);

} // namespace halvex
