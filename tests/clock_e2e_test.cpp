// The receiver's clock through the exports: on time, one and two GPS week
// rollovers behind, silent after its ACK, and the requests it must refuse.
#include <ctime>
#include <mutex>

#include "transfers.h"

namespace {

using namespace transfers;

struct Clocks {
    std::mutex lock;
    // Codes and records apart: a record beside an int would lie off the
    // 8-byte boundary its doubles need where records are 4-byte packed.
    std::vector<int> codes;
    std::vector<HostClock> heard;
    int32_t why = -1;
} clocks;

void HALVEX_CALL OnClock(int32_t code, HostClock *clock)
{
    std::lock_guard<std::mutex> hold(clocks.lock);
    clocks.codes.push_back(code);
    clocks.heard.push_back(*clock);
    clocks.why = HalvexGetLastError();
}

class Clock : public Transfers {
protected:
    void SetUp() override
    {
        Transfers::SetUp();
        std::lock_guard<std::mutex> hold(clocks.lock);
        clocks.heard.clear();
        clocks.codes.clear();
        clocks.why = -1;
    }
    size_t Heard()
    {
        std::lock_guard<std::mutex> hold(clocks.lock);
        return clocks.heard.size();
    }
    HalvexTimeCallback callback = OnClock;
};

TEST_F(Clock, TellsTheReceiversDateAndTheRolloversItTrailsBy)
{
    for (int rollovers : {0, 1, 2}) {
        SCOPED_TRACE(rollovers);
        {
            std::lock_guard<std::mutex> hold(clocks.lock);
            clocks.heard.clear();
            clocks.codes.clear();
        }
        halvexsim::Config config;
        config.weekRollovers = rollovers;
        PortSession *session = Ready(config);
        ASSERT_EQ(HalvexGetTimeInit(session, &callback), 1);
        EXPECT_EQ(HalvexGetLastError(), HalvexErrorNone);
        ASSERT_TRUE(WaitUntil([&] { return Heard() == 1; }, 5000));
        std::this_thread::sleep_for(std::chrono::milliseconds(100)); // no second final call
        EXPECT_EQ(Objective(session), ObjectiveReady) << "and the session free for the next operation";
        std::vector<HostClock> heard;
        std::vector<int> codes;
        {
            std::lock_guard<std::mutex> hold(clocks.lock); // never held while the library is called
            heard = clocks.heard;
            codes = clocks.codes;
        }
        ASSERT_EQ(heard.size(), 1u);
        const HostClock &clock = heard[0];
        EXPECT_EQ(codes[0], HalvexClockRead);
        EXPECT_EQ(clock.weeksBehind, 1024 * rollovers);
        EXPECT_NEAR(clock.receiverTime, OleNow() - 7168.0 * rollovers, 3.0 / 86400) << "as the receiver said";
        EXPECT_NEAR(clock.hostTime, OleNow(), 3.0 / 86400);
        EXPECT_EQ(clock.reserved, 0);
        CloseCommPort(session);
        receiver->Stop();
        receiver.reset();
    }
}

TEST_F(Clock, NoAnswerAfterTheAckEndsWithTheFailureReport)
{
    halvexsim::Config config;
    config.faults.muteAfter = 4; // identification's three frames, then the command's ACK alone
    PortSession *session = Ready(config);
    long long asked = SteadyMs();
    ASSERT_EQ(HalvexGetTimeInit(session, &callback), 1);
    ASSERT_TRUE(WaitUntil([&] { return Heard() == 1; }, 6000));
    EXPECT_GE(SteadyMs() - asked, 2900) << "3 s are given for the answer";
    EXPECT_EQ(Objective(session), ObjectiveReady);
    CloseCommPort(session);
    std::lock_guard<std::mutex> hold(clocks.lock);
    EXPECT_EQ(clocks.codes[0], HalvexClockFailed);
    EXPECT_EQ(clocks.heard[0].receiverTime, 0.0) << "never a made-up date";
    EXPECT_EQ(clocks.why, HalvexErrorNoAnswer);
}

TEST_F(Clock, RefusedUnlessIdentifiedIdleAndKeepingAClock)
{
    PortSession *session = Connect(halvexsim::Config{});
    EXPECT_EQ(HalvexGetTimeInit(session, &callback), 0);
    EXPECT_EQ(HalvexGetLastError(), HalvexErrorNotReady);
    CloseCommPort(session);
    EXPECT_EQ(HalvexGetTimeInit(session, &callback), 0);
    EXPECT_EQ(HalvexGetLastError(), HalvexErrorBadSession);
    receiver->Stop();
    receiver.reset();

    session = Ready(Types(103)); // an array without A600
    EXPECT_EQ(HalvexGetTimeInit(session, &callback), 0);
    EXPECT_EQ(HalvexGetLastError(), HalvexErrorNotSupported);
    CloseCommPort(session);
    receiver->Stop();
    receiver.reset();

    halvexsim::Config slow;
    slow.faults.ackDelayMs = 1000; // the download is still under way when the clock is asked for
    session = Ready(slow, 10000);
    ASSERT_EQ(HalvexDownloadWayPtInit(session, &waypointDownload), 1);
    EXPECT_EQ(HalvexGetTimeInit(session, &callback), 0);
    EXPECT_EQ(HalvexGetLastError(), HalvexErrorBusy);
    EXPECT_EQ(Heard(), 0u) << "a refusal makes no call";
    CloseCommPort(session);
}

} // namespace
