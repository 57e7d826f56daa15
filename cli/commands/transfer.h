// halvex waypoints|routes|tracks get|put: GPX to and from the receiver.
#pragma once

#include <string>

#include "gpx/fitting.h"
#include "receiver/connection.h"

namespace halvex {

// Uploads the records fit.upload names from the GPX file, made what the
// receiver will hold; the exit code.
int Upload(const Options &options, const std::string &input, const FitOptions &fit);
// Downloads the records named to path ("-": standard output) as GPX, track
// dates moved past a week rollover as rollover chooses; the exit code.
int Download(const Options &options, Records records, const std::string &path, const std::string &rollover,
             bool strict);

} // namespace halvex
