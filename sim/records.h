// Waypoints, routes and track points as the simulated receiver keeps them,
// and their wire forms in the receiver's data types. Written apart from the
// library's converters, from the same layouts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "wire.h"

namespace halvexsim {

struct Waypoint {
    std::string ident; // as the data type carries it: fixed types padded to 6, strings up to 51
    std::int32_t latitude = 0, longitude = 0; // semicircles
    std::string comment;
    bool operator==(const Waypoint &o) const
    {
        return ident == o.ident && latitude == o.latitude && longitude == o.longitude && comment == o.comment;
    }
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
    bool newTrack = false;
};

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
// The header of the track-th track (D310, D311, D312), named by its number.
Bytes TrackHeaderToWire(int type, int track);

// Degrees to semicircles as a receiver rounds them: to the nearest.
std::int32_t Semicircles(double degrees);
double Degrees(std::int32_t semicircles);

} // namespace halvexsim
