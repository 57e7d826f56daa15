// Sample data for a simulated receiver: a few named places, a route
// through them and a track, so that every download has something to show.
#pragma once

#include "receiver.h"

namespace halvexsim {

// The sample store, with a track of this many points.
Store SampleStore(int trackPoints);

// Re-times a track log as a receiver rolledOver x 1024 weeks behind has it
// when the end of its week window fell during the log: the same spacing,
// ending an hour before nowUnix; its first quarter recorded before the
// end, with true dates, the rest after it, rolledOver x 1024 weeks early.
void RecordAcrossRollover(std::vector<TrackPoint> &points, int rolledOver, double nowUnix);

} // namespace halvexsim
