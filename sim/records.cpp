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

void PutFloat(Bytes &out, std::size_t at, float value)
{
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    PutI32(out, at, static_cast<std::int32_t>(bits));
}

constexpr std::size_t kStringLimit = 51;

float GetFloat(const Bytes &in, std::size_t at)
{
    std::uint32_t bits = static_cast<std::uint32_t>(GetI32(in, at));
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return at + 4 <= in.size() ? value : kNotSet;
}

int Or(int value, int fallback) { return value >= 0 ? value : fallback; }
// A value received as the type's default is kept as "the default", so that
// what was decoded equals what was made with the defaults.
int Canon(int value, int fallback) { return value == fallback ? -1 : value; }

// D108, D109 and D110: a head of this many bytes, then six strings.
std::size_t StringHead(int type) { return type == 108 ? 48 : type == 109 ? 52 : type == 110 ? 62 : 0; }

Bytes StringWaypointToWire(int type, const Waypoint &w)
{
    Bytes out(StringHead(type), 0);
    if (type == 108) {
        out[0] = static_cast<std::uint8_t>(w.wptClass);
        out[1] = static_cast<std::uint8_t>(Or(w.colour, 0xFF));
        out[2] = static_cast<std::uint8_t>(Or(w.display, 0));
        out[3] = 0x60;
    } else {
        out[0] = 0x01; // packet type
        out[1] = static_cast<std::uint8_t>(w.wptClass);
        out[2] = static_cast<std::uint8_t>((Or(w.colour, 0x1F) & 0x1F) | (Or(w.display, 0) & 3) << 5);
        out[3] = type == 109 ? 0x70 : 0x80;
    }
    out[4] = static_cast<std::uint8_t>(Or(w.symbol, 18));
    out[5] = static_cast<std::uint8_t>(Or(w.symbol, 18) >> 8);
    std::fill(out.begin() + 12, out.begin() + 24, 0xFF);
    PutI32(out, 24, w.latitude);
    PutI32(out, 28, w.longitude);
    PutFloat(out, 32, w.altitude);
    PutFloat(out, 36, w.depth);
    PutFloat(out, 40, w.proximity);
    std::fill(out.begin() + 44, out.begin() + 48, ' ');
    if (type != 108)
        PutI32(out, 48, -1);
    if (type == 110) {
        PutFloat(out, 52, w.temperature);
        PutI32(out, 56, static_cast<std::int32_t>(w.time));
        out[60] = static_cast<std::uint8_t>(w.category);
        out[61] = static_cast<std::uint8_t>(w.category >> 8);
    }
    const std::pair<const std::string *, std::size_t> strings[] = {
        {&w.ident, kStringLimit}, {&w.comment, kStringLimit}, {&w.facility, 31},
        {&w.city, 25},            {&w.address, 51},           {&w.crossRoad, 51}};
    for (auto [text, limit] : strings) {
        std::string kept = text->substr(0, limit);
        out.insert(out.end(), kept.begin(), kept.end());
        out.push_back(0);
    }
    return out;
}

Waypoint StringWaypointFromWire(int type, const Bytes &data)
{
    Waypoint w;
    if (data.size() >= 6) {
        w.wptClass = type == 108 ? data[0] : data[1];
        w.colour = Canon(type == 108 ? data[1] : data[2] & 0x1F, type == 108 ? 0xFF : 0x1F);
        w.display = Canon(type == 108 ? data[2] : data[2] >> 5 & 3, 0);
        w.symbol = Canon(data[4] | data[5] << 8, 18);
    }
    w.latitude = GetI32(data, 24);
    w.longitude = GetI32(data, 28);
    w.altitude = GetFloat(data, 32);
    w.depth = GetFloat(data, 36);
    w.proximity = GetFloat(data, 40);
    if (type == 110) {
        w.temperature = GetFloat(data, 52);
        w.time = static_cast<std::uint32_t>(GetI32(data, 56));
        w.category = data.size() >= 62 ? static_cast<std::uint16_t>(data[60] | data[61] << 8) : 0;
    }
    std::size_t at = StringHead(type);
    for (std::string *text : {&w.ident, &w.comment, &w.facility, &w.city, &w.address, &w.crossRoad}) {
        *text = GetString(data, at);
        at += text->size() + 1;
        text->resize(std::min(text->size(), kStringLimit));
    }
    return w;
}

} // namespace

