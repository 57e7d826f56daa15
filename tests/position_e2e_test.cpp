// Live position end to end: the simulated receiver's reports, switched on
// and off, and its NMEA fix epochs, through the exports as a host has them;
// a host that stops the stream or closes the port from its callback.
#include <cmath>
#include <ctime>
#include <mutex>

#include "transfers.h"

namespace {

using namespace transfers;

struct Fixes {
    std::mutex lock;
    std::vector<HostPosition> fixes;
    PortSession *session = nullptr;
    enum { Keep, Stop, Close } then = Keep;
} taken;

void HALVEX_CALL OnFix(int32_t code, HostPosition *position)
{
    EXPECT_EQ(code, HalvexPositionFix);
    {
        std::lock_guard<std::mutex> hold(taken.lock);
        taken.fixes.push_back(*position);
    }
    if (taken.then == Fixes::Stop)
        EXPECT_EQ(HalvexStopPosition(taken.session), 1);
    else if (taken.then == Fixes::Close)
        CloseCommPort(taken.session);
}

std::string lastRmc; // under taken.lock

int16_t HALVEX_CALL OnSentence(int32_t code, int32_t, BSTR *sentence)
{
    std::string text = code == HalvexNmeaSentence ? Text(*sentence) : "";
    if (text.compare(0, 6, "$GPRMC") == 0) {
        std::lock_guard<std::mutex> hold(taken.lock);
        lastRmc = text;
    }
    return 0;
}

class Position : public Transfers {
protected:
    void SetUp() override
    {
        Transfers::SetUp();
        std::lock_guard<std::mutex> hold(taken.lock);
        taken.fixes.clear();
        taken.then = Fixes::Keep;
    }
    size_t Taken()
    {
        std::lock_guard<std::mutex> hold(taken.lock);
        return taken.fixes.size();
    }
    std::vector<HostPosition> Fixes()
    {
        std::lock_guard<std::mutex> hold(taken.lock);
        return taken.fixes;
    }
    // Fixes a second apart, in true UTC (moved forward by weeksAdded from
    // the receiver's date), moving along the path.
    void ExpectAMovingFixEachSecond(const std::vector<HostPosition> &fixes, int weeksAdded = 0)
    {
        ASSERT_GE(fixes.size(), 3u);
        for (size_t i = 1; i < fixes.size(); i++) {
            EXPECT_NEAR((fixes[i].time - fixes[i - 1].time) * 86400, 1.0, 1e-3);
            // NMEA carries thousandths of a minute: along the top of the
            // circle one coordinate may not change from one second to the next.
            EXPECT_TRUE(fixes[i].latitude != fixes[i - 1].latitude || fixes[i].longitude != fixes[i - 1].longitude);
        }
        EXPECT_NEAR(fixes.back().time, OleNow(), 3.0 / 86400) << "stamped with the time it is";
        EXPECT_NEAR(fixes.back().latitude, 51.478, 0.01);
        EXPECT_NEAR(fixes.back().speed, 10.0, 0.1);
        EXPECT_EQ(fixes.back().fixMode, HalvexFix3D);
        for (const HostPosition &fix : fixes)
            EXPECT_EQ(fix.weeksAdded, weeksAdded);
    }
    HalvexPositionCallback callback = OnFix;
};

TEST_F(Position, ReportsComeOnceASecondWhileOnAndStopWhenAsked)
{
    PortSession *session = Ready(halvexsim::Config{});
    taken.session = session;
    EXPECT_EQ(HalvexStartPosition(session, &callback), 1);
    ASSERT_TRUE(WaitUntil([&] { return Taken() >= 3; }, 5000));
    ExpectAMovingFixEachSecond(Fixes());
    EXPECT_TRUE(std::isnan(Fixes().back().eph) == false) << "a report carries its error estimates";

    // Transfers while they come: the reports do not disturb them.
    UploadSample(session, 103);
    ASSERT_EQ(HalvexDownloadWayPtInit(session, &waypointDownload), 1);
    ASSERT_TRUE(WaitUntil([&] { return Downloads() == 1; }, 5000));
    {
        std::lock_guard<std::mutex> hold(heard.lock);
        EXPECT_EQ(heard.waypoints.size(), sample.size());
    }
    size_t before = Taken();
    ASSERT_TRUE(WaitUntil([&] { return Taken() > before; }, 3000)) << "and go on after it";

    EXPECT_EQ(HalvexStopPosition(session), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(200)); // a report already on its way
    before = Taken();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_EQ(Taken(), before) << "the receiver was told to stop";
    CloseCommPort(session);
}

TEST_F(Position, AStreamNeedsAnIdentifiedReceiverAndACallback)
{
    PortSession *session = Connect(halvexsim::Config{});
    EXPECT_EQ(HalvexStartPosition(session, &callback), 0);
    EXPECT_EQ(HalvexGetLastError(), HalvexErrorNotReady);
    EXPECT_EQ(HalvexStartPosition(session, nullptr), 0);
    EXPECT_EQ(HalvexGetLastError(), HalvexErrorBadArgument);
    CloseCommPort(session);
    EXPECT_EQ(HalvexStartPosition(session, &callback), 0);
    EXPECT_EQ(HalvexGetLastError(), HalvexErrorBadSession);
}

TEST_F(Position, NmeaEpochsBecomeFixesBesideTheSentences)
{
    // From a receiver on time, and from one whose week count rolled over:
    // the merged fix is moved, the sentences stay as received.
    for (int rollovers : {0, 1}) {
        SCOPED_TRACE(rollovers);
        {
            std::lock_guard<std::mutex> hold(taken.lock);
            taken.fixes.clear();
            lastRmc.clear();
        }
        halvexsim::Config config;
        config.weekRollovers = rollovers;
        config.nmea.enabled = config.nmea.live = true;
        PortSession *session = Connect(config, 4800);
        HalvexNmeaCallback sentences = OnSentence;
        ASSERT_EQ(StartNMEA(session, nullptr, &sentences), 1);
        EXPECT_EQ(HalvexStartPosition(session, &callback), 1);
        ASSERT_TRUE(WaitUntil([&] { return Taken() >= 3; }, 5000));
        std::vector<HostPosition> fixes = Fixes();
        ExpectAMovingFixEachSecond(fixes, 1024 * rollovers);
        EXPECT_EQ(fixes.back().satellites, 8);
        EXPECT_TRUE(std::isnan(fixes.back().climb)) << "NMEA does not give it";
        CloseCommPort(session);
        receiver->Stop();
        receiver.reset();
        std::time_t said = std::time(nullptr) - 7168L * 86400 * rollovers;
        std::tm utc{};
        gmtime_r(&said, &utc);
        char year[16];
        std::snprintf(year, sizeof year, "%02d,,*", utc.tm_year % 100);
        std::lock_guard<std::mutex> hold(taken.lock);
        EXPECT_NE(lastRmc.find(year), std::string::npos) << "the sentence as the receiver sent it: " << lastRmc;
    }
}

TEST_F(Position, ReportsOfAReceiverWhoseWeekCountRolledOverGiveTrueTimes)
{
    for (int rollovers : {1, 2}) {
        SCOPED_TRACE(rollovers);
        {
            std::lock_guard<std::mutex> hold(taken.lock);
            taken.fixes.clear();
        }
        halvexsim::Config config;
        config.weekRollovers = rollovers;
        PortSession *session = Ready(config);
        ASSERT_EQ(HalvexStartPosition(session, &callback), 1);
        ASSERT_TRUE(WaitUntil([&] { return Taken() >= 3; }, 5000));
        ExpectAMovingFixEachSecond(Fixes(), 1024 * rollovers);
        CloseCommPort(session);
        receiver->Stop();
        receiver.reset();
    }
}

TEST_F(Position, AHostStopsOrClosesFromInsideItsCallback)
{
    for (auto then : {Fixes::Stop, Fixes::Close}) {
        SCOPED_TRACE(then == Fixes::Stop ? "stop" : "close");
        {
            std::lock_guard<std::mutex> hold(taken.lock);
            taken.fixes.clear();
            taken.then = then;
        }
        PortSession *session = Ready(halvexsim::Config{});
        taken.session = session;
        ASSERT_EQ(HalvexStartPosition(session, &callback), 1);
        ASSERT_TRUE(WaitUntil([&] { return Taken() == 1; }, 3000));
        std::this_thread::sleep_for(std::chrono::milliseconds(2200));
        EXPECT_EQ(Taken(), 1u) << "no call after the stop";
        if (then == Fixes::Stop)
            CloseCommPort(session);
        receiver->Stop();
        receiver.reset();
    }
}

} // namespace
