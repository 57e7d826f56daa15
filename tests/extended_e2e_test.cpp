// Every field a receiver keeps, through the extended exports: what went up
// comes back field by field where the receiver's types hold it, and as
// "not given" (NaN, -1, empty) where they do not.
#include <cmath>

#include "transfers.h"

namespace {

using namespace transfers;

// A waypoint as the tests compare it: host strings as text.
struct FullWaypoint {
    double latitude = 0, longitude = 0, altitude = NAN, depth = NAN, proximity = NAN, time = NAN,
           temperature = NAN;
    int symbol = -1, display = -1, colour = -1, category = -1, wptClass = -1, given = 0;
    std::string ident, comment, facility, city, address, crossRoad;
};

struct FullPoint {
    double time = NAN, latitude = 0, longitude = 0, altitude = NAN, depth = NAN, temperature = NAN;
    int newTrack = 0, trackStart = 0, trackColour = -1, trackDisplay = -1, given = 0;
    std::string trackName;
};

struct HeardEx {
    std::mutex lock;
    std::vector<FullWaypoint> waypoints;
    std::vector<HostRoute> routes; // strings replaced by the two below
    std::vector<std::string> routeComments, routeIdents;
    std::vector<FullPoint> points;
    int finals = 0;
} heardEx;

FullWaypoint FromHost(HostWaypointEx e)
{
    return {e.latitude, e.longitude, e.altitude, e.depth, e.proximity, e.time, e.temperature,
            e.symbol,   e.display,   e.colour,   e.category, e.wptClass, e.given, Text(e.ident),
            Text(e.comment), Text(e.facility), Text(e.city), Text(e.address), Text(e.crossRoad)};
}

void Fill(HostWaypointEx &e, const FullWaypoint &w)
{
    e = HostWaypointEx{w.latitude,     w.longitude, w.altitude,         w.depth,          w.proximity,
                       w.time,         w.temperature, w.symbol,        w.display,        w.colour,
                       w.category,     w.wptClass,  0,                 Bstr(w.ident),    Bstr(w.comment),
                       Bstr(w.facility), Bstr(w.city), Bstr(w.address), Bstr(w.crossRoad)};
}

void Fill(HostTrackPointEx &e, const FullPoint &p)
{
    e = HostTrackPointEx{p.time,      p.latitude,   p.longitude,    p.altitude,     p.depth,
                         p.temperature, p.newTrack, p.trackStart,   p.trackColour,  p.trackDisplay,
                         0,           Bstr(p.trackName)};
}

std::vector<FullWaypoint> ReadAll(SAFEARRAY *array)
{
    std::vector<FullWaypoint> out;
    for (ULONG i = 0; array && i < array->rgsabound[0].cElements; i++)
        out.push_back(FromHost(static_cast<HostWaypointEx *>(array->pvData)[i]));
    return out;
}

void HALVEX_CALL OnWaypointsEx(int32_t, int32_t, SAFEARRAY **array)
{
    std::lock_guard<std::mutex> hold(heardEx.lock);
    heardEx.waypoints = ReadAll(*array);
    heardEx.finals++;
}

void HALVEX_CALL OnRoutesEx(int32_t, int32_t, SAFEARRAY **routes, SAFEARRAY **waypoints)
{
    std::lock_guard<std::mutex> hold(heardEx.lock);
    heardEx.waypoints = ReadAll(*waypoints);
    heardEx.routes.clear();
    heardEx.routeComments.clear();
    heardEx.routeIdents.clear();
    for (ULONG i = 0; *routes && i < (*routes)->rgsabound[0].cElements; i++) {
        HostRoute r = static_cast<HostRoute *>((*routes)->pvData)[i];
        heardEx.routes.push_back(r);
        heardEx.routeComments.push_back(Text(r.comment));
        heardEx.routeIdents.push_back(Text(r.ident));
    }
    heardEx.finals++;
}

int16_t HALVEX_CALL OnTrackPointEx(int32_t, int32_t value, HostTrackPointEx *point)
{
    std::lock_guard<std::mutex> hold(heardEx.lock);
    if (value == HalvexDownloadEnd) {
        heardEx.finals++;
        return 0;
    }
    HostTrackPointEx p = *point;
    heardEx.points.push_back({p.time, p.latitude, p.longitude, p.altitude, p.depth, p.temperature, p.newTrack,
                              p.trackStart, p.trackColour, p.trackDisplay, p.given, Text(p.trackName)});
    return -1;
}

struct Receiver {
    const char *protocols;
    int waypointType, holds;
    int routeHeader;
    int trackHolds;
};

const int kLater = HalvexHoldsComment | HalvexHoldsAltitude | HalvexHoldsDepth | HalvexHoldsProximity |
                   HalvexHoldsSymbol | HalvexHoldsDisplay | HalvexHoldsColour | HalvexHoldsClass | HalvexHoldsPlace;

const Receiver receivers[] = {
    {"P000,L001,A010,A100,D103,A201,D201,A300,D300", 103,
     HalvexHoldsComment | HalvexHoldsSymbol | HalvexHoldsDisplay, 201, HalvexHoldsTime},
    {"P000,L001,A010,A100,D108,A201,D202,D108,D210,A301,D310,D301", 108, kLater, 202,
     HalvexHoldsTime | HalvexHoldsAltitude | HalvexHoldsDepth | HalvexHoldsTrackName},
    {"P000,L001,A010,A100,D109,A201,D202,D109,D210,A301,D312,D302", 109, kLater, 202,
     HalvexHoldsTime | HalvexHoldsAltitude | HalvexHoldsDepth | HalvexHoldsTemperature | HalvexHoldsTrackName},
    {"P000,L001,A010,A100,D110,A201,D200,D110,D210,A302,D311,D302", 110,
     kLater | HalvexHoldsTime | HalvexHoldsTemperature | HalvexHoldsCategory, 200,
     HalvexHoldsTime | HalvexHoldsAltitude | HalvexHoldsDepth | HalvexHoldsTemperature},
};

const double kToday = 46365.5; // 2026-12-09 12:00 UTC

// Every field set, in values a float and the receiver's widths keep exactly.
const std::vector<FullWaypoint> kFull = {
    {51.5, -0.125, 46.5, 11.25, 250, kToday, 18.5, 8255, 1, 5, 3, 0, 0, "CACHE1", "under the bridge", "Tower",
     "London", "Tower Bridge Road", "Tooley Street"},
    // Nothing but ident and position: the receiver's defaults go up.
    {-33.75, 151.25, NAN, NAN, NAN, NAN, NAN, -1, -1, -1, -1, -1, 0, "PLAIN", "", "", "", "", ""},
};

class Extended : public Transfers, public ::testing::WithParamInterface<Receiver> {
protected:
    void SetUp() override
    {
        Transfers::SetUp();
        std::lock_guard<std::mutex> hold(heardEx.lock);
        heardEx.waypoints.clear();
        heardEx.routes.clear();
        heardEx.points.clear();
        heardEx.finals = 0;
    }
    PortSession *ReadyFor()
    {
        halvexsim::Config config;
        config.protocols = halvexsim::ParseProtocols(GetParam().protocols);
        return Ready(config);
    }
    int FinalsEx()
    {
        std::lock_guard<std::mutex> hold(heardEx.lock);
        return heardEx.finals;
    }
    // What the receiver's type makes of a sent waypoint.
    FullWaypoint Expected(const FullWaypoint &sent) const
    {
        int holds = GetParam().holds;
        FullWaypoint w = sent;
        auto measure = [&](double &field, int bit) {
            field = (holds & bit) && !std::isnan(field) ? static_cast<float>(field) : NAN;
        };
        auto number = [&](int &field, int bit, int fallback) { field = holds & bit ? (field < 0 ? fallback : field) : -1; };
        measure(w.altitude, HalvexHoldsAltitude);
        measure(w.depth, HalvexHoldsDepth);
        measure(w.proximity, HalvexHoldsProximity);
        measure(w.temperature, HalvexHoldsTemperature);
        w.time = holds & HalvexHoldsTime ? w.time : NAN;
        int type = GetParam().waypointType;
        number(w.symbol, HalvexHoldsSymbol, type == 103 ? 0 : 18);
        if (type == 103 && w.symbol > 255)
            w.symbol &= 0xFF;
        number(w.display, HalvexHoldsDisplay, 0);
        number(w.colour, HalvexHoldsColour, type == 108 ? 0xFF : 0x1F);
        number(w.category, HalvexHoldsCategory, 0);
        number(w.wptClass, HalvexHoldsClass, 0);
        if (!(holds & HalvexHoldsPlace))
            w.facility = w.city = w.address = w.crossRoad = "";
        if (type == 103) // six characters, fixed-width upper-case text
            w.comment = "UNDER THE BRIDGE";
        w.comment = sent.comment.empty() ? "" : w.comment;
        w.given = holds;
        return w;
    }
};

void ExpectSame(const FullWaypoint &got, const FullWaypoint &want)
{
    auto same = [](double a, double b) { return (std::isnan(a) && std::isnan(b)) || std::fabs(a - b) < 1e-6; };
    EXPECT_EQ(got.ident, want.ident);
    EXPECT_EQ(got.comment, want.comment) << "trimmed of the receiver's padding";
    EXPECT_NEAR(got.latitude, want.latitude, 1e-6);
    EXPECT_NEAR(got.longitude, want.longitude, 1e-6);
    EXPECT_TRUE(same(got.altitude, want.altitude)) << got.altitude << " " << want.altitude;
    EXPECT_TRUE(same(got.depth, want.depth)) << got.depth;
    EXPECT_TRUE(same(got.proximity, want.proximity)) << got.proximity;
    EXPECT_TRUE(same(got.time, want.time)) << got.time;
    EXPECT_TRUE(same(got.temperature, want.temperature)) << got.temperature;
    EXPECT_EQ(got.symbol, want.symbol);
    EXPECT_EQ(got.display, want.display);
    EXPECT_EQ(got.colour, want.colour);
    EXPECT_EQ(got.category, want.category);
    EXPECT_EQ(got.wptClass, want.wptClass);
    EXPECT_EQ(got.given, want.given);
    EXPECT_EQ(got.facility + "|" + got.city + "|" + got.address + "|" + got.crossRoad,
              want.facility + "|" + want.city + "|" + want.address + "|" + want.crossRoad);
}

TEST_P(Extended, WaypointsKeepEveryFieldTheTypeHolds)
{
    PortSession *session = ReadyFor();
    HostArray<HostWaypointEx> array(kFull);
    HalvexUploadCallback uploaded = OnUpload;
    ASSERT_EQ(HalvexUploadWayPtExInit(session, &array.array, &uploaded), 1);
    ASSERT_TRUE(WaitUntil([&] { return Uploads() == 1; }, 5000));
    HalvexWaypointExCallback downloaded = OnWaypointsEx;
    ASSERT_EQ(HalvexDownloadWayPtExInit(session, &downloaded), 1);
    ASSERT_TRUE(WaitUntil([&] { return FinalsEx() == 1; }, 5000));
    std::lock_guard<std::mutex> hold(heardEx.lock);
    ASSERT_EQ(heardEx.waypoints.size(), kFull.size());
    for (size_t i = 0; i < kFull.size(); i++) {
        SCOPED_TRACE(kFull[i].ident);
        ExpectSame(heardEx.waypoints[i], Expected(kFull[i]));
    }
}

TEST_P(Extended, RoutesCarryExtendedWaypointsAndANumberOnlyWhereTheHeaderHasOne)
{
    PortSession *session = ReadyFor();
    HostArray<HostWaypointEx> points(kFull);
    HostArray<HostRoute> routes(1);
    routes[0] = HostRoute{0, 2, 44, Bstr("BRIDGES"), Bstr("Bridges")};
    HalvexUploadCallback uploaded = OnUpload;
    ASSERT_EQ(HalvexUploadRouteExInit(session, &routes.array, &points.array, &uploaded), 1);
    ASSERT_TRUE(WaitUntil([&] { return Uploads() == 1; }, 5000));
    HalvexRouteExCallback downloaded = OnRoutesEx;
    ASSERT_EQ(HalvexDownloadRouteExInit(session, &downloaded), 1);
    ASSERT_TRUE(WaitUntil([&] { return FinalsEx() == 1; }, 5000));
    std::lock_guard<std::mutex> hold(heardEx.lock);
    ASSERT_EQ(heardEx.routes.size(), 1u);
    EXPECT_EQ(heardEx.routes[0].number, GetParam().routeHeader == 202 ? -1 : 44);
    EXPECT_EQ(heardEx.routes[0].waypointCount, 2);
    EXPECT_EQ(heardEx.routeIdents[0], GetParam().routeHeader == 202 ? "Bridges" : "");
    ASSERT_EQ(heardEx.waypoints.size(), 2u);
    ExpectSame(heardEx.waypoints[0], Expected(kFull[0]));
}

TEST_P(Extended, TracksKeepTheirNamesMeasuresAndSegments)
{
    PortSession *session = ReadyFor();
    const int holds = GetParam().trackHolds;
    std::vector<FullPoint> sent = {
        {kToday, 45.0, 7.0, 120.5, 2.25, -3.5, 1, 1, 5, 1, 0, "MORNING WALK"},
        {kToday + 5 / 86400.0, 45.001, 7.0, 121, NAN, NAN, 0, 0, -1, -1, 0, ""},
        {kToday + 60 / 86400.0, 45.002, 7.0, NAN, NAN, NAN, 1, 0, -1, -1, 0, ""}, // a new segment
        {kToday + 3600 / 86400.0, 46.0, 7.5, 300, NAN, NAN, 1, 1, 2, 0, 0, "EVENING"},
        {NAN, 46.001, 7.5, NAN, NAN, NAN, 0, 0, -1, -1, 0, ""}, // no time
    };
    HostArray<HostTrackPointEx> array(sent);
    HalvexUploadCallback uploaded = OnUpload;
    ASSERT_EQ(HalvexUploadTrackExInit(session, &array.array, &uploaded), 1);
    ASSERT_TRUE(WaitUntil([&] { return Uploads() == 1; }, 5000));
    HalvexTrackExCallback downloaded = OnTrackPointEx;
    ASSERT_EQ(HalvexDownloadTrackExInit(session, &downloaded), 1);
    ASSERT_TRUE(WaitUntil([&] { return FinalsEx() == 1; }, 5000));
    std::lock_guard<std::mutex> hold(heardEx.lock);
    ASSERT_EQ(heardEx.points.size(), sent.size());
    bool headed = GetParam().waypointType != 103;
    for (size_t i = 0; i < sent.size(); i++) {
        SCOPED_TRACE(i);
        const FullPoint &got = heardEx.points[i], &want = sent[i];
        if (std::isnan(want.time))
            EXPECT_TRUE(std::isnan(got.time)) << "no time comes back as none";
        else
            EXPECT_NEAR(got.time, want.time, 1e-8) << "in UTC, from the receiver's own epoch";
        EXPECT_NEAR(got.latitude, want.latitude, 1e-6);
        auto measure = [&](double value, int bit) { return holds & bit ? value : NAN; };
        for (auto [g, w, bit] : {std::tuple{got.altitude, want.altitude, HalvexHoldsAltitude},
                                 std::tuple{got.depth, want.depth, HalvexHoldsDepth},
                                 std::tuple{got.temperature, want.temperature, HalvexHoldsTemperature}}) {
            double expected = measure(w, bit);
            EXPECT_TRUE((std::isnan(g) && std::isnan(expected)) || g == expected) << g << " " << expected;
        }
        EXPECT_EQ(got.newTrack, want.newTrack);
        EXPECT_EQ(got.trackStart, headed ? want.trackStart : 0);
        bool named = holds & HalvexHoldsTrackName;
        EXPECT_EQ(got.trackName, named ? want.trackName : "");
        EXPECT_EQ(got.trackColour, named ? want.trackColour : -1);
        EXPECT_EQ(got.trackDisplay, named ? want.trackDisplay : -1);
        EXPECT_EQ(got.given, holds);
    }
}

INSTANTIATE_TEST_SUITE_P(EachGeneration, Extended, ::testing::ValuesIn(receivers),
                         [](const ::testing::TestParamInfo<Receiver> &info) {
                             return "D" + std::to_string(info.param.waypointType);
                         });

} // namespace
