// Product identification and the reliable exchange, against the simulator.
#include <atomic>
#include <functional>
#include <mutex>
#include <string>

#include "e2e.h"
#include "host.h"
#include "engine/enginelock.h"
#include "engine/timerqueue.h"
#include "link/link.h"
#include "link/product.h"
#include "port/session.h"

namespace {

struct Heard {
    std::mutex lock;
    int calls = 0;
    int code = -1;
    int value = -1;
    int productId = 0, version = 0;
    int32_t why = -1; // HalvexGetLastError() in the callback
    std::string description;
    std::chrono::steady_clock::time_point at;
} heard;

void HALVEX_CALL OnProduct(int32_t code, int32_t value, HostProductInfo *info)
{
    std::lock_guard<std::mutex> hold(heard.lock);
    heard.calls++;
    heard.code = code;
    heard.value = value;
    heard.why = HalvexGetLastError();
    heard.at = std::chrono::steady_clock::now();
    if (code == 0 || code == 2) {
        heard.productId = info->productId;
        heard.version = info->softwareVersion;
        heard.description.clear();
        for (UINT i = 0; i < SysStringLen(info->description); i++)
            heard.description += static_cast<char>(info->description[i]);
    }
}

class Identify : public EndToEnd {
protected:
    void SetUp() override
    {
        EndToEnd::SetUp();
        std::lock_guard<std::mutex> hold(heard.lock);
        heard.calls = 0;
        heard.code = heard.value = -1;
        heard.description.clear();
    }
    int Calls()
    {
        std::lock_guard<std::mutex> hold(heard.lock);
        return heard.calls;
    }
    int Objective(PortSession *session)
    {
        LockEngine();
        int objective = LinkObjective(session);
        UnlockEngine();
        return objective;
    }
    // After an identification that failed nothing runs: each export that
    // needs an identified receiver refuses with "not identified", and none
    // calls back.
    void ExpectEachTransferRefusedAsNotIdentified(PortSession *session)
    {
        HalvexUploadCallback upload = [](int32_t, int32_t) { ADD_FAILURE() << "an upload called back"; };
        HalvexWaypointCallback waypoints = [](int32_t, int32_t, SAFEARRAY **) { ADD_FAILURE() << "called back"; };
        HalvexRouteCallback routes = [](int32_t, int32_t, SAFEARRAY **, SAFEARRAY **) { ADD_FAILURE(); };
        HalvexTrackCallback track = [](int32_t, int32_t, HostTrackPoint *) -> int16_t { return ADD_FAILURE(), 0; };
        HalvexWaypointExCallback waypointsEx = [](int32_t, int32_t, SAFEARRAY **) { ADD_FAILURE(); };
        HalvexRouteExCallback routesEx = [](int32_t, int32_t, SAFEARRAY **, SAFEARRAY **) { ADD_FAILURE(); };
        HalvexTrackExCallback trackEx = [](int32_t, int32_t, HostTrackPointEx *) -> int16_t { return ADD_FAILURE(), 0; };
        HalvexTimeCallback clock = [](int32_t, HostClock *) { ADD_FAILURE() << "the clock called back"; };
        HalvexPositionCallback position = [](int32_t, HostPosition *) { ADD_FAILURE() << "a fix called back"; };
        HostArray<HostWaypoint> waypointArray(1);
        HostArray<HostRoute> routeArray(1);
        HostArray<HostTrackPoint> trackArray(1);
        HostArray<HostWaypointEx> waypointExArray(1);
        HostArray<HostTrackPointEx> trackExArray(1);
        routeArray[0] = {0, 1, 1, nullptr, nullptr};
        const std::pair<const char *, std::function<int32_t()>> exports[] = {
            {"HalvexDownloadWayPtInit", [&] { return HalvexDownloadWayPtInit(session, &waypoints); }},
            {"HalvexUploadWayPtInit", [&] { return HalvexUploadWayPtInit(session, &waypointArray.array, &upload); }},
            {"HalvexDownloadRouteInit", [&] { return HalvexDownloadRouteInit(session, &routes); }},
            {"HalvexUploadRouteInit",
             [&] { return HalvexUploadRouteInit(session, &routeArray.array, &waypointArray.array, &upload); }},
            {"HalvexDownloadTrackInit", [&] { return HalvexDownloadTrackInit(session, &track); }},
            {"HalvexUploadTrackInit", [&] { return HalvexUploadTrackInit(session, &trackArray.array, &upload); }},
            {"HalvexDownloadWayPtExInit", [&] { return HalvexDownloadWayPtExInit(session, &waypointsEx); }},
            {"HalvexUploadWayPtExInit",
             [&] { return HalvexUploadWayPtExInit(session, &waypointExArray.array, &upload); }},
            {"HalvexDownloadRouteExInit", [&] { return HalvexDownloadRouteExInit(session, &routesEx); }},
            {"HalvexUploadRouteExInit",
             [&] { return HalvexUploadRouteExInit(session, &routeArray.array, &waypointExArray.array, &upload); }},
            {"HalvexDownloadTrackExInit", [&] { return HalvexDownloadTrackExInit(session, &trackEx); }},
            {"HalvexUploadTrackExInit",
             [&] { return HalvexUploadTrackExInit(session, &trackExArray.array, &upload); }},
            {"HalvexGetTimeInit", [&] { return HalvexGetTimeInit(session, &clock); }},
            {"HalvexStartPosition", [&] { return HalvexStartPosition(session, &position); }},
        };
        for (const auto &[name, call] : exports) {
            EXPECT_EQ(call(), 0) << name;
            EXPECT_EQ(HalvexGetLastError(), HalvexErrorNotReady) << name;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200)); // a callback would come by now
    }
    HalvexProductCallback callback = OnProduct;
};

