// Receivers of variable-length waypoints end to end: D108, D109 and D110
// waypoints, routes with links between their waypoints and tracks with a
// header before each, up to the simulated receiver and back.
#include "link/product.h"
#include "transfers.h"

namespace {

using namespace transfers;

struct Generation {
    int waypointType;
    const char *tracks; // the track protocol and its header and point types
    int headerType, pointType;
};

const Generation generations[] = {
    {108, "A301,D310,D301", 310, 301},
    {109, "A301,D312,D302", 312, 302},
    {110, "A302,D311,D302", 311, 302},
};

class LaterReceivers : public Transfers, public ::testing::WithParamInterface<Generation> {
protected:
    PortSession *ReadyModern(halvexsim::Config config = {})
    {
        std::string w = "D" + std::to_string(GetParam().waypointType);
        config.protocols = halvexsim::ParseProtocols("P000,L001,A010,A100," + w + ",A201,D202," + w + ",D210," +
                                                     GetParam().tracks);
        PortSession *session = Ready(config);
        LockEngine();
        const ProtocolCaps *caps = ReceiverCaps(session);
        EXPECT_EQ(caps->protocolSlots[SlotWaypointType], GetParam().waypointType);
        EXPECT_EQ(caps->protocolSlots[SlotRouteHeaderType], 202);
        EXPECT_EQ(caps->routeLinkType, 210);
        EXPECT_EQ(caps->trackHeaderType, GetParam().headerType);
        EXPECT_EQ(caps->protocolSlots[SlotTrackPointType], GetParam().pointType);
        UnlockEngine();
        return session;
    }
    // The packets the host sent since the last call, ACKs and NAKs left out.
    std::vector<halvexsim::Packet> HostPackets()
    {
        std::string bytes = receiver->Received();
        std::vector<halvexsim::Packet> packets;
        halvexsim::PacketReader reader([&](const halvexsim::Packet &p) {
            if (p.id != 6 && p.id != 21)
                packets.push_back(p);
        });
        reader.Feed(reinterpret_cast<const std::uint8_t *>(bytes.data()) + seen_, bytes.size() - seen_);
        seen_ = bytes.size();
        return packets;
    }
    size_t seen_ = 0;
};

TEST_P(LaterReceivers, WaypointsGoUpAndComeBackAsTheReceiverKeepsThem)
{
    PortSession *session = ReadyModern();
    UploadSample(session, GetParam().waypointType);

    ASSERT_EQ(HalvexDownloadWayPtInit(session, &waypointDownload), 1);
    ASSERT_TRUE(WaitUntil([&] { return Downloads() == 1; }, 5000));
    std::lock_guard<std::mutex> hold(heard.lock);
    ASSERT_EQ(heard.waypoints.size(), sample.size());
    for (size_t i = 0; i < sample.size(); i++) {
        Waypoint expected = Normalised(GetParam().waypointType, sample[i]);
        EXPECT_EQ(heard.waypoints[i].ident, expected.ident);
        EXPECT_EQ(heard.waypoints[i].comment, expected.comment);
        EXPECT_EQ(DegreesToSemicircles(heard.waypoints[i].longitude), DegreesToSemicircles(sample[i].longitude));
    }
}

TEST_P(LaterReceivers, RouteWaypointsAreLinkedOnTheWireAndCounted)
{
    PortSession *session = ReadyModern();
    HostArray<HostRoute> routes(3);
    HostArray<HostWaypoint> waypoints(sample);
    routes[0] = {0, 3, 1, Bstr(""), Bstr("Three Stops")};
    routes[1] = {3, 0, 2, Bstr(""), Bstr("Empty")};
    routes[2] = {2, 1, 3, Bstr(""), Bstr("One Stop")};
    HostPackets();
    ASSERT_EQ(HalvexUploadRouteInit(session, &routes.array, &waypoints.array, &upload), 1);
    ASSERT_TRUE(WaitUntil([&] { return Uploads() == 1; }, 5000));
    EXPECT_EQ(heard.uploads[0], std::make_pair(0, 0));

    std::string ids;
    std::vector<halvexsim::Packet> sent = HostPackets();
    for (const halvexsim::Packet &p : sent)
        ids += std::to_string(p.id) + " ";
    // header, waypoint, link, waypoint, link, waypoint; a header alone; header, waypoint.
    EXPECT_EQ(ids, "27 29 30 98 30 98 30 29 29 30 12 ");
    EXPECT_EQ(halvexsim::GetU16(sent[0].data, 0), 9) << "three headers, four waypoints, two links";
    halvexsim::Store stored = receiver->StoredData();
    ASSERT_EQ(stored.routes.size(), 3u);
    EXPECT_EQ(stored.routes[0].ident, "Three Stops");
    EXPECT_EQ(stored.routes[0].waypoints.size(), 3u);
    EXPECT_EQ(stored.routes[2].waypoints.size(), 1u);

    ASSERT_TRUE(DownloadRoutes(session));
    std::lock_guard<std::mutex> hold(heard.lock);
    EXPECT_EQ(heard.uploads[0], std::make_pair(0, -1)) << "links count toward the announced records";
    ASSERT_EQ(heard.routes.size(), 3u);
    EXPECT_EQ(heard.routeIdents, (std::vector<std::string>{"Three Stops", "Empty", "One Stop"}));
    EXPECT_EQ(heard.routes[0].waypointCount, 3);
    EXPECT_EQ(heard.routes[1].waypointCount, 0);
    EXPECT_EQ(heard.routes[2].firstWaypoint, 3);
    ASSERT_EQ(heard.waypoints.size(), 4u);
    EXPECT_EQ(heard.waypoints[3].ident, Normalised(GetParam().waypointType, sample[2]).ident);
}

TEST_P(LaterReceivers, EachTrackHasAHeaderAndStartsAtTheNextPoint)
{
    // Two tracks, points 0-2 and 3-4; the first point's own flag is clear,
    // so only its header starts it.
    halvexsim::Config config;
    for (std::uint32_t i = 0; i < 5; i++)
        config.store.trackPoints.push_back(
            {halvexsim::Semicircles(50.0 + i), halvexsim::Semicircles(8.0), 1000 + i, i == 3});
    PortSession *session = ReadyModern(config);
    ASSERT_EQ(HalvexDownloadTrackInit(session, &trackDownload), 1);
    ASSERT_TRUE(WaitUntil([&] { return Finals() == 1; }, 5000));
    {
        std::lock_guard<std::mutex> hold(heard.lock);
        ASSERT_EQ(heard.points.size(), 6u);
        for (int i = 0; i < 5; i++) {
            EXPECT_EQ(heard.points[i].second.newTrack, i == 0 || i == 3 ? 1 : 0) << i;
            EXPECT_NEAR(heard.points[i].second.latitude, 50.0 + i, 1e-7);
        }
        // The count the host is given leaves out the headers seen so far,
        // so by the last point it is the points' own.
        EXPECT_EQ(heard.points[0].first, 6);
        EXPECT_EQ(heard.points[4].first, 5);
        EXPECT_EQ(heard.points[5].first, -1);
    }
    EXPECT_FALSE(LogShows("Track download request failed\n", 100));

    // Up: each track under its header (the first point starts one whatever
    // its flag says); the count has both.
    HostArray<HostTrackPoint> track(3);
    for (int i = 0; i < 3; i++)
        track[i] = HostTrackPoint{32875.5 + i / 86400.0, 45.0 + i, 7.0, static_cast<int16_t>(i == 2), {}};
    HostPackets();
    ASSERT_EQ(HalvexUploadTrackInit(session, &track.array, &upload), 1);
    ASSERT_TRUE(WaitUntil([&] { return Uploads() == 1; }, 5000));
    EXPECT_EQ(heard.uploads[0], std::make_pair(0, 0));
    std::vector<halvexsim::Packet> sent = HostPackets();
    ASSERT_EQ(sent.size(), 7u);
    EXPECT_EQ(halvexsim::GetU16(sent[0].data, 0), 5);
    EXPECT_EQ(sent[1].id, 99);
    EXPECT_EQ(sent[2].data.size(), GetParam().pointType == 301 ? 21u : 25u);
    EXPECT_EQ(sent[4].id, 99);
    if (GetParam().headerType != 311) {
        EXPECT_EQ(std::string(sent[4].data.begin() + 2, sent[4].data.end() - 1), "TRACK 02");
    }
    halvexsim::Store stored = receiver->StoredData();
    ASSERT_EQ(stored.trackPoints.size(), 3u);
    EXPECT_TRUE(stored.trackPoints[0].newTrack);
    EXPECT_FALSE(stored.trackPoints[1].newTrack);
    EXPECT_TRUE(stored.trackPoints[2].newTrack);
    EXPECT_EQ(stored.trackPoints[2].time, 43202u);
    EXPECT_EQ(stored.trackPoints[2].latitude, halvexsim::Semicircles(47.0));
}

INSTANTIATE_TEST_SUITE_P(EachWaypointType, LaterReceivers, ::testing::ValuesIn(generations),
                         [](const auto &info) { return "D" + std::to_string(info.param.waypointType); });

// A receiver of the table identifies without its own array: the rows of
// such receivers name their links and track headers.
TEST_F(Transfers, ATableRowOfALaterReceiverLinksRoutesAndHeadsTracks)
{
    halvexsim::Config config;
    config.productId = 55;
    config.softwareVersion = 300;
    config.protocols = std::nullopt;
    PortSession *session = Connect(config);
    HalvexProductCallback identified = OnProduct;
    ASSERT_EQ(HalvexGetProductInfoInit(session, &identified), 1);
    ASSERT_TRUE(WaitUntil([&] { return Objective(session) == ObjectiveReady; }, 3000));
    LockEngine();
    EXPECT_EQ(ReceiverCaps(session)->protocolSlots[SlotWaypointType], 108);
    EXPECT_EQ(ReceiverCaps(session)->protocolSlots[SlotRouteHeaderType], 202);
    EXPECT_EQ(ReceiverCaps(session)->routeLinkType, 210);
    EXPECT_EQ(ReceiverCaps(session)->trackHeaderType, 310);
    EXPECT_EQ(ReceiverCaps(session)->protocolSlots[SlotTrackPointType], 301);
    UnlockEngine();
}

} // namespace
