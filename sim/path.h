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

// The whole seconds of UTC, one after the other, as a receiver's fix epochs
// come: a late wake-up neither skips one nor stamps two alike.
class EpochClock {
public:
    // From the next whole second; nowMs on the steady clock.
    void Start(long long nowMs);
    bool Started() const { return started_; }
    bool Due(long long nowMs) const { return started_ && nowMs >= dueAtMs_; }
    long long DueAtMs() const { return dueAtMs_; }
    // The second due, and the next one scheduled.
    double Take(long long nowMs);

private:
    bool started_ = false;
    double second_ = 0;
    long long dueAtMs_ = 0;
};

// One fix epoch of NMEA sentences for the moment (a whole second): GGA, GSA,
// RMC and VTG, each with its checksum and CR LF.
std::vector<std::string> EpochSentences(double unixSeconds, const PathFix &fix);

} // namespace halvexsim