TEST_F(Identify, AProductInTheTableIsKnownFromItsProductData)
{
    halvexsim::Config config;
    config.productId = ProductCapsTable[0].productId;
    config.softwareVersion = 250;
    config.description = "Halvex Trail 12";
    // Sent anyway; with a table row it arrives once the session is ready.
    config.protocols = halvexsim::ParseProtocols("P000,L001,A100,D103");
    PortSession *session = Connect(config);
    ASSERT_NE(session, nullptr);
    EXPECT_EQ(HalvexGetProductInfoInit(session, &callback), 1);
    ASSERT_TRUE(WaitUntil([&] { return Calls() > 0; }, 3000));
    {
        std::lock_guard<std::mutex> hold(heard.lock);
        EXPECT_EQ(heard.code, 0);
        EXPECT_EQ(heard.value, 0);
        EXPECT_EQ(heard.productId, config.productId);
        EXPECT_EQ(heard.version, 250);
        EXPECT_EQ(heard.description, "Halvex Trail 12");
    }
    EXPECT_TRUE(WaitUntil([&] { return Objective(session) == 2; }, 1000));
    EXPECT_TRUE(LogShows("Unknown objective\n")) << "the receiver's own array came after";
    std::string log = Log();
    EXPECT_LT(log.find("Product data received\n"), log.find("Protocol array received\n"));
    LockEngine();
    EXPECT_EQ(ReceiverCaps(session)->protocolSlots[SlotWaypointType], 100 + ProductCapsTable[0].protocolSlots[10]);
    UnlockEngine();
    CloseCommPort(session);
}

TEST_F(Identify, AnUnknownProductIsKnownFromItsProtocolArray)
{
    halvexsim::Config config;
    config.productId = 9999;
    config.description = "Halvex Prototype";
    config.protocols = halvexsim::ParseProtocols("P000,L001,A010,A100,D103,A200,D201,D108,A301,D301");
    PortSession *session = Connect(config);
    ASSERT_NE(session, nullptr);
    HalvexGetProductInfoInit(session, &callback);
    ASSERT_TRUE(WaitUntil([&] { return Calls() > 0; }, 3000));
    {
        std::lock_guard<std::mutex> hold(heard.lock);
        EXPECT_EQ(heard.code, 0);
        EXPECT_EQ(heard.productId, 9999);
        EXPECT_EQ(heard.description, "Halvex Prototype");
    }
    LockEngine();
    const int16_t *slots = ReceiverCaps(session)->protocolSlots;
    EXPECT_EQ(slots[1], 100);
    EXPECT_EQ(slots[2], 200);
    EXPECT_EQ(slots[SlotWaypointType], 108) << "a later entry wins";
    EXPECT_EQ(slots[SlotRouteHeaderType], 201);
    EXPECT_EQ(ReceiverCaps(session)->linkProtocol, 1);
    UnlockEngine();
    CloseCommPort(session);
}

