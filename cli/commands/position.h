// halvex position: where the receiver is, fix by fix, from its position
// reports or from its NMEA sentences, as text or as TPV JSON lines.
#pragma once

#include <string>

#include "receiver/connection.h"
#include "halvex32.h"

namespace halvex {

struct PositionOptions {
    bool nmea = false; // from NMEA sentences at --baud, not the binary protocol
    int count = 0;     // fixes to show; 0: no limit
    double seconds = 0; // how long; 0: until Ctrl-C
    bool json = false;
};

int Position(Options options, const PositionOptions &position);

// One fix as a line of text, and as a TPV object of the device (fields the
// receiver did not give left out).
std::string FixText(const HostPosition &fix);
std::string FixJson(const HostPosition &fix, const std::string &device);

} // namespace halvex