bool KnownWaypointType(int type) { return FindShape(type) || type == 105 || type == 106 || StringHead(type); }

Bytes WaypointToWire(int type, const Waypoint &w)
{
    if (StringHead(type))
        return StringWaypointToWire(type, w);
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
    if (type == 103) { // the classic default is 0 for both
        out[58] = static_cast<std::uint8_t>(Or(w.symbol, 0));
        out[59] = static_cast<std::uint8_t>(Or(w.display, 0));
    }
    return out;
}

Waypoint WaypointFromWire(int type, const Bytes &data)
{
    if (StringHead(type))
        return StringWaypointFromWire(type, data);
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
        if (type == 103 && data.size() >= 60) {
            w.symbol = Canon(data[58], 0);
            w.display = Canon(data[59], 0);
        }
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

Bytes RouteLinkToWire(int type)
{
    if (type != 210)
        return {};
    Bytes out(21, 0);
    out[0] = 3; // direct
    std::fill(out.begin() + 8, out.begin() + 20, 0xFF);
    return out;
}

namespace {
std::size_t NewTrackByte(int type) { return type == 302 ? 24 : type == 301 ? 20 : 12; }
} // namespace

Bytes TrackPointToWire(const TrackPoint &p, int type)
{
    Bytes out(type == 300 ? 16 : NewTrackByte(type) + 1, 0);
    PutI32(out, 0, p.latitude);
    PutI32(out, 4, p.longitude);
    PutI32(out, 8, static_cast<std::int32_t>(p.time));
    if (type != 300) {
        PutFloat(out, 12, p.altitude);
        PutFloat(out, 16, p.depth);
    }
    if (type == 302)
        PutFloat(out, 20, p.temperature);
    out[NewTrackByte(type)] = p.newTrack ? 1 : 0;
    return out;
}

TrackPoint TrackPointFromWire(const Bytes &data, int type)
{
    TrackPoint p;
    p.latitude = GetI32(data, 0);
    p.longitude = GetI32(data, 4);
    p.time = static_cast<std::uint32_t>(GetI32(data, 8));
    p.newTrack = data.size() > NewTrackByte(type) && data[NewTrackByte(type)] != 0;
    if (type != 300) {
        p.altitude = GetFloat(data, 12);
        p.depth = GetFloat(data, 16);
    }
    if (type == 302)
        p.temperature = GetFloat(data, 20);
    return p;
}

Bytes TrackHeaderToWire(int type, int track, const TrackPoint &first)
{
    Bytes out;
    if (type == 311) {
        PutU16(out, static_cast<std::uint16_t>(track));
        return out;
    }
    std::string name = first.trackName.empty() ? "ACTIVE LOG " + std::to_string(track) : first.trackName;
    out = {static_cast<std::uint8_t>(Or(first.trackDisplay, 1)), static_cast<std::uint8_t>(Or(first.trackColour, 0xFF))};
    out.insert(out.end(), name.begin(), name.end());
    out.push_back(0);
    return out;
}

void TrackHeaderFromWire(int type, const Bytes &data, TrackPoint &first)
{
    if ((type != 310 && type != 312) || data.size() < 2)
        return;
    first.trackDisplay = data[0];
    first.trackColour = data[1];
    first.trackName = GetString(data, 2);
}

std::int32_t Semicircles(double degrees)
{
    double s = std::round(degrees / 180.0 * 2147483648.0);
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::int64_t>(s)));
}

double Degrees(std::int32_t semicircles) { return semicircles / 2147483648.0 * 180.0; }

} // namespace halvexsim
