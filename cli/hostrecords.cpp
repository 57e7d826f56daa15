#include "hostrecords.h"

#include <cmath>

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

// The library dates track points as receiver seconds counted from 1990-01-02
// (its contract with existing hosts), while receivers count them from
// 1989-12-31 00:00 UTC, as their position reports do: two days apart.
constexpr double kTrackDateSkew = 2 * 86400.0;

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

std::vector<GpxPoint> ReadWaypoints(const HostWaypoint *elements, std::size_t count)
{
    std::vector<GpxPoint> out;
    for (std::size_t i = 0; i < count; ++i) {
        GpxPoint point;
        point.name = Field(elements[i].ident);
        point.comment = Field(elements[i].comment);
        point.latitude = elements[i].latitude;
        point.longitude = elements[i].longitude;
        out.push_back(point);
    }
    return out;
}

std::vector<GpxRoute> ReadRoutes(const SAFEARRAY *routes, const SAFEARRAY *waypoints)
{
    auto *points = static_cast<const HostWaypoint *>(waypoints->pvData);
    std::size_t pointCount = waypoints->rgsabound[0].cElements;
    auto *elements = static_cast<const HostRoute *>(routes->pvData);
    std::vector<GpxRoute> out;
    for (ULONG i = 0; i < routes->rgsabound[0].cElements; ++i) {
        GpxRoute route;
        route.name = Field(elements[i].ident);
        route.comment = Field(elements[i].comment);
        route.number = static_cast<uint16_t>(elements[i].number);
        std::size_t first = static_cast<std::size_t>(elements[i].firstWaypoint);
        std::size_t count = static_cast<uint16_t>(elements[i].waypointCount);
        if (first + count <= pointCount)
            route.points = ReadWaypoints(points + first, count);
        out.push_back(route);
    }
    return out;
}

GpxTrackPoint ReadTrackPoint(const HostTrackPoint &point)
{
    GpxTrackPoint out;
    out.latitude = point.latitude;
    out.longitude = point.longitude;
    out.time = UnixFromOle(point.time) - kTrackDateSkew;
    out.startsSegment = point.newTrack != 0;
    // Within a millisecond: the OLE date holds the second only so closely.
    out.timed = std::fabs(out.time - kReceiverNoTime) > 0.001;
    return out;
}

void Fill(HostWaypoint &element, const GpxPoint &point)
{
    element.ident = Bstr(point.name);
    element.latitude = OnSemicircle(point.latitude);
    element.longitude = OnSemicircle(point.longitude);
    element.comment = Bstr(point.comment);
}

void Fill(HostTrackPoint &element, const GpxTrackPoint &point)
{
    element = HostTrackPoint{};
    element.time = OleFromUnix(point.time + kTrackDateSkew);
    element.latitude = OnSemicircle(point.latitude);
    element.longitude = OnSemicircle(point.longitude);
    element.newTrack = point.startsSegment ? 1 : 0;
}

void FreeStrings(HostWaypoint &w)
{
    SysFreeString(w.ident);
    SysFreeString(w.comment);
}

void FreeStrings(HostRoute &r)
{
    SysFreeString(r.comment);
    SysFreeString(r.ident);
}

} // namespace halvex
