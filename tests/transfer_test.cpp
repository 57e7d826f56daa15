// Waypoint, route and track transfers end to end: the exports against the
// simulated receiver, checked on the receiver's side and back at the host.
#include <cmath>
#include <cstring>

#include "transfers.h"

namespace {

using namespace transfers;

TEST_F(Transfers, WaypointsRoundTripInEveryTypeWithADecoder)
{
    for (int type : {100, 102, 103, 104, 105, 106, 107, 150, 151, 152, 154, 155}) {
        SCOPED_TRACE("D" + std::to_string(type));
        TearDown();
        SetUp();
        PortSession *session = Ready(Types(type));
        ASSERT_NE(session, nullptr);
        UploadSample(session, type);

        ASSERT_EQ(HalvexDownloadWayPtInit(session, &waypointDownload), 1);
        ASSERT_TRUE(WaitUntil([&] { return Downloads() == 1; }, 5000));
        std::lock_guard<std::mutex> hold(heard.lock);
        ASSERT_EQ(heard.waypoints.size(), sample.size());
        for (size_t i = 0; i < sample.size(); i++) {
            Waypoint expected = Normalised(type, sample[i]);
            EXPECT_EQ(heard.waypoints[i].ident, expected.ident);
            EXPECT_EQ(heard.waypoints[i].comment, expected.comment);
            EXPECT_NEAR(heard.waypoints[i].latitude, sample[i].latitude, 180.0 / 2147483648.0);
            EXPECT_NEAR(heard.waypoints[i].longitude, sample[i].longitude, 180.0 / 2147483648.0);
        }
    }
}

TEST_F(Transfers, EmptyUploadsAndDownloads)
{
    PortSession *session = Ready(Types(103));
    HostArray<HostWaypoint> none(0);
    ASSERT_EQ(HalvexUploadWayPtInit(session, &none.array, &upload), 1);
    ASSERT_TRUE(WaitUntil([&] { return Uploads() == 1; }, 3000));
    ASSERT_EQ(HalvexDownloadWayPtInit(session, &waypointDownload), 1);
    ASSERT_TRUE(WaitUntil([&] { return Downloads() == 1; }, 3000));
    std::lock_guard<std::mutex> hold(heard.lock);
    EXPECT_FALSE(heard.nullArray) << "an empty array, not a null handle";
    EXPECT_TRUE(heard.waypoints.empty());
    // The request, two ACKs, 27, 12, the command, and the ACKs of 27 and 12.
    EXPECT_TRUE(WaitUntil([&] { return receiver->Statistics().framesReceived == 8; }, 2000))
        << receiver->Statistics().framesReceived;
}

TEST_F(Transfers, ANakMidUploadResendsThatRecord)
{
    halvexsim::Config config = Types(103);
    config.faults.nakNth = 4; // request, ACK, ACK... the second waypoint
    PortSession *session = Ready(config);
    HostArray<HostWaypoint> array(sample);
    ASSERT_EQ(HalvexUploadWayPtInit(session, &array.array, &upload), 1);
    ASSERT_TRUE(WaitUntil([&] { return Uploads() == 1; }, 5000));
    EXPECT_EQ(heard.uploads[0].first, 0);
    EXPECT_EQ(receiver->StoredData().waypoints.size(), 3u);
    EXPECT_EQ(receiver->Statistics().naksSent, 1);
    EXPECT_EQ(CountInLog("Nak received\n"), 1);
}

TEST_F(Transfers, AReceiverTypeWithoutEncoderEndsTheUploadAtOnce)
{
    PortSession *session = Ready(Types(101));
    HostArray<HostWaypoint> array(1);
    Fill(array[0], sample[0]);
    ASSERT_EQ(HalvexUploadWayPtInit(session, &array.array, &upload), 1);
    ASSERT_TRUE(WaitUntil([&] { return Uploads() == 1; }, 2000));
    EXPECT_EQ(heard.uploads[0], std::make_pair(1, 0));
    EXPECT_EQ(heard.why, HalvexErrorNotSupported);
    EXPECT_TRUE(LogShows("Way point upload request failed\n"));
    EXPECT_EQ(Objective(session), ObjectiveReady);
}

TEST_F(Transfers, RefusalsSendNothing)
{
    halvexsim::Config config = Types(103);
    PortSession *idle = Connect(config);
    HostArray<HostWaypoint> array(1);
    Fill(array[0], sample[0]);
    EXPECT_EQ(HalvexUploadWayPtInit(idle, &array.array, &upload), 0) << "not identified";
    EXPECT_EQ(HalvexGetLastError(), HalvexErrorNotReady);
    EXPECT_EQ(HalvexDownloadTrackInit(nullptr, &trackDownload), 0);
    EXPECT_EQ(HalvexGetLastError(), HalvexErrorBadSession);
    CloseCommPort(idle);
    receiver->Stop();

    config.faults.ackDelayMs = 300; // keeps the first transfer busy
    PortSession *session = Ready(config);
    HalvexProductCallback identified = OnProduct;
    // The request and the ACKs of the product data and the protocol array.
    ASSERT_TRUE(WaitUntil([&] { return receiver->Statistics().framesReceived == 3; }, 2000));
    int framesBefore = 3;
    SAFEARRAY *counted = nullptr;
    SafeArrayAllocDescriptor(1, &counted);
    counted->rgsabound[0].cElements = 5; // and no data
    EXPECT_EQ(HalvexUploadWayPtInit(session, &counted, &upload), 0);
    EXPECT_EQ(HalvexGetLastError(), HalvexErrorBadArgument);
    SafeArrayDestroyDescriptor(counted);
    EXPECT_EQ(HalvexUploadTrackInit(session, nullptr, &upload), 0);
    EXPECT_EQ(HalvexGetLastError(), HalvexErrorBadArgument) << "no array is the host's mistake, not a lack of memory";
    HostArray<HostRoute> routes(1);
    routes[0].firstWaypoint = 1;
    routes[0].waypointCount = 1; // element 1 of a one-element array
    EXPECT_EQ(HalvexUploadRouteInit(session, &routes.array, &array.array, &upload), 0);
    EXPECT_EQ(HalvexDownloadWayPtInit(session, &waypointDownload), 1);
    EXPECT_EQ(HalvexGetLastError(), HalvexErrorNone);
    EXPECT_EQ(HalvexDownloadRouteInit(session, &routeDownload), 0) << "a transfer is running";
    EXPECT_EQ(HalvexGetLastError(), HalvexErrorBusy);
    EXPECT_EQ(HalvexGetProductInfoInit(session, &identified), 1) << "identification may always start anew";
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(receiver->Statistics().framesReceived, framesBefore + 2);
    CloseCommPort(session);
}

TEST_F(Transfers, RoutesRoundTripInEachHeaderType)
{
    for (int routeType : {200, 201, 202}) {
        SCOPED_TRACE("D" + std::to_string(routeType));
        TearDown();
        SetUp();
        PortSession *session = Ready(Types(103, routeType));
        HostArray<HostRoute> routes(3);
        HostArray<HostWaypoint> waypoints(sample);
        routes[0] = {0, 2, 258, Bstr("north loop"), Bstr("Loop North")};
        routes[1] = {2, 0, 4, Bstr("empty"), Bstr("")};
        routes[2] = {2, 1, 5, Bstr("last"), Bstr("Last One")};
        ASSERT_EQ(HalvexUploadRouteInit(session, &routes.array, &waypoints.array, &upload), 1);
        ASSERT_TRUE(WaitUntil([&] { return Uploads() == 1; }, 5000));
        EXPECT_EQ(heard.uploads[0], std::make_pair(0, 0));
        halvexsim::Store stored = receiver->StoredData();
        ASSERT_EQ(stored.routes.size(), 3u);
        EXPECT_EQ(stored.routes[0].waypoints.size(), 2u);
        EXPECT_EQ(stored.routes[1].waypoints.size(), 0u);
        EXPECT_EQ(stored.routes[2].waypoints.size(), 1u);

        ASSERT_TRUE(DownloadRoutes(session));
        std::lock_guard<std::mutex> hold(heard.lock);
        EXPECT_EQ(heard.uploads[0], std::make_pair(0, -1));
        ASSERT_EQ(heard.routes.size(), 3u);
        EXPECT_EQ(heard.routes[1].firstWaypoint, 2);
        EXPECT_EQ(heard.routes[1].waypointCount, 0);
        EXPECT_EQ(heard.routes[2].firstWaypoint, 2);
        EXPECT_EQ(heard.waypoints.size(), 3u);
        if (routeType == 200) {
            EXPECT_EQ(heard.routes[0].number, 2) << "the low byte of 258";
            EXPECT_EQ(heard.routeComments[0], "");
        } else if (routeType == 201) {
            EXPECT_EQ(heard.routeComments[0], "NORTH LOOP          ");
        } else {
            EXPECT_EQ(heard.routes[0].number, 0);
            EXPECT_EQ(heard.routeIdents[0], "Loop North");
            EXPECT_EQ(heard.routeIdents[1], "Route 4");
        }
    }
}

TEST_F(Transfers, TracksUploadWithTheirSegmentsAndDownloadPointByPoint)
{
    PortSession *session = Ready(Types(103));
    HostArray<HostTrackPoint> track(3);
    for (int i = 0; i < 3; i++)
        track[i] = HostTrackPoint{32875.5 + i / 86400.0, 45.0 + i, 7.0, static_cast<int16_t>(i == 2), {}};
    ASSERT_EQ(HalvexUploadTrackInit(session, &track.array, &upload), 1);
    ASSERT_TRUE(WaitUntil([&] { return Uploads() == 1; }, 5000));
    halvexsim::Store stored = receiver->StoredData();
    ASSERT_EQ(stored.trackPoints.size(), 3u);
    EXPECT_TRUE(stored.trackPoints[0].newTrack);
    EXPECT_FALSE(stored.trackPoints[1].newTrack);
    EXPECT_TRUE(stored.trackPoints[2].newTrack) << "a new segment";
    EXPECT_EQ(stored.trackPoints[0].time, 43200u);
    EXPECT_EQ(stored.trackPoints[0].latitude, 536870912);

    ASSERT_EQ(HalvexDownloadTrackInit(session, &trackDownload), 1);
    ASSERT_TRUE(WaitUntil([&] { return Points() >= 4; }, 5000));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::lock_guard<std::mutex> hold(heard.lock);
    ASSERT_EQ(heard.points.size(), 4u);
    EXPECT_EQ(heard.points[0].first, 3);
    EXPECT_EQ(heard.points[0].second.newTrack, 1);
    EXPECT_EQ(heard.points[1].second.newTrack, 0);
    EXPECT_EQ(heard.points[2].second.newTrack, 1);
    EXPECT_NEAR(heard.points[2].second.time, 32875.5 + 2 / 86400.0, 1e-9);
    EXPECT_EQ(heard.points[3].first, -1);
    EXPECT_EQ(heard.points[3].second.time, 0.0) << "the end call carries a zero-filled point";
}

TEST_F(Transfers, TheHostMayStopATrackDownload)
{
    halvexsim::Config config = Types(103);
    for (uint32_t i = 0; i < 50; i++)
        config.store.trackPoints.push_back({static_cast<int32_t>(i), 0, i, i == 0});
    PortSession *session = Ready(config);
    {
        std::lock_guard<std::mutex> hold(heard.lock);
        heard.stopAfter = 1;
    }
    ASSERT_EQ(HalvexDownloadTrackInit(session, &trackDownload), 1);
    ASSERT_TRUE(LogShows("Aborting Track download\n"));
    EXPECT_TRUE(WaitUntil([&] { return receiver->Statistics().aborts == 1; }, 2000));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::lock_guard<std::mutex> hold(heard.lock);
    EXPECT_EQ(heard.points.size(), 1u) << "no further call, no end call";
    EXPECT_EQ(heard.points[0].first, 50);
}

TEST_F(Transfers, ClosingThePortCutsATransferOff)
{
    halvexsim::Config config = Types(103);
    for (int i = 0; i < 30; i++)
        config.store.waypoints.push_back({"WPT" + std::to_string(i), i, i, ""});
    config.baud = 9600; // about 2 s of waypoints on the line: the close comes in the middle
    PortSession *session = Ready(config);
    ASSERT_EQ(HalvexDownloadWayPtInit(session, &waypointDownload), 1);
    ASSERT_TRUE(LogShows("WayPt="));
    CloseCommPort(session); // mid-download: the working record goes with it
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(Downloads(), 0);
}

} // namespace

