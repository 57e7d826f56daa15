// Where the simulated receiver is at a moment: a circle of 400 m about its
// start, run at 10 m/s, rising and falling a little. One model serves its
// position reports and its NMEA sentences, so both modes show one journey.
#pragma once

#include <string>
#include <vector>

namespace halvexsim {

struct PathFix {
    double latitude, longitude; // degrees
    double altitude;            // metres above mean sea level
    double east, north, up;     // metres a second
};

PathFix PathAt(double unixSeconds, double startLatitude, double startLongitude);

// The current UTC time, in seconds since 1970, to the microsecond.
double UtcNow();

// One fix epoch of NMEA sentences for the moment (a whole second): GGA, GSA,
// RMC and VTG, each with its checksum and CR LF.
std::vector<std::string> EpochSentences(double unixSeconds, const PathFix &fix);

} // namespace halvexsim
