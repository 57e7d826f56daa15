#include "sample.h"

#include <cmath>

namespace halvexsim {

Store SampleStore(int trackPoints)
{
    // What the later types add goes out only where the receiver's type
    // holds it: symbols (18 a waypoint, 8255 a geocache, 8256 one found),
    // altitudes, a depth on the river.
    struct Place {
        const char *ident;
        double latitude, longitude;
        const char *comment;
        int symbol;
        float altitude, depth;
    };
    static const Place places[] = {
        {"GRNWCH", 51.477928, -0.001545, "ROYAL OBSERVATORY", 18, 46.0f, kNotSet},
        {"TOWER", 51.508112, -0.075949, "TOWER BRIDGE NORTH END", 8255, 6.5f, 11.0f},
        {"STPAUL", 51.513845, -0.098351, "ST PAULS CATHEDRAL", 8256, 35.0f, kNotSet},
        {"KEWGDN", 51.478081, -0.295575, "KEW GARDENS MAIN GATE", 18, 8.0f, kNotSet},
        {"HAMPST", 51.560793, -0.165653, "PARLIAMENT HILL", 18, 98.0f, kNotSet},
        {"RICHMD", 51.442637, -0.275358, "RICHMOND PARK GATE", 18, 40.5f, kNotSet},
    };
    Store store;
    for (const Place &p : places) {
        Waypoint w{p.ident, Semicircles(p.latitude), Semicircles(p.longitude), p.comment};
        w.symbol = p.symbol;
        w.altitude = p.altitude;
        w.depth = p.depth;
        store.waypoints.push_back(w);
    }
    Route route;
    route.number = 1;
    route.comment = "THAMES WALK";
    route.ident = "Thames walk";
    for (int i = 0; i < 3; ++i)
        route.waypoints.push_back(store.waypoints[static_cast<std::size_t>(i)]);
    store.routes.push_back(route);

    // A loop around the park, a point every 5 s, a second track halfway.
    const std::uint32_t start = 1133568000u; // 2025-12-02 00:00 UTC in receiver seconds, from 1989-12-31
    for (int i = 0; i < trackPoints; ++i) {
        double angle = 2 * M_PI * i / std::max(trackPoints, 1);
        double latitude = 51.4446 + 0.012 * std::sin(angle);
        double longitude = -0.2743 + 0.019 * std::cos(angle);
        TrackPoint point{Semicircles(latitude), Semicircles(longitude), start + 5u * static_cast<std::uint32_t>(i),
                         i == 0 || i == trackPoints / 2};
        point.altitude = static_cast<float>(20.0 + 0.5 * (i % 40));
        if (i == 0 || i == trackPoints / 2)
            point.trackName = i == 0 ? "PARK LOOP WEST" : "PARK LOOP EAST";
        store.trackPoints.push_back(point);
    }
    return store;
}

void RecordAcrossRollover(std::vector<TrackPoint> &points, int rolledOver, double nowUnix)
{
    if (points.empty() || rolledOver <= 0)
        return;
    const std::uint32_t first = points.front().time;
    const double end = nowUnix - 3600.0;
    const double start = end - (points.back().time - first);
    const std::size_t windowEnds = points.size() / 4;
    for (std::size_t i = 0; i < points.size(); ++i) {
        double unix = start + (points[i].time - first);
        if (i >= windowEnds)
            unix -= rolledOver * kRolloverSeconds;
        points[i].time = static_cast<std::uint32_t>(unix - kReceiverEpoch);
    }
}

} // namespace halvexsim
