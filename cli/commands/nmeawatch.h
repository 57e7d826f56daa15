// halvex nmea watch: sentences as they come, or a table of the latest of
// each kind.
#pragma once

#include <string>
#include <vector>

#include "receiver/connection.h"

namespace halvex {

// Whether a sentence's "*hh" checksum is right: "ok", "bad" or "missing".
std::string ChecksumState(const std::string &sentence);

struct WatchOptions {
    double seconds = 0;             // 0: until interrupted
    double timeout = 0;             // fail when no sentence came in this long; 0: wait on
    std::vector<std::string> kinds; // the latest sentence of each (GGA, RMC, ...) instead of every one
    bool raw = false;               // the sentences alone, as they came, for a pipe
    int baud = 4800;                // for the notice while nothing comes
};

// Watches the receiver's sentences; throws Failure (ExitNoAnswer) when none
// came within the timeout.
void WatchNmea(Connection &connection, const WatchOptions &options);

// A sentence as the user gave it, made ready to send: "$" added where it has
// no start; one that carries its "*hh" checked. Throws Failure (ExitUsage)
// for an empty sentence or a wrong checksum. Sentences with a checksum are
// sent as they are, the others completed with theirs.
struct Sentence {
    std::string text;
    bool complete; // carries its checksum already
};
Sentence SentenceToSend(const std::string &given);

} // namespace halvex
