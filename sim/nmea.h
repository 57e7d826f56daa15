// The receiver's NMEA 0183 talker: a steady stream of plausible sentences,
// generated or replayed from a file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace halvexsim {

// The i-th sentence of the built-in stream, with its checksum and CR LF. The
// stream cycles through GGA, RMC, GSA, GSV, ZDA and a proprietary sentence,
// a fix a second from when the process first asked for one, moving north
// from Greenwich, so every sentence differs; its dates are earlyDays before
// those of a receiver on time.
std::string GeneratedSentence(std::uint64_t i, int earlyDays = 0);

// The i-th line of a plain-text talker: a position, and no NMEA sentence.
std::string TextLine(std::uint64_t i);

// "$" + body + "*" + checksum + CR LF.
std::string WithChecksum(const std::string &body);

// The sentences of a text file, one a line, each given its CR LF (and its
// checksum when the line has none). Empty lines are skipped.
std::vector<std::string> ReadSentenceFile(const std::string &path);

struct NmeaConfig {
    bool enabled = false;
    double perSecond = 1.0;    // sentences a second; 0: as fast as the line takes
    std::uint64_t count = 0;   // stop after this many; 0: never
    std::vector<std::string> replay; // when not empty, sent in a loop instead
    bool held = false;         // silent from the start, until FallSilent(0)
    bool live = false;         // fix epochs along the path at the current time, once a second
    bool text = false;         // plain lines of text instead, as a receiver set to a text output sends
};

} // namespace halvexsim