namespace {

TEST_F(Transfers, FiveHundredWaypointsRoundTripExactly)
{
    PortSession *session = Ready(Types(103));
    HostArray<HostWaypoint> array(500);
    std::vector<Waypoint> sent;
    for (int i = 0; i < 500; i++) {
        sent.push_back({"wp" + std::to_string(i), -60.0 + i * 0.237, -170.0 + i * 0.671, "point number " + std::to_string(i)});
        Fill(array[i], sent.back());
    }
    auto start = Clock::now();
    ASSERT_EQ(HalvexUploadWayPtInit(session, &array.array, &upload), 1);
    ASSERT_TRUE(WaitUntil([&] { return Uploads() == 1; }, 10000));
    ASSERT_EQ(HalvexDownloadWayPtInit(session, &waypointDownload), 1);
    ASSERT_TRUE(WaitUntil([&] { return Downloads() == 1; }, 10000));
    // The figure is for reading; scripts/bench.sh measures.
    std::printf("500 D103 waypoints up and down: %.3f s\n", std::chrono::duration<double>(Clock::now() - start).count());
    std::lock_guard<std::mutex> hold(heard.lock);
    ASSERT_EQ(heard.waypoints.size(), 500u);
    for (int i = 0; i < 500; i++) {
        Waypoint expected = Normalised(103, sent[i]);
        ASSERT_EQ(heard.waypoints[i].ident, expected.ident) << i;
        ASSERT_EQ(heard.waypoints[i].comment, expected.comment) << i;
        ASSERT_EQ(DegreesToSemicircles(heard.waypoints[i].latitude), DegreesToSemicircles(sent[i].latitude)) << i;
        ASSERT_EQ(DegreesToSemicircles(heard.waypoints[i].longitude), DegreesToSemicircles(sent[i].longitude)) << i;
    }
}

TEST_F(Transfers, TwoThousandTrackPointsArriveOneCallbackEach)
{
    halvexsim::Config config = Types(103);
    for (uint32_t i = 0; i < 2000; i++)
        config.store.trackPoints.push_back(
            {halvexsim::Semicircles(45 + i * 1e-4), halvexsim::Semicircles(7 - i * 1e-4), 1000000000u + 5 * i, i % 500 == 0});
    PortSession *session = Ready(config);
    auto start = Clock::now();
    ASSERT_EQ(HalvexDownloadTrackInit(session, &trackDownload), 1);
    ASSERT_TRUE(WaitUntil([&] { return Points() == 2001; }, 20000));
    std::printf("2000 track points: %.3f s\n", std::chrono::duration<double>(Clock::now() - start).count());
    std::lock_guard<std::mutex> hold(heard.lock);
    for (uint32_t i = 0; i < 2000; i++) {
        const HostTrackPoint &p = heard.points[i].second;
        ASSERT_EQ(heard.points[i].first, 2000);
        ASSERT_EQ(DegreesToSemicircles(p.latitude), config.store.trackPoints[i].latitude);
        ASSERT_EQ(DegreesToSemicircles(p.longitude), config.store.trackPoints[i].longitude);
        ASSERT_EQ(std::llround((p.time - 32875.0) * 86400.0), 1000000000LL + 5 * i);
        ASSERT_EQ(p.newTrack, i % 500 == 0 ? 1 : 0);
    }
    EXPECT_EQ(heard.points[2000].first, -1);
}

TEST_F(Transfers, AReceiverThatStopsAnsweringEndsAnUploadAfterFourSends)
{
    halvexsim::Config config = Types(103);
    config.faults.silentAfter = 5; // request, two ACKs, records, first waypoint
    PortSession *session = Ready(config);
    HostArray<HostWaypoint> array(sample);
    ASSERT_EQ(HalvexUploadWayPtInit(session, &array.array, &upload), 1);
    ASSERT_TRUE(WaitUntil([&] { return Uploads() == 1; }, 14000));
    EXPECT_EQ(heard.uploads[0], std::make_pair(1, 0));
    EXPECT_EQ(CountInLog("Halvex retry\n"), 3);
    EXPECT_EQ(heard.why, HalvexErrorNoAnswer);
    EXPECT_TRUE(LogShows("Way point upload request failed\n"));
    EXPECT_EQ(Objective(session), ObjectiveReady);
}

TEST_F(Transfers, AnUnansweredDownloadCallsBackWithNullHandles)
{
    halvexsim::Config config = Types(103);
    config.faults.silentAfter = 3; // identified, then nothing
    PortSession *session = Ready(config);
    auto start = Clock::now();
    ASSERT_EQ(HalvexDownloadRouteInit(session, &routeDownload), 1);
    ASSERT_TRUE(WaitUntil([&] { return Downloads() == 1; }, 14000));
    EXPECT_NEAR(std::chrono::duration<double>(Clock::now() - start).count(), 12.0, 0.2);
    std::lock_guard<std::mutex> hold(heard.lock);
    EXPECT_EQ(heard.uploads.back(), std::make_pair(2, 0));
    EXPECT_TRUE(heard.nullArray);
    EXPECT_EQ(heard.why, HalvexErrorNoAnswer);
}

} // namespace

