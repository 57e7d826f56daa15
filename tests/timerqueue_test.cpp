// The timer queue on a clock the test turns by hand.
#include <gtest/gtest.h>

#include <vector>

#include "engine/timerqueue.h"

namespace {

DWORD fakeNow;
DWORD WINAPI FakeTicks(void) { return fakeNow; }

std::vector<int> fired;
void Record(void *context)
{
    fired.push_back(static_cast<int>(reinterpret_cast<intptr_t>(context)));
}
void *Tag(int n) { return reinterpret_cast<void *>(static_cast<intptr_t>(n)); }

class TimerQueue : public ::testing::Test {
protected:
    void SetUp() override
    {
        InitTimerQueue();
        fakeNow = 1000;
        SetTimerTickSource(FakeTicks);
        fired.clear();
    }
    void TearDown() override { DeleteTimerQueue(); }

    // What the dispatch thread does after each wait.
    void Pass()
    {
        ExpireTimers();
        void *context;
        TimerCallback callback;
        while (PopExpiredTimer(&context, &callback))
            callback(context);
    }
};

TEST_F(TimerQueue, NoTimerMeansWaitForever)
{
    ExpireTimers();
    EXPECT_EQ(NextTimeout(), INFINITE);
    EXPECT_EQ(PopExpiredTimer(nullptr, nullptr), nullptr);
}

TEST_F(TimerQueue, NextTimeoutIsTheEarliestRemainingTime)
{
    CreateTimer(Tag(1), 3000, Record);
    CreateTimer(Tag(2), 500, Record);
    EXPECT_EQ(NextTimeout(), 500u);
    fakeNow += 200;
    Pass();
    EXPECT_EQ(NextTimeout(), 300u);
    fakeNow += 300;
    Pass();
    EXPECT_EQ(fired, std::vector<int>{2});
    EXPECT_EQ(NextTimeout(), 2500u);
}

TEST_F(TimerQueue, ZeroTimerFiresOnTheNextPass)
{
    CreateTimer(Tag(1), 0, Record);
    EXPECT_EQ(NextTimeout(), 0u);
    Pass();
    EXPECT_EQ(fired, std::vector<int>{1});
}

TEST_F(TimerQueue, TimersRunOutInArmingOrderNotByOverdue)
{
    CreateTimer(Tag(1), 100, Record);
    fakeNow += 10;
    CreateTimer(Tag(2), 100, Record);
    CreateTimer(Tag(3), 50, Record);
    fakeNow += 500; // all three run out in one pass
    Pass();
    EXPECT_EQ(fired, (std::vector<int>{1, 2, 3}));
}

TEST_F(TimerQueue, CancelledTimersNeverFireEvenWhenAlreadyExpired)
{
    void *early = CreateTimer(Tag(1), 10, Record);
    void *late = CreateTimer(Tag(2), 1000, Record);
    CreateTimer(Tag(3), 20, Record);
    fakeNow += 50;
    ExpireTimers(); // 1 and 3 run out but have not fired yet
    CancelTimer(early);
    CancelTimer(late);
    Pass();
    EXPECT_EQ(fired, std::vector<int>{3});
    EXPECT_EQ(NextTimeout(), INFINITE);
}

TEST_F(TimerQueue, CancellingAnUnknownTimerChangesNothing)
{
    CreateTimer(Tag(1), 100, Record);
    int unrelated;
    CancelTimer(&unrelated);
    fakeNow += 100;
    Pass();
    EXPECT_EQ(fired, std::vector<int>{1});
}

TEST_F(TimerQueue, ANewTimerGetsItsFullTimeAfterAnIdleSpell)
{
    CreateTimer(Tag(1), 10000, Record);
    fakeNow += 4000; // nobody looked at the queue meanwhile
    CreateTimer(Tag(2), 3000, Record);
    EXPECT_EQ(NextTimeout(), 3000u);
    fakeNow += 2999;
    Pass();
    EXPECT_TRUE(fired.empty());
    fakeNow += 1;
    Pass();
    EXPECT_EQ(fired, std::vector<int>{2});
    EXPECT_EQ(NextTimeout(), 3000u) << "the first timer was charged the idle time";
}

TEST_F(TimerQueue, ElapsedTimeCrossesTheTickWrap)
{
    fakeNow = 0xFFFFFFF0u;
    ElapsedTicks();
    fakeNow = 0x00000010u;
    EXPECT_EQ(ElapsedTicks(), 32u);

    fakeNow = 0xFFFFFFF0u;
    ElapsedTicks();
    CreateTimer(Tag(1), 40, Record);
    fakeNow = 0x00000010u;
    Pass();
    EXPECT_TRUE(fired.empty());
    fakeNow = 0x00000018u;
    Pass();
    EXPECT_EQ(fired, std::vector<int>{1});
}

TEST_F(TimerQueue, ACallbackMayArmItsSuccessor)
{
    static int rounds;
    rounds = 0;
    static TimerCallback again = [](void *) {
        if (++rounds < 3)
            CreateTimer(nullptr, 0, again);
    };
    CreateTimer(nullptr, 5, again);
    fakeNow += 5;
    Pass();
    EXPECT_EQ(rounds, 1);
    EXPECT_EQ(NextTimeout(), 0u) << "the successor wakes the next wait at once";
    Pass();
    Pass();
    Pass();
    EXPECT_EQ(rounds, 3);
    EXPECT_EQ(NextTimeout(), INFINITE);
}

TEST_F(TimerQueue, ATimerThatCannotBeMadeLeavesItsSlotEmptyAndTheOldOneCancelled)
{
    void *slot = nullptr;
    ASSERT_TRUE(ArmTimer(&slot, Tag(1), 10, Record));
    FailTimerCreation(2); // the next one is made, the one after is not
    EXPECT_TRUE(ArmTimer(&slot, Tag(2), 10, Record));
    EXPECT_FALSE(ArmTimer(&slot, Tag(3), 10, Record));
    EXPECT_EQ(slot, nullptr);
    fakeNow += 50;
    Pass();
    EXPECT_TRUE(fired.empty()) << "a replaced timer never fires";
    EXPECT_EQ(NextTimeout(), INFINITE);
    EXPECT_TRUE(ArmTimer(&slot, Tag(4), 10, Record)) << "only the one creation fails";
    DisarmTimer(&slot);
}

} // namespace
