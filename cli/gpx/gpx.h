// GPX 1.1 files: waypoints, routes and tracks as the halvex tool reads and
// writes them.
#pragma once

#include <map>
#include <optional>
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

// The tool's own GPX extensions: what receivers keep that GPX has no
// element for (depth, proximity, temperature, ...), so that a download
// followed by an upload gives the receiver back exactly what it had.
constexpr const char *kExtensionNamespace = "urn:halvex32:gpx:1";

// A waypoint's fields beyond name, comment and position; none: not given.
struct PointFields {
    std::optional<double> elevation, time, depth, proximity, temperature; // time: seconds since 1970 UTC
    std::optional<int> symbol, display, colour, category, wptClass;
    std::string symbolName; // a <sym> that names no symbol the tool knows
    std::string facility, city, address, crossRoad;
};

struct GpxPoint {
    double latitude = 0, longitude = 0;
    std::string name, comment;
    PointFields fields;
    Unkept unkept;
    std::string where; // file:line:column
};

struct GpxRoute {
    std::string name, comment;
    std::optional<int> number;
    std::vector<GpxPoint> points;
    Unkept unkept;
    std::string where;
    std::string numberWhere; // of its <number>
};

struct GpxTrackPoint {
    double latitude = 0, longitude = 0;
    double time = 0; // seconds since 1970 UTC
    bool startsSegment = false;
    bool timed = true; // false: the file, or the receiver, gave no time
    std::optional<double> elevation, depth, temperature;
    // The first point of a <trk>: the track's name, colour and display.
    bool startsTrack = false;
    std::string trackName;
    std::optional<int> trackColour, trackDisplay;
    Unkept unkept;
    std::string where; // file:line:column, for what the receiver cannot take
};

struct Gpx {
    std::vector<GpxPoint> waypoints;
    std::vector<GpxRoute> routes;
    std::vector<GpxTrackPoint> trackPoints;
    std::map<std::string, int> trackUnkept; // child elements of <trk> not carried, and in how many tracks
    int tracks = 0; // <trk> elements with points
};

// Symbols by the names GPX files give them (geocaching files among them),
// both ways; -1, or an empty name, for one the tool does not know.
int SymbolNumber(const std::string &name);
std::string SymbolName(int number);

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