TEST_F(Transfers, LineCountsSayWhatCrossedTheLine)
{
    halvexsim::Config config;
    // The receiver's fifth frame, its ACK of the first waypoint, arrives
    // damaged: the library sends the waypoint again after 3 s.
    config.faults.corruptNth = 5;
    PortSession *session = Ready(config);
    UploadSample(session, 103);
    ASSERT_EQ(HalvexDownloadWayPtInit(session, &waypointDownload), 1);
    ASSERT_TRUE(WaitUntil([&] { return Downloads() == 1; }, 5000));
    HostLineCounts counts{};
    ASSERT_EQ(HalvexGetLineCounts(session, &counts), 1);
    // The last ACK may still be on its way to the receiver.
    EXPECT_TRUE(WaitUntil([&] { return receiver->Statistics().bytesReceived == uint64_t(counts.bytesSent); }, 2000));
    halvexsim::Stats stats = receiver->Statistics();
    EXPECT_EQ(counts.bytesReceived, static_cast<int32_t>(stats.bytesSent));
    EXPECT_EQ(counts.badFrames, 1);
    EXPECT_EQ(counts.frames, stats.framesSent - 1);
    // The product request, the records count, three waypoints, the transfer
    // complete and the download's command.
    EXPECT_EQ(counts.acks, 7);
    EXPECT_EQ(counts.sentences, 0);
    EXPECT_EQ(counts.lineErrors, 0);
    EXPECT_EQ(HalvexGetLineCounts(session, nullptr), 0);
    EXPECT_EQ(HalvexGetLastError(), HalvexErrorBadArgument);
    CloseCommPort(session);
    EXPECT_EQ(HalvexGetLineCounts(session, &counts), 0);
    EXPECT_EQ(HalvexGetLastError(), HalvexErrorBadSession);
}
