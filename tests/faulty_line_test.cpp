// Transfers over a line that loses and damages frames in both directions, a
// receiver that falls silent, a device that goes away: every transfer ends
// with exactly the data sent, or with its failure report.
#include <cstdio>

#include "line_faults.h"

namespace {

using namespace transfers;

class FaultyLine : public LineFaults, public ::testing::WithParamInterface<Cell> {};

// Down, up and down again; a failure report is allowed, a wrong result is not.
TEST_P(FaultyLine, EveryTransferEndsExactOrReportsFailure)
{
    const Cell &cell = GetParam();
    Store held = Sample(cell, 80, 0);
    PortSession *session = Ready(Faulty(cell, held), 20000);
    ASSERT_EQ(Objective(session), ObjectiveReady);
    int exact = 0, failed = 0;
    for (int round = 0; round < 3; round++) {
        Outcome outcome = Transfer(cell, session, round == 1, held, 12);
        EXPECT_NE(outcome, Mismatch) << "round " << round;
        exact += outcome == Exact;
        failed += outcome == Failed;
    }
    halvexsim::Stats stats = receiver->Statistics();
    std::printf("%s: %d exact, %d failed; host frames dropped %d, frames corrupted %d, sent again %d, "
                "records repeated to the receiver %d\n",
                cell.name, exact, failed, stats.framesDropped, stats.framesCorrupted, stats.framesResent,
                stats.repeatsReceived);
    // What counts is that no round ends wrong; one exact round shows the
    // faults leave the line usable (a loaded sanitizer build can run two of
    // the three out of time).
    EXPECT_GE(exact, 1);
    EXPECT_GT(stats.framesDropped + stats.framesCorrupted, 0);
}

INSTANTIATE_TEST_SUITE_P(Matrix, FaultyLine,
                         ::testing::Values(Cell{"D103 waypoints", Kind::Waypoints, 103, 201, 11},
                                           Cell{"D105 waypoints", Kind::Waypoints, 105, 201, 12},
                                           Cell{"D200 routes", Kind::Routes, 103, 200, 13},
                                           Cell{"D201 routes", Kind::Routes, 103, 201, 14},
                                           Cell{"D202 routes", Kind::Routes, 105, 202, 15},
                                           Cell{"D300 tracks", Kind::Tracks, 103, 201, 16},
                                           Cell{"D108 waypoints", Kind::Waypoints, 108, 202, 17, kLaterReceiver},
                                           Cell{"D202 routes with links", Kind::Routes, 108, 202, 18, kLaterReceiver},
                                           Cell{"D301 tracks with headers", Kind::Tracks, 108, 202, 19, kLaterReceiver}),
                         [](const ::testing::TestParamInfo<Cell> &info) {
                             std::string name = info.param.name;
                             for (char &c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             return name;
                         });

class SilentReceiver : public LineFaults, public ::testing::WithParamInterface<Cell> {};

// The receiver falls silent after a few records: the download ends with its
// failure report 12 s after the last frame, its records freed.
TEST_P(SilentReceiver, EndsADownloadTwelveSecondsAfterTheLastFrame)
{
    const Cell &cell = GetParam();
    halvexsim::Config config = Types(cell.waypointType, cell.routeType);
    config.store = Sample(cell, 30, 0);
    // The request's ACK, product data, array, the command's ACK, records and
    // four records go out; nothing after them.
    config.faults.muteAfter = 9;
    PortSession *session = Ready(config);
    ASSERT_EQ(StartDownload(cell, session), 1);
    ASSERT_TRUE(WaitUntil([&] { return Finals() == 1; }, 15000));
    EXPECT_TRUE(DownloadFailed(cell));
    long long waited;
    {
        std::lock_guard<std::mutex> hold(heard.lock);
        waited = heard.lastFinalMs - receiver->Statistics().lastSentMs;
    }
    EXPECT_NEAR(waited, 12000, 200);
    EXPECT_EQ(heard.why, HalvexErrorNoAnswer) << "as the host's failure callback hears it";
    EXPECT_EQ(Objective(session), ObjectiveReady);
    EXPECT_TRUE(LogShows("Nothing received for 12000 ms: download given up\n"));
}

INSTANTIATE_TEST_SUITE_P(EachDownload, SilentReceiver,
                         ::testing::Values(Cell{"waypoints", Kind::Waypoints, 103, 201, 1},
                                           Cell{"routes", Kind::Routes, 103, 201, 1},
                                           Cell{"tracks", Kind::Tracks, 103, 201, 1}),
                         [](const ::testing::TestParamInfo<Cell> &info) { return std::string(info.param.name); });

// The device goes away mid-transfer: the transfer's failure report comes at
// once, then the host hears that the line is lost.
TEST_F(LineFaults, AHangUpEndsEachTransferKindBeforeTheLineReport)
{
    for (Kind kind : {Kind::Waypoints, Kind::Routes, Kind::Tracks}) {
        for (bool isUpload : {false, true}) {
            SCOPED_TRACE(std::to_string(static_cast<int>(kind)) + (isUpload ? " up" : " down"));
            TearDown();
            SetUp();
            Cell cell{"", kind, 103, 201, 1};
            halvexsim::Config config = Types(103);
            config.store = Sample(cell, 30, 0);
            // Identified (3 frames), then the first records of the transfer.
            config.faults.hangUpAfter = isUpload ? 6 : 7;
            PortSession *session = Ready(config, 3000, &onLine);
            Store sent = Sample(cell, 30, 100);
            long long start = SteadyMs();
            ASSERT_EQ(isUpload ? StartUpload(cell, session, sent) : StartDownload(cell, session), 1);
            ASSERT_TRUE(WaitUntil(
                [&] {
                    std::lock_guard<std::mutex> hold(heard.lock);
                    return heard.finalsBeforeLineLost >= 0;
                },
                3000));
            std::lock_guard<std::mutex> hold(heard.lock);
            EXPECT_EQ(heard.finalsBeforeLineLost, 1) << "the transfer's report first, exactly once";
            EXPECT_EQ(heard.why, HalvexErrorDeviceLost);
            EXPECT_LT(heard.lastFinalMs - start, 1000);
            if (isUpload)
                EXPECT_EQ(heard.uploads.back().first, 1);
            else if (kind == Kind::Tracks)
                EXPECT_LT(heard.points.size(), 31u);
            else if (kind == Kind::Waypoints)
                EXPECT_TRUE(heard.nullArray);
            else
                EXPECT_EQ(heard.uploads.back(), std::make_pair(2, 0));
        }
    }
}

} // namespace