// What a host can learn once the receiver is identified: the data types the
// library speaks to it, how much of a waypoint's texts it keeps, and where
// the types came from.
TEST_F(Identify, TheHostCanReadTheReceiversTypesAndWidths)
{
    halvexsim::Config config;
    halvexsim::ApplyPreset(config, "modern");
    PortSession *session = Connect(config);
    ASSERT_NE(session, nullptr);
    HostReceiverInfo info;
    EXPECT_EQ(HalvexGetReceiverInfo(session, &info), 0);
    EXPECT_EQ(HalvexGetLastError(), HalvexErrorNotReady);
    EXPECT_EQ(HalvexGetReceiverInfo(session, nullptr), 0);
    EXPECT_EQ(HalvexGetLastError(), HalvexErrorBadArgument);
    ASSERT_EQ(HalvexGetProductInfoInit(session, &callback), 1);
    ASSERT_TRUE(WaitUntil([&] { return Objective(session) == ObjectiveReady; }, 3000));
    ASSERT_EQ(HalvexGetReceiverInfo(session, &info), 1);
    EXPECT_EQ(HalvexGetLastError(), HalvexErrorNone);
    EXPECT_EQ(info.productId, 4260);
    EXPECT_EQ(info.softwareVersion, 520);
    EXPECT_EQ(info.waypointType, 108);
    EXPECT_EQ(info.routeHeaderType, 202);
    EXPECT_EQ(info.routeLinkType, 210);
    EXPECT_EQ(info.trackHeaderType, 310);
    EXPECT_EQ(info.trackPointType, 301);
    EXPECT_EQ(info.identWidth, 51);
    EXPECT_EQ(info.commentWidth, 51);
    EXPECT_EQ(info.typesSource, HalvexTypesFromReceiver);
    EXPECT_STREQ(info.protocols, "P000 L001 A010 A100 D108 A201 D202 D108 D210 A301 D310 D301 A600 D600");
    CloseCommPort(session);
    EXPECT_EQ(HalvexGetReceiverInfo(session, &info), 0);
    EXPECT_EQ(HalvexGetLastError(), HalvexErrorBadSession);
    receiver->Stop();

    // A receiver of the table, older: six characters of ident, no route links.
    config = halvexsim::Config();
    config.productId = ProductCapsTable[0].productId;
    config.softwareVersion = 250;
    session = Connect(config);
    ASSERT_EQ(HalvexGetProductInfoInit(session, &callback), 1);
    ASSERT_TRUE(WaitUntil([&] { return Objective(session) == ObjectiveReady; }, 3000));
    ASSERT_EQ(HalvexGetReceiverInfo(session, &info), 1);
    EXPECT_EQ(info.typesSource, HalvexTypesFromTable);
    EXPECT_EQ(info.waypointType, 100 + ProductCapsTable[0].protocolSlots[10]);
    EXPECT_EQ(info.routeLinkType, 0);
    EXPECT_EQ(info.trackHeaderType, 0);
    EXPECT_EQ(info.identWidth, 6);
    EXPECT_EQ(info.commentWidth, 40);
    EXPECT_EQ(std::string(info.protocols).substr(0, 10), "P000 L001 ");
}

TEST_F(Identify, AnUnknownProductWithoutAnArrayFailsAfterThreeSeconds)
{
    halvexsim::Config config;
    config.productId = 9999;
    config.protocols.reset();
    PortSession *session = Connect(config);
    ASSERT_NE(session, nullptr);
    auto start = Clock::now();
    HalvexGetProductInfoInit(session, &callback);
    ASSERT_TRUE(WaitUntil([&] { return Calls() > 0; }, 5000));
    {
        // Not held across a call into the library: the callback takes it.
        std::lock_guard<std::mutex> hold(heard.lock);
        EXPECT_EQ(heard.code, 2);
        EXPECT_EQ(heard.why, HalvexErrorNoAnswer);
        EXPECT_EQ(heard.productId, 0);
        auto waited = heard.at - start;
        EXPECT_GT(waited, std::chrono::milliseconds(2950));
        EXPECT_LT(waited, std::chrono::milliseconds(3300));
    }
    EXPECT_TRUE(LogShows("Product data request failed\n"));
    ExpectEachTransferRefusedAsNotIdentified(session);
    CloseCommPort(session);
}

TEST_F(Identify, ASilentReceiverIsGivenUpTwelveSecondsAfterTheFirstSend)
{
    halvexsim::Config config;
    config.faults.silent = true;
    PortSession *session = Connect(config);
    ASSERT_NE(session, nullptr);
    auto start = Clock::now();
    HalvexGetProductInfoInit(session, &callback);
    ASSERT_TRUE(WaitUntil([&] { return Calls() > 0; }, 15000));
    std::chrono::duration<double> waited;
    {
        std::lock_guard<std::mutex> hold(heard.lock);
        EXPECT_EQ(heard.code, 2);
        waited = heard.at - start;
    }
    RecordProperty("silent_give_up_ms", static_cast<int>(waited.count() * 1000));
    EXPECT_NEAR(waited.count(), 12.0, 0.1);
    std::string log = Log();
    size_t at = 0;
    for (int count = 3; count >= 0; count--) {
        at = log.find("Communications Timeout retry count=" + std::to_string(count) + "\n", at);
        EXPECT_NE(at, std::string::npos) << count;
    }
    EXPECT_EQ(CountInLog("Halvex retry\n"), 3);
    EXPECT_EQ(CountInLog("Halvex Transfer Aborted\n"), 1);
    EXPECT_EQ(receiver->Statistics().framesReceived, 4) << "the request went out four times";
    EXPECT_EQ(Objective(session), ObjectiveReady) << "a failed identification ends, the receiver unknown";
    ExpectEachTransferRefusedAsNotIdentified(session);
    CloseCommPort(session);
}

