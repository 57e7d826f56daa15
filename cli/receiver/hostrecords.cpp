#include "receiver/hostrecords.h"

#include <cmath>
#include <optional>

namespace halvex {

namespace {

// A receiver pads its fixed-width fields with spaces; the padding is no part
// of the name or comment.
std::string Field(BSTR b)
{
    std::string text = Text(b);
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

double OleFromUnix(double seconds) { return seconds / 86400.0 + 25569.0; }

std::optional<double> Given(double value)
{
    return std::isnan(value) ? std::nullopt : std::optional<double>(value);
}

std::optional<int> Given(int32_t value) { return value < 0 ? std::nullopt : std::optional<int>(value); }

double Or(const std::optional<double> &value) { return value ? *value : std::nan(""); }
int32_t Or(const std::optional<int> &value) { return value ? *value : -1; }

// The library truncates degrees to the receiver's semicircles (2^31 of them
// to 180 degrees). A GPX position, written to 9 decimals, lies a hair off
// its semicircle and would lose one on every trip up and back; the nearest
// semicircle's own value in degrees becomes exactly that semicircle.
double OnSemicircle(double degrees)
{
    const double semicircle = 180.0 / 2147483648.0; // exact: 45 x 2^-29
    return std::round(degrees / semicircle) * semicircle;
}

} // namespace

double UnixFromOle(double date) { return (date - 25569.0) * 86400.0; }

std::string Text(BSTR b)
{
    std::string out;
    for (UINT i = 0; i < SysStringLen(b); ++i)
        out += static_cast<char>(b[i] & 0xFF);
    return out;
}

BSTR Bstr(const std::string &text)
{
    std::u16string units;
    for (unsigned char c : text)
        units += static_cast<char16_t>(c);
    return SysAllocStringLen(units.data(), static_cast<UINT>(units.size()));
}

std::vector<GpxPoint> ReadWaypoints(const HostWaypointEx *elements, std::size_t count)
{
    std::vector<GpxPoint> out;
    for (std::size_t i = 0; i < count; ++i) {
        const HostWaypointEx e = elements[i]; // by value: 4-byte packed on 32-bit targets
        GpxPoint point;
        point.name = Text(e.ident);
        point.comment = Text(e.comment);
        point.latitude = e.latitude;
        point.longitude = e.longitude;
        PointFields &f = point.fields;
        f.elevation = Given(e.altitude);
        f.depth = Given(e.depth);
        f.proximity = Given(e.proximity);
        f.temperature = Given(e.temperature);
        if (!std::isnan(e.time))
            f.time = std::round(UnixFromOle(e.time) * 1000.0) / 1000.0;
        f.symbol = Given(e.symbol);
        f.display = Given(e.display);
        f.colour = Given(e.colour);
        f.category = Given(e.category);
        // A user waypoint is class 0, which says nothing worth a line of GPX.
        if (e.wptClass > 0)
            f.wptClass = e.wptClass;
        f.facility = Text(e.facility);
        f.city = Text(e.city);
        f.address = Text(e.address);
        f.crossRoad = Text(e.crossRoad);
        out.push_back(point);
    }
    return out;
}

std::vector<GpxRoute> ReadRoutes(const SAFEARRAY *routes, const SAFEARRAY *waypoints)
{
    auto *points = static_cast<const HostWaypointEx *>(waypoints->pvData);
    std::size_t pointCount = waypoints->rgsabound[0].cElements;
    auto *elements = static_cast<const HostRoute *>(routes->pvData);
    std::vector<GpxRoute> out;
    for (ULONG i = 0; i < routes->rgsabound[0].cElements; ++i) {
        GpxRoute route;
        // A route header names a route (D202) or comments it (D201): either
        // is the route's <name>.
        route.name = Field(elements[i].ident);
        if (route.name.empty())
            route.name = Field(elements[i].comment);
        if (elements[i].number >= 0)
            route.number = elements[i].number;
        std::size_t first = static_cast<std::size_t>(elements[i].firstWaypoint);
        std::size_t count = static_cast<uint16_t>(elements[i].waypointCount);
        if (first + count <= pointCount)
            route.points = ReadWaypoints(points + first, count);
        out.push_back(route);
    }
    return out;
}

GpxTrackPoint ReadTrackPoint(const HostTrackPointEx &point)
{
    const HostTrackPointEx e = point; // by value: 4-byte packed on 32-bit targets
    GpxTrackPoint out;
    out.latitude = e.latitude;
    out.longitude = e.longitude;
    out.timed = !std::isnan(e.time);
    // Receivers date points in whole seconds; the OLE date holds them to a
    // few microseconds.
    out.time = out.timed ? std::round(UnixFromOle(e.time) * 1000.0) / 1000.0 : kReceiverNoTime;
    out.startsSegment = e.newTrack != 0;
    out.elevation = Given(e.altitude);
    out.depth = Given(e.depth);
    out.temperature = Given(e.temperature);
    out.startsTrack = e.trackStart != 0;
    out.trackName = Text(e.trackName);
    out.trackColour = Given(e.trackColour);
    out.trackDisplay = Given(e.trackDisplay);
    return out;
}

void Fill(HostWaypointEx &element, const GpxPoint &point)
{
    const PointFields &f = point.fields;
    HostWaypointEx e{};
    e.latitude = OnSemicircle(point.latitude);
    e.longitude = OnSemicircle(point.longitude);
    e.altitude = Or(f.elevation);
    e.depth = Or(f.depth);
    e.proximity = Or(f.proximity);
    e.time = f.time ? OleFromUnix(*f.time) : std::nan("");
    e.temperature = Or(f.temperature);
    e.symbol = Or(f.symbol);
    e.display = Or(f.display);
    e.colour = Or(f.colour);
    e.category = Or(f.category);
    e.wptClass = Or(f.wptClass);
    e.ident = Bstr(point.name);
    e.comment = Bstr(point.comment);
    e.facility = Bstr(f.facility);
    e.city = Bstr(f.city);
    e.address = Bstr(f.address);
    e.crossRoad = Bstr(f.crossRoad);
    element = e;
}

void Fill(HostTrackPointEx &element, const GpxTrackPoint &point)
{
    HostTrackPointEx e{};
    e.time = point.timed ? OleFromUnix(point.time) : std::nan("");
    e.latitude = OnSemicircle(point.latitude);
    e.longitude = OnSemicircle(point.longitude);
    e.altitude = Or(point.elevation);
    e.depth = Or(point.depth);
    e.temperature = Or(point.temperature);
    e.newTrack = point.startsSegment ? 1 : 0;
    e.trackStart = point.startsTrack ? 1 : 0;
    e.trackColour = Or(point.trackColour);
    e.trackDisplay = Or(point.trackDisplay);
    e.trackName = Bstr(point.trackName);
    element = e;
}

void FreeStrings(HostWaypointEx &w)
{
    for (BSTR b : {w.ident, w.comment, w.facility, w.city, w.address, w.crossRoad})
        SysFreeString(b);
}

void FreeStrings(HostRoute &r)
{
    SysFreeString(r.comment);
    SysFreeString(r.ident);
}

void FreeStrings(HostTrackPointEx &p) { SysFreeString(p.trackName); }

} // namespace halvex
