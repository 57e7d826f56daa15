// Host callbacks that call the library again: the operation they start is
// the one that runs, and each operation ends with exactly one final call.
#include <atomic>

#include "transfers.h"

namespace {

using namespace transfers;

PortSession *current;
std::atomic<int> sentences{0}, identified{0}, failures{0};

int16_t HALVEX_CALL OnSentence(int32_t code, int32_t, BSTR *)
{
    sentences += code == 0;
    return 0;
}

void HALVEX_CALL IdentifiedThenNmea(int32_t code, int32_t, HostProductInfo *)
{
    if (code != 0)
        return;
    static HalvexNmeaCallback nmea = OnSentence;
    StartNMEA(current, nullptr, &nmea);
}

void HALVEX_CALL CountIdentified(int32_t code, int32_t, HostProductInfo *)
{
    (code == 0 ? identified : failures)++;
}

void HALVEX_CALL WaypointsThenIdentify(int32_t, int32_t, SAFEARRAY **)
{
    static HalvexProductCallback again = CountIdentified;
    HalvexGetProductInfoInit(current, &again);
}

int16_t HALVEX_CALL PointThenNmea(int32_t, int32_t value, HostTrackPoint *)
{
    if (value != -1) {
        static HalvexNmeaCallback nmea = OnSentence;
        StartNMEA(current, nullptr, &nmea);
    }
    return 0; // "stop", but the download is no longer the operation
}

class Reentry : public Transfers {
protected:
    void SetUp() override
    {
        Transfers::SetUp();
        sentences = identified = failures = 0;
    }
};

TEST_F(Reentry, NmeaStartedFromTheIdentificationCallbackRuns)
{
    halvexsim::Config config = Types(103);
    config.productId = 9000;
    config.nmea.enabled = true;
    config.nmea.held = true;
    config.nmea.perSecond = 100;
    current = Connect(config);
    HalvexProductCallback callback = IdentifiedThenNmea;
    ASSERT_EQ(HalvexGetProductInfoInit(current, &callback), 1);
    ASSERT_TRUE(WaitUntil([&] { return InNmea(current); }, 3000));
    receiver->FallSilent(0);
    EXPECT_TRUE(WaitUntil([] { return sentences.load() >= 20; }, 3000)) << sentences.load();
    EXPECT_TRUE(InNmea(current)) << "not set back to ready after the callback";
    HalvexWaypointCallback download = OnWaypoints;
    EXPECT_EQ(HalvexDownloadWayPtInit(current, &download), 0) << "no transfer on a line in NMEA mode";
}

TEST_F(Reentry, AnIdentificationStartedFromADownloadCallbackReportsOnce)
{
    current = Ready(Types(103));
    HalvexWaypointCallback download = WaypointsThenIdentify;
    ASSERT_EQ(HalvexDownloadWayPtInit(current, &download), 1);
    ASSERT_TRUE(WaitUntil([] { return identified.load() == 1; }, 3000));
    std::this_thread::sleep_for(std::chrono::milliseconds(3500)); // past any timer of the request
    EXPECT_EQ(identified.load(), 1);
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(Objective(current), ObjectiveReady);
    EXPECT_EQ(CountInLog("Unknown objective\n"), 0);
}

TEST_F(Reentry, ATrackPointCallbackThatStartsNmeaSendsNoAbort)
{
    halvexsim::Config config = Types(103);
    for (uint32_t i = 0; i < 20; i++)
        config.store.trackPoints.push_back({0, 0, i, i == 0});
    current = Ready(config);
    HalvexTrackCallback download = PointThenNmea;
    ASSERT_EQ(HalvexDownloadTrackInit(current, &download), 1);
    ASSERT_TRUE(WaitUntil([&] { return InNmea(current); }, 3000));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(receiver->Statistics().aborts, 0);
    EXPECT_EQ(CountInLog("Aborting Track download\n"), 0);
}

} // namespace
