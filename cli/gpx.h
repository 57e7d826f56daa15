// GPX 1.1 files: waypoints, routes and tracks as the halvex tool reads and
// writes them.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace halvex {

// Receivers date track points in unsigned 32-bit seconds from 1989-12-31
// 00:00 UTC, all ones meaning "no time": as seconds since 1970.
constexpr double kReceiverEpoch = 631065600.0;
constexpr double kLastReceiverSecond = kReceiverEpoch + 4294967294.0;
constexpr double kReceiverNoTime = kReceiverEpoch + 4294967295.0;

// What a file said that the tool does not carry to a receiver: the names
// of child elements (ele, time, sym, ...).
using Unkept = std::vector<std::string>;

struct GpxPoint {
    double latitude = 0, longitude = 0;
    std::string name, comment;
    Unkept unkept;
};

struct GpxRoute {
    std::string name, comment;
    int number = 0; // 0 when the file gave none
    std::vector<GpxPoint> points;
    Unkept unkept;
};

struct GpxTrackPoint {
    double latitude = 0, longitude = 0;
    double time = 0; // seconds since 1970 UTC
    bool startsSegment = false;
    bool timed = true; // false: the file, or the receiver, gave no time
    Unkept unkept;
    std::string where; // file:line:column, for what the receiver cannot take
};

struct Gpx {
    std::vector<GpxPoint> waypoints;
    std::vector<GpxRoute> routes;
    std::vector<GpxTrackPoint> trackPoints;
    std::map<std::string, int> trackUnkept; // child elements of <trk> not carried, and in how many tracks
};

// Reads and checks a whole file ("-": standard input); throws Failure
// (ExitBadData) naming the file, line and column of what is wrong.
Gpx ReadGpx(const std::string &path);

// The document as text.
std::string GpxText(const Gpx &gpx);

// ISO 8601 in UTC, with milliseconds when they are not zero.
std::string IsoTime(double unixSeconds);
// The day alone: YYYY-MM-DD.
std::string IsoDay(double unixSeconds);

} // namespace halvex