TEST_F(Identify, ARetryWhoseTimeOutCannotBeArmedEndsTheRequestThere)
{
    halvexsim::Config config;
    config.faults.silent = true;
    PortSession *session = Connect(config);
    ASSERT_NE(session, nullptr);
    FailTimerCreation(2); // the first send's time-out is armed, the first retry's is not
    auto start = Clock::now();
    ASSERT_EQ(HalvexGetProductInfoInit(session, &callback), 1);
    ASSERT_TRUE(WaitUntil([&] { return Calls() > 0; }, 6000));
    FailTimerCreation(0);
    std::chrono::duration<double> waited;
    {
        std::lock_guard<std::mutex> hold(heard.lock);
        EXPECT_EQ(heard.code, 2);
        EXPECT_EQ(heard.why, HalvexErrorNoMemory);
        waited = heard.at - start;
    }
    EXPECT_GE(waited.count(), 2.9);
    EXPECT_LT(waited.count(), 6.0) << "no wait for retries that could never time out";
    EXPECT_EQ(receiver->Statistics().framesReceived, 1);
    ExpectEachTransferRefusedAsNotIdentified(session);
}

TEST_F(Identify, ANakBringsTheSameFrameAgain)
{
    halvexsim::Config config;
    config.productId = ProductCapsTable[0].productId;
    config.faults.nakNth = 1;
    PortSession *session = Connect(config);
    ASSERT_NE(session, nullptr);
    HalvexGetProductInfoInit(session, &callback);
    ASSERT_TRUE(WaitUntil([&] { return Calls() > 0; }, 3000));
    EXPECT_EQ(heard.code, 0);
    EXPECT_TRUE(LogShows("Nak received\n"));
    EXPECT_EQ(receiver->Statistics().productRequests, 1) << "the NAKed request is not acted on";
    EXPECT_EQ(receiver->Statistics().naksSent, 1);
    CloseCommPort(session);
}

TEST_F(Identify, PositionReportsAreAcknowledgedAndLoggedInBinaryMode)
{
    halvexsim::Config config;
    config.productId = ProductCapsTable[0].productId;
    config.pvt.periodMs = 100;
    config.pvt.latitude = 47.5;
    config.pvt.longitude = 8.25;
    config.pvt.east = 3;
    config.pvt.north = 4;
    config.pvt.seconds = 100.7;
    config.pvt.leapSeconds = 13;
    config.pvt.days = 1;
    PortSession *session = Connect(config);
    ASSERT_NE(session, nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    EXPECT_EQ(CountInLog("Pvt data received\n"), 0) << "not while the port is idle";
    HalvexGetProductInfoInit(session, &callback);
    ASSERT_TRUE(WaitUntil([&] { return Calls() > 0; }, 3000));
    EXPECT_TRUE(LogShows("02:01:27 - lat=47.500000 lon=8.250000 sog=9.716754 cog=36.869898\n"));
    EXPECT_TRUE(WaitUntil([&] { return receiver->Statistics().pvtAcked >= 2; }, 2000));
    CloseCommPort(session);
}

std::atomic<int> lineLost{0};
void HALVEX_CALL OnLine(int32_t code, int32_t value)
{
    if (code == 2 && value == 0)
        lineLost++;
}

TEST_F(Identify, AReceiverThatHangsUpEndsTheSession)
{
    halvexsim::Config config;
    config.faults.hangUpAfter = 1; // gone once the product request has come
    line = std::make_unique<Pty>();
    receiver = std::make_unique<halvexsim::Receiver>(config);
    receiver->Start(dup(line->master()));
    line->CloseMaster();
    HalvexPortCallback onLine = OnLine;
    lineLost = 0;
    PortSession *session = OpenCommPortEx(line->path(), 9600, &onLine);
    ASSERT_NE(session, nullptr);
    HalvexGetProductInfoInit(session, &callback);
    ASSERT_TRUE(WaitUntil([&] { return lineLost.load() == 1; }, 2000));
    EXPECT_EQ(HalvexGetProductInfoInit(session, &callback), 0) << "the session is gone";
    CloseCommPort(session);
}

} // namespace
