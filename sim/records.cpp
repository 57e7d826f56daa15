#include "records.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

namespace halvexsim {

namespace {

// Byte positions of each fixed waypoint layout; -1 where a type has no such field.
struct Shape {
    int type, size, ident, latitude, longitude, comment;
    std::vector<std::pair<int, int>> blanks; // runs of spaces as filler
};

const std::vector<Shape> &Shapes()
{
    static const std::vector<std::pair<int, int>> wide = {{62, 30}, {92, 24}, {116, 2}, {122, 2}};
    static const std::vector<Shape> shapes = {
        {100, 58, 0, 6, 10, 18, {}},   {102, 66, 0, 6, 10, 18, {}},   {103, 60, 0, 6, 10, 18, {}},
        {104, 67, 0, 6, 10, 18, {}},   {107, 65, 0, 6, 10, 18, {}},
        {150, 117, 0, 9, 13, 77, {{6, 2}, {21, 24}, {45, 2}, {47, 30}}},
        {151, 126, 0, 6, 10, 18, wide}, {152, 126, 0, 6, 10, 18, wide}, {154, 130, 0, 6, 10, 18, wide},
        {155, 131, 0, 6, 10, 18, wide},
    };
    return shapes;
}

const Shape *FindShape(int type)
{
    for (const Shape &s : Shapes())
        if (s.type == type)
            return &s;
    return nullptr;
}

void PutI32(Bytes &out, std::size_t at, std::int32_t value)
{
    std::uint32_t v = static_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i)
        out[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::int32_t GetI32(const Bytes &in, std::size_t at)
{
    if (at + 4 > in.size())
        return 0;
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | in[at + i];
    return static_cast<std::int32_t>(v);
}

// Fixed-width text: what the device holds, upper case, padded with spaces.
void PutFixed(Bytes &out, std::size_t at, const std::string &text, std::size_t width)
{
    for (std::size_t i = 0; i < width; ++i) {
        unsigned char c = i < text.size() ? static_cast<unsigned char>(text[i]) : ' ';
        out[at + i] = static_cast<std::uint8_t>(std::isprint(c) ? std::toupper(c) : ' ');
    }
}

std::string GetFixed(const Bytes &in, std::size_t at, std::size_t width)
{
    if (at >= in.size())
        return {};
    return std::string(in.begin() + static_cast<long>(at), in.begin() + static_cast<long>(std::min(in.size(), at + width)));
}

std::string GetString(const Bytes &in, std::size_t at)
{
    std::string out;
    for (std::size_t i = at; i < in.size() && in[i] != 0; ++i)
        out.push_back(static_cast<char>(in[i]));
    return out;
}

} // namespace

bool KnownWaypointType(int type) { return FindShape(type) || type == 105 || type == 106; }

Bytes WaypointToWire(int type, const Waypoint &w)
{
    if (type == 105 || type == 106) {
        std::size_t head = type == 105 ? 12 : 26;
        Bytes out(head, 0);
        if (type == 106)
            std::fill(out.begin() + 1, out.begin() + 14, ' ');
        PutI32(out, type == 105 ? 0 : 14, w.latitude);
        PutI32(out, type == 105 ? 4 : 18, w.longitude);
        out.insert(out.end(), w.ident.begin(), w.ident.end());
        out.push_back(0);
        if (type == 106)
            out.push_back(0); // an empty second string
        return out;
    }
    const Shape *s = FindShape(type);
    if (!s)
        return {};
    Bytes out(static_cast<std::size_t>(s->size), 0);
    for (auto [at, count] : s->blanks)
        std::fill(out.begin() + at, out.begin() + at + count, ' ');
    PutFixed(out, static_cast<std::size_t>(s->ident), w.ident, 6);
    PutI32(out, static_cast<std::size_t>(s->latitude), w.latitude);
    PutI32(out, static_cast<std::size_t>(s->longitude), w.longitude);
    PutFixed(out, static_cast<std::size_t>(s->comment), w.comment, 40);
    return out;
}

Waypoint WaypointFromWire(int type, const Bytes &data)
{
    Waypoint w;
    if (type == 105 || type == 106) {
        w.latitude = GetI32(data, type == 105 ? 0 : 14);
        w.longitude = GetI32(data, type == 105 ? 4 : 18);
        w.ident = GetString(data, type == 105 ? 12 : 26);
        return w;
    }
    if (const Shape *s = FindShape(type)) {
        w.ident = GetFixed(data, static_cast<std::size_t>(s->ident), 6);
        w.latitude = GetI32(data, static_cast<std::size_t>(s->latitude));
        w.longitude = GetI32(data, static_cast<std::size_t>(s->longitude));
        w.comment = GetFixed(data, static_cast<std::size_t>(s->comment), 40);
    }
    return w;
}

Bytes RouteHeaderToWire(int type, const Route &route)
{
    Bytes out;
    if (type == 200 || type == 201) {
        out.push_back(static_cast<std::uint8_t>(route.number));
        if (type == 201) {
            out.resize(21);
            PutFixed(out, 1, route.comment, 20);
        }
    } else if (type == 202) {
        out.assign(route.ident.begin(), route.ident.end());
        out.push_back(0);
    }
    return out;
}

Route RouteHeaderFromWire(int type, const Bytes &data)
{
    Route route;
    if ((type == 200 || type == 201) && !data.empty())
        route.number = data[0];
    if (type == 201)
        route.comment = GetFixed(data, 1, 20);
    if (type == 202)
        route.ident = GetString(data, 0);
    return route;
}

Bytes TrackPointToWire(const TrackPoint &p)
{
    Bytes out(16, 0);
    PutI32(out, 0, p.latitude);
    PutI32(out, 4, p.longitude);
    PutI32(out, 8, static_cast<std::int32_t>(p.time));
    out[12] = p.newTrack ? 1 : 0;
    return out;
}

TrackPoint TrackPointFromWire(const Bytes &data)
{
    TrackPoint p;
    p.latitude = GetI32(data, 0);
    p.longitude = GetI32(data, 4);
    p.time = static_cast<std::uint32_t>(GetI32(data, 8));
    p.newTrack = data.size() > 12 && data[12] != 0;
    return p;
}

std::int32_t Semicircles(double degrees)
{
    double s = std::round(degrees / 180.0 * 2147483648.0);
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::int64_t>(s)));
}

double Degrees(std::int32_t semicircles) { return semicircles / 2147483648.0 * 180.0; }

} // namespace halvexsim
