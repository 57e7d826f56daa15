// GPX 1.1 files: waypoints, routes and tracks as the halvex tool reads and
// writes them.
#pragma once

#include <string>
#include <vector>

namespace halvex {

struct GpxPoint {
    double latitude = 0, longitude = 0;
    std::string name, comment;
};

struct GpxRoute {
    std::string name, comment;
    int number = 0;
    std::vector<GpxPoint> points;
};

struct GpxTrackPoint {
    double latitude = 0, longitude = 0;
    double time = 0; // seconds since 1970 UTC; 0 when the file gave none
    bool startsSegment = false;
};

struct Gpx {
    std::vector<GpxPoint> waypoints;
    std::vector<GpxRoute> routes;
    std::vector<GpxTrackPoint> trackPoints;
};

// Reads and checks a whole file; throws Failure (ExitBadData) naming the
// file, line and column of what is wrong.
Gpx ReadGpx(const std::string &path);

// The document as text.
std::string GpxText(const Gpx &gpx);

// Writes text to path whole or not at all (a temporary file renamed over
// it), or to standard output when path is empty or "-".
void WriteOutput(const std::string &path, const std::string &text);

// ISO 8601 in UTC, with milliseconds when they are not zero.
std::string IsoTime(double unixSeconds);

} // namespace halvex
