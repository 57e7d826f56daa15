// Waypoints, routes and track points as the simulated receiver keeps them,
// and their wire forms in the receiver's data types. Written apart from the
// library's converters, from the same layouts.
#pragma once

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "wire.h"

namespace halvexsim {

// A float the receiver has no value for.
constexpr float kNotSet = 1.0e25f;

struct Waypoint {
    std::string ident; // as the data type carries it: fixed types padded to 6, strings up to 51
    std::int32_t latitude = 0, longitude = 0; // semicircles
    std::string comment;
    // What D103 and D108-D110 add, as their fields carry it; -1: the type's default.
    int symbol = -1, display = -1, colour = -1, wptClass = 0;
    float altitude = kNotSet, depth = kNotSet, proximity = kNotSet, temperature = kNotSet;
    std::uint32_t time = 0xFFFFFFFF; // receiver seconds, all ones for none
    std::uint16_t category = 0;
    std::string facility{}, city{}, address{}, crossRoad{};
    auto Fields() const
    {
        return std::tie(ident, latitude, longitude, comment, symbol, display, colour, wptClass, altitude, depth,
                        proximity, temperature, time, category, facility, city, address, crossRoad);
    }
    bool operator==(const Waypoint &o) const { return Fields() == o.Fields(); }
};

struct Route {
    int number = 0;
    std::string comment, ident;
    std::vector<Waypoint> waypoints;
};

// The receiver's epoch, 1989-12-31 00:00 UTC, in seconds since 1970.
constexpr double kReceiverEpoch = 631065600.0;

struct TrackPoint {
    std::int32_t latitude = 0, longitude = 0;
    std::uint32_t time = 0; // receiver seconds: since 1989-12-31 00:00 UTC
    bool newTrack = false;  // starts a track: under a header of its own where the receiver heads tracks
    bool continuesTrack = false; // the new-track flag set inside a track: a segment, no header
    float altitude = kNotSet, depth = kNotSet, temperature = kNotSet;
    // The header before the point (D310, D312); empty: "ACTIVE LOG n", -1: default.
    std::string trackName{};
    int trackColour = -1, trackDisplay = -1;
};

// The point's track header as the receiver sends it, track numbering it when
// it has no name of its own.
Bytes TrackHeaderToWire(int type, int track, const TrackPoint &first);
// The name, colour and display of a D310 or D312 header into first.
void TrackHeaderFromWire(int type, const Bytes &data, TrackPoint &first);

// The data types this receiver can be set to.
bool KnownWaypointType(int type);
Bytes WaypointToWire(int type, const Waypoint &waypoint);
Waypoint WaypointFromWire(int type, const Bytes &data);

Bytes RouteHeaderToWire(int type, const Route &route);
Route RouteHeaderFromWire(int type, const Bytes &data);

// A direct link between two route waypoints (D210).
Bytes RouteLinkToWire(int type);

// D300, D301 and D302; the new-track flag sits after what each type adds.
Bytes TrackPointToWire(const TrackPoint &point, int type = 300);
TrackPoint TrackPointFromWire(const Bytes &data, int type = 300);

// Degrees to semicircles as a receiver rounds them: to the nearest.
std::int32_t Semicircles(double degrees);
double Degrees(std::int32_t semicircles);

} // namespace halvexsim
