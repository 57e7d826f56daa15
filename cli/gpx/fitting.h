// A GPX file made what the receiver will hold, before an upload: texts in
// its letters and widths, names distinct, routes numbered apart, track times
// in its range. Every change is said on standard error, once per kind with
// a count; what the receiver cannot hold at all is refused.
#pragma once

#include "receiver/connection.h"
#include "gpx/gpx.h"

namespace halvex {

enum class Records { Waypoints, Routes, Tracks };

struct FitOptions {
    Records upload = Records::Waypoints; // what goes up, and so what is said
    int nameWidth = -1; // -1: what the receiver's waypoint type keeps
    bool keepNames = false;
    bool allowUntimed = false; // track points without a time go with the receiver's "no time"
    bool strict = false;       // any change refuses the upload
    bool renumber = false;     // route numbers the receiver cannot keep are given others
};

// Refuses, with the file, line and column, a track point the receiver
// cannot date. Needs no receiver, so it runs before the port is opened.
void CheckTrackTimes(Gpx &gpx, const FitOptions &options);

// Refuses a file with nothing of the kind to upload: nothing is sent.
void CheckSomethingToSend(const Gpx &gpx, const FitOptions &options, const std::string &file);

// Makes the file what the receiver identified as product keeps; throws
// Failure (ExitBadData) under --strict when that changed anything.
void FitForReceiver(Gpx &gpx, const Product &product, const FitOptions &options);

} // namespace halvex
