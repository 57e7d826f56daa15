// What arrived on a line at one speed, sorted: NMEA sentences, binary
// frames, plain text, or none of them.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace halvex {

// What arrived at one speed.
struct Heard {
    std::size_t bytes = 0;
    int sentences = 0;              // NMEA sentences with a good checksum
    std::vector<std::string> kinds; // their kinds (GGA, RMC, ...), in the order first heard
    int frames = 0;                 // binary frames with a good checksum
    int textLines = 0;              // lines of printable text that are not NMEA
};

// The bytes of a line, sorted into what they are.
Heard Classify(const std::string &bytes);

} // namespace halvex
