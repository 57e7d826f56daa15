// A wait whose time-out cannot be armed (no memory for the timer) would last
// without end: the operation that needs it fails at once instead, with its
// one report, and the session stays usable.
#include "engine/timerqueue.h"
#include "transfers.h"

namespace {

using namespace transfers;

class TimerMemory : public Transfers {
protected:
    void TearDown() override
    {
        FailTimerCreation(0);
        Transfers::TearDown();
    }
};

TEST_F(TimerMemory, ATransferThatCannotTimeItsWaitsFailsAtOnce)
{
    PortSession *session = Ready(Types(108));
    // The command's ACK time-out: the command is not sent.
    FailTimerCreation(1);
    EXPECT_EQ(HalvexDownloadWayPtInit(session, &waypointDownload), 0);
    EXPECT_EQ(HalvexGetLastError(), HalvexErrorNoMemory);
    EXPECT_EQ(Objective(session), ObjectiveReady);
    EXPECT_EQ(Finals(), 0) << "a refused export calls nothing back";

    // The download's silence timer, armed when the command is acknowledged.
    FailTimerCreation(2);
    ASSERT_EQ(HalvexDownloadWayPtInit(session, &waypointDownload), 1);
    ASSERT_TRUE(WaitUntil([&] { return Finals() == 1; }, 2000));
    EXPECT_EQ(heard.why, HalvexErrorNoMemory);
    EXPECT_TRUE(heard.nullArray);
    EXPECT_TRUE(WaitUntil([&] { return Objective(session) == ObjectiveReady; }, 1000));
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // what the receiver still sends
    EXPECT_EQ(Finals(), 1) << "one final callback";
}

TEST_F(TimerMemory, NmeaModeThatCannotTimeItsSilenceIsRefusedAndBinaryModeKept)
{
    PortSession *session = Ready(Types(108));
    FailTimerCreation(1);
    HalvexNmeaCallback sentences = [](int32_t, int32_t, BSTR *) -> int16_t { return 1; };
    EXPECT_EQ(StartNMEA(session, nullptr, &sentences), 0);
    EXPECT_EQ(HalvexGetLastError(), HalvexErrorNoMemory);
    EXPECT_FALSE(InNmea(session));
    EXPECT_EQ(Objective(session), ObjectiveReady);
    UploadSample(session, 108); // the link still works
}

} // namespace
