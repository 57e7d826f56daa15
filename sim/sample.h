// Sample data for a simulated receiver: a few named places, a route
// through them and a track, so that every download has something to show.
#pragma once

#include "receiver.h"

namespace halvexsim {

// The sample store, with a track of this many points.
Store SampleStore(int trackPoints);

} // namespace halvexsim
