// The library's receive path on a Win32 serial API: the Windows build of the
// end-to-end tests, run under a Wine whose serial layer carries it
// (scripts/wine-serial.sh), through COM ports joined to halvex-sim processes.
// Each test has a line of its own, started before the tests run as
// `com_tests --lines` lists them (scripts/wine-test.sh).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "line_session.h"

namespace com {
namespace {

using namespace line;

// A COM port and the options of the simulator on it.
struct Line {
    int port;
    const char *simulator;
};

const Line classic = {10, "--preset classic"};
const Line modern = {11, "--preset modern"};
const Line nmea = {12, "--nmea --nmea-rate 20"};
const Line position = {13, "--preset classic"};
const Line faulty = {14, "--preset modern --drop-fraction 0.05 --corrupt-fraction 0.05 --seed 11"};
const Line silent = {15, "--silent-after 3"}; // answers identification, then nothing
const Line hangUp = {16, "--hang-up-after 3"};
const Line slow = {17, "--ack-delay 400"}; // keeps an upload running when the port closes
const int manyFirst = 20, manyCount = 20;  // COM20 to COM39, classic receivers

// Ports above COM9 are only found by their device path, as on Windows.
std::string Name(int port) { return "\\\\.\\COM" + std::to_string(port); }

// What the route, track, NMEA, position and clock callbacks heard.
struct More {
    std::mutex lock;
    std::vector<std::vector<std::string>> routes; // each route's waypoint idents
    std::vector<HostTrackPoint> points;
    int trackFinals = 0, routeFinals = 0, routeStatus = -1;
    std::vector<std::string> sentences;
    std::vector<HostPosition> fixes;
    int clocks = 0, clockCode = -1;
    HostClock clock{};
    int identified = 0, downloads = 0, fullDownloads = 0; // across the twenty ports; downloads that ended well
};
More more;

std::string Trimmed(std::string text)
{
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}

void HALVEX_CALL OnRoutes(int32_t status, int32_t, SAFEARRAY **routes, SAFEARRAY **waypoints)
{
    std::lock_guard<std::mutex> hold(more.lock);
    more.routeStatus = status;
    more.routeFinals++;
    more.routes.clear();
    if (!*routes)
        return;
    std::vector<Waypoint> all = Read(*waypoints);
    auto *r = static_cast<HostRoute *>((*routes)->pvData);
    for (ULONG i = 0; i < (*routes)->rgsabound[0].cElements; i++) {
        std::vector<std::string> idents;
        for (int k = 0; k < r[i].waypointCount; k++)
            idents.push_back(Trimmed(all[r[i].firstWaypoint + k].ident));
        more.routes.push_back(idents);
    }
}

int16_t HALVEX_CALL OnTrackPoint(int32_t, int32_t value, HostTrackPoint *point)
{
    std::lock_guard<std::mutex> hold(more.lock);
    if (value == HalvexDownloadEnd)
        more.trackFinals++;
    else
        more.points.push_back(*point);
    return -1;
}

int16_t HALVEX_CALL OnSentence(int32_t code, int32_t, BSTR *sentence)
{
    std::lock_guard<std::mutex> hold(more.lock);
    if (code == HalvexNmeaSentence && sentence && *sentence)
        more.sentences.push_back(Text(*sentence));
    return -1;
}

void HALVEX_CALL OnFix(int32_t, HostPosition *fix)
{
    std::lock_guard<std::mutex> hold(more.lock);
    more.fixes.push_back(*fix);
}

void HALVEX_CALL OnClock(int32_t code, HostClock *clock)
{
    std::lock_guard<std::mutex> hold(more.lock);
    more.clocks++;
    more.clockCode = code;
    more.clock = *clock;
}

void HALVEX_CALL OnAnyProduct(int32_t code, int32_t, HostProductInfo *)
{
    std::lock_guard<std::mutex> hold(more.lock);
    more.identified += code == HalvexProductIdentified;
}

void HALVEX_CALL OnAnyWaypoints(int32_t, int32_t, SAFEARRAY **array)
{
    std::lock_guard<std::mutex> hold(more.lock);
    more.downloads++;
    more.fullDownloads += *array != nullptr;
}

class ComPort : public RealLine {
protected:
    void SetUp() override
    {
        RealLine::SetUp();
        std::lock_guard<std::mutex> hold(more.lock);
        more.routes.clear();
        more.points.clear();
        more.sentences.clear();
        more.fixes.clear();
        more.trackFinals = more.routeFinals = more.clocks = 0;
        more.identified = more.downloads = more.fullDownloads = 0;
    }
    template <typename Predicate> static bool Heard(Predicate done, int milliseconds = 20000)
    {
        return Hears(done, milliseconds, more.lock);
    }
    // Waypoints of names and comments each receiver keeps whole.
    static std::vector<Waypoint> Short(int count)
    {
        std::vector<Waypoint> out;
        for (int i = 0; i < count; i++) {
            char ident[8];
            std::snprintf(ident, sizeof ident, "WP%03d", i);
            out.push_back({ident, -60 + i * 2.5, -170 + i * 7.5, "COMMENT " + std::to_string(i)});
        }
        return out;
    }
    // Every waypoint sent comes back as sent, beside what the receiver had.
    void ExpectEachCameBack(const std::vector<Waypoint> &sent, size_t before)
    {
        ASSERT_EQ(heard.waypoints.size(), before + sent.size());
        ExpectEachAmongThoseHeard(sent);
    }
    void ExpectEachAmongThoseHeard(const std::vector<Waypoint> &sent)
    {
        for (const Waypoint &w : sent) {
            auto found = std::find_if(heard.waypoints.begin(), heard.waypoints.end(),
                                      [&](const Waypoint &got) { return Trimmed(got.ident) == w.ident; });
            ASSERT_NE(found, heard.waypoints.end()) << w.ident;
            EXPECT_EQ(Trimmed(found->comment), w.comment);
            EXPECT_NEAR(found->latitude, w.latitude, 1e-6);
            EXPECT_NEAR(found->longitude, w.longitude, 1e-6);
        }
    }
};

class EachPreset : public ComPort, public ::testing::WithParamInterface<Line> {};

TEST_P(EachPreset, WaypointsRoutesAndTracksGoUpAndComeBack)
{
    ASSERT_TRUE(OpenAndIdentify(Name(GetParam().port)));
    ASSERT_TRUE(Download());
    size_t before = heard.waypoints.size();
    std::vector<Waypoint> sent = Short(30);
    ASSERT_TRUE(Upload(sent));
    ASSERT_TRUE(Download());
    ExpectEachCameBack(sent, before);

    HostArray<HostWaypoint> waypoints(Short(4));
    HostArray<HostRoute> routes(2);
    routes[0] = {0, 3, 41, Bstr("first"), Bstr("FIRST")};
    routes[1] = {3, 1, 42, Bstr("second"), Bstr("SECOND")};
    HalvexUploadCallback uploaded = OnUpload;
    int finals = heard.finals;
    ASSERT_EQ(HalvexUploadRouteInit(session, &routes.array, &waypoints.array, &uploaded), 1);
    ASSERT_TRUE(Hears([&] { return heard.finals == finals + 1; }));
    EXPECT_EQ(heard.uploaded, HalvexTransferDone);
    HalvexRouteCallback routeDownload = OnRoutes;
    ASSERT_EQ(HalvexDownloadRouteInit(session, &routeDownload), 1);
    ASSERT_TRUE(Heard([] { return more.routeFinals == 1; }));
    EXPECT_EQ(more.routeStatus, HalvexTransferDone);
    std::vector<std::string> first{"WP000", "WP001", "WP002"}, second{"WP003"};
    EXPECT_NE(std::find(more.routes.begin(), more.routes.end(), first), more.routes.end());
    EXPECT_NE(std::find(more.routes.begin(), more.routes.end(), second), more.routes.end());

    HostArray<HostTrackPoint> track(60);
    for (int i = 0; i < 60; i++)
        track[i] = HostTrackPoint{45000.5 + i / 86400.0, 45.0 + i / 1000.0, 7.0 - i / 1000.0,
                                  static_cast<int16_t>(i == 0 || i == 30), {}};
    finals = heard.finals;
    ASSERT_EQ(HalvexUploadTrackInit(session, &track.array, &uploaded), 1);
    ASSERT_TRUE(Hears([&] { return heard.finals == finals + 1; }));
    EXPECT_EQ(heard.uploaded, HalvexTransferDone);
    HalvexTrackCallback trackDownload = OnTrackPoint;
    ASSERT_EQ(HalvexDownloadTrackInit(session, &trackDownload), 1);
    ASSERT_TRUE(Heard([] { return more.trackFinals == 1; }));
    ASSERT_EQ(more.points.size(), 60u);
    for (int i = 0; i < 60; i++) {
        EXPECT_NEAR(more.points[i].time, track[i].time, 1.5 / 86400) << i;
        EXPECT_NEAR(more.points[i].latitude, track[i].latitude, 1e-6) << i;
        EXPECT_NEAR(more.points[i].longitude, track[i].longitude, 1e-6) << i;
        EXPECT_EQ(more.points[i].newTrack, track[i].newTrack) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Presets, EachPreset, ::testing::Values(classic, modern),
                         [](const ::testing::TestParamInfo<Line> &info) {
                             return info.param.port == classic.port ? "Classic" : "Modern";
                         });

TEST_F(ComPort, NmeaSentencesReachTheCallbackAndTheTable)
{
    session = OpenCommPort(Name(nmea.port).c_str(), 9600);
    ASSERT_NE(session, nullptr);
    HalvexNmeaCallback callback = OnSentence;
    ASSERT_EQ(StartNMEA(session, nullptr, &callback), 1);
    ASSERT_TRUE(Heard([] { return more.sentences.size() >= 20; }, 10000));
    StopNMEA(session);
    for (const std::string &sentence : more.sentences)
        EXPECT_EQ(sentence.rfind('$', 0), 0u) << sentence;

    HostArray<NmeaTableEntry> table(1);
    table[0].sentenceId = Bstr("GGA");
    SAFEARRAY *handle = table.array;
    ASSERT_EQ(StartNMEA(session, &handle, &callback), 1);
    ASSERT_TRUE(WaitUntil([&] { return table[0].timeStamp != 0; }, 10000));
    StopNMEA(session);
    EXPECT_NE(Text(table[0].sentence).find("GGA"), std::string::npos) << Text(table[0].sentence);
}

TEST_F(ComPort, TheLivePositionComesEachSecondAndTheClockAnswers)
{
    ASSERT_TRUE(OpenAndIdentify(Name(position.port)));
    HalvexTimeCallback clock = OnClock;
    ASSERT_EQ(HalvexGetTimeInit(session, &clock), 1);
    ASSERT_TRUE(Heard([] { return more.clocks == 1; }, 10000));
    EXPECT_EQ(more.clockCode, HalvexClockRead);
    EXPECT_GT(more.clock.receiverTime, 40000.0);

    HalvexPositionCallback fix = OnFix;
    ASSERT_EQ(HalvexStartPosition(session, &fix), 1);
    ASSERT_TRUE(Heard([] { return more.fixes.size() >= 3; }, 10000));
    EXPECT_EQ(HalvexStopPosition(session), 1);
    std::lock_guard<std::mutex> hold(more.lock);
    for (size_t i = 1; i < more.fixes.size(); i++)
        EXPECT_NEAR((more.fixes[i].time - more.fixes[i - 1].time) * 86400, 1.0, 1e-3);
}

// A line that loses and damages frames: each transfer ends with exactly the
// data sent, or with its failure report.
TEST_F(ComPort, AFaultyLineGivesTheDataSentOrAFailureReport)
{
    ASSERT_TRUE(OpenAndIdentify(Name(faulty.port)));
    std::vector<Waypoint> sent = Short(20);
    // Each frame lost costs the 3 s the library waits for its answer.
    int finals = heard.finals;
    bool up = Upload(sent, 90000);
    ASSERT_EQ(heard.finals, finals + 1) << "the upload ended";
    std::printf("the upload over the faulty line %s\n", up ? "was acknowledged" : "reported its failure");
    ASSERT_TRUE(Download(90000));
    if (heard.nullArray) {
        EXPECT_NE(heard.why, 0) << "a failed download says why";
        std::printf("the download reported its failure (%d)\n", heard.why);
        return;
    }
    if (up)
        ExpectEachAmongThoseHeard(sent);
}

TEST_F(ComPort, ASilentReceiverEndsTheDownloadAfterTwelveSeconds)
{
    ASSERT_TRUE(OpenAndIdentify(Name(silent.port)));
    auto start = Clock::now();
    ASSERT_TRUE(Download(20000));
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("the download ended %.2f s after the receiver went silent\n", seconds);
    EXPECT_TRUE(heard.nullArray);
    EXPECT_EQ(heard.why, HalvexErrorNoAnswer);
    EXPECT_GE(seconds, 11.5);
    EXPECT_LE(seconds, 14.0);
}

TEST_F(ComPort, AReceiverThatHangsUpIsReportedLost)
{
    session = OpenCommPortEx(Name(hangUp.port).c_str(), 9600, &portCallback);
    ASSERT_NE(session, nullptr);
    HalvexProductCallback identified = OnProduct;
    ASSERT_EQ(HalvexGetProductInfoInit(session, &identified), 1);
    ASSERT_TRUE(Hears([] { return heard.finalsBeforeLost >= 0; }, 10000)) << "the port callback reports the loss";
    ASSERT_TRUE(Hears([] { return heard.finals == 1; }, 15000)) << "identification ends with one final callback";
    session = nullptr; // closed by the library with the loss
}

// CloseCommPort cancels the read, the wait and the write it finds pending and
// waits for each to end before it frees their buffers; the transfer is cut
// off, as on Linux.
TEST_F(ComPort, CloseWithAnUploadRunningEndsWithinASecond)
{
    ASSERT_TRUE(OpenAndIdentify(Name(slow.port)));
    HostArray<HostWaypoint> many(Short(60));
    HalvexUploadCallback uploaded = OnUpload;
    ASSERT_EQ(HalvexUploadWayPtInit(session, &many.array, &uploaded), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    auto start = Clock::now();
    CloseCommPort(session);
    session = nullptr;
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("CloseCommPort took %.3f s with an upload running\n", seconds);
    EXPECT_LE(seconds, 1.0);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(heard.finals, 1) << "the close cuts the upload off: no callback after it";
}

TEST_F(ComPort, TwentyPortsAtOnce)
{
    std::vector<PortSession *> sessions;
    for (int i = 0; i < manyCount; i++) {
        sessions.push_back(OpenCommPort(Name(manyFirst + i).c_str(), 9600));
        ASSERT_NE(sessions.back(), nullptr) << Name(manyFirst + i);
    }
    HalvexProductCallback identified = OnAnyProduct;
    for (PortSession *s : sessions)
        ASSERT_EQ(HalvexGetProductInfoInit(s, &identified), 1);
    EXPECT_TRUE(Heard([] { return more.identified == manyCount; }, 30000)) << more.identified;
    HalvexWaypointCallback downloaded = OnAnyWaypoints;
    for (PortSession *s : sessions)
        ASSERT_EQ(HalvexDownloadWayPtInit(s, &downloaded), 1);
    EXPECT_TRUE(Heard([] { return more.downloads == manyCount; }, 30000)) << more.downloads;
    EXPECT_EQ(more.fullDownloads, manyCount);
    for (PortSession *s : sessions)
        CloseCommPort(s);
}

} // namespace
} // namespace com

// `com_tests --lines` lists each COM port and the simulator options it needs.
int main(int argc, char **argv)
{
    if (argc == 2 && std::strcmp(argv[1], "--lines") == 0) {
        for (const com::Line &line :
             {com::classic, com::modern, com::nmea, com::position, com::faulty, com::silent, com::hangUp, com::slow})
            std::printf("%d %s\n", line.port, line.simulator);
        for (int i = 0; i < com::manyCount; i++)
            std::printf("%d %s\n", com::manyFirst + i, com::classic.simulator);
        return 0;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
