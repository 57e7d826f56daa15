// The wait table and one pass of wait and dispatch, without the thread.
#include <gtest/gtest.h>

#include <vector>

#include "engine/dispatch.h"
#include "engine/enginelock.h"
#include "engine/waittable.h"
#include "errlog/errlog.h"

namespace {

std::vector<int> served;
void Serve(HANDLE, void *context)
{
    served.push_back(static_cast<int>(reinterpret_cast<intptr_t>(context)));
}
void *Tag(int n) { return reinterpret_cast<void *>(static_cast<intptr_t>(n)); }

class WaitTableTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        InitEngineLock();
        InitErrorLog();
        InitWaitTable();
        served.clear();
    }
    void TearDown() override
    {
        for (HANDLE h : events) {
            UnregisterWaitHandle(h);
            CloseHandle(h);
        }
        DeleteWaitTable();
        DeleteErrorLog();
        DeleteEngineLock();
    }
    HANDLE NewEvent()
    {
        events.push_back(CreateEventA(nullptr, FALSE, FALSE, nullptr));
        return events.back();
    }
    int Count()
    {
        WaitTable copy;
        SnapshotWaitTable(&copy);
        return copy.count;
    }
    std::vector<HANDLE> events;
};

TEST_F(WaitTableTest, SignalledHandlesAreServedOnePerPassLowestFirst)
{
    HANDLE a = NewEvent(), b = NewEvent(), c = NewEvent();
    RegisterWaitHandle(a, Tag(1), Serve);
    RegisterWaitHandle(b, Tag(2), Serve);
    RegisterWaitHandle(c, Tag(3), Serve);
    SetEvent(c);
    SetEvent(b);
    EXPECT_EQ(WaitAndDispatch(0), 1u);
    EXPECT_EQ(WaitAndDispatch(0), 2u);
    EXPECT_EQ(WaitAndDispatch(0), WAIT_TIMEOUT);
    EXPECT_EQ(served, (std::vector<int>{2, 3}));
}

TEST_F(WaitTableTest, RemovalKeepsTheTableDenseAndInOrder)
{
    HANDLE a = NewEvent(), b = NewEvent(), c = NewEvent();
    RegisterWaitHandle(a, Tag(1), Serve);
    RegisterWaitHandle(b, Tag(2), Serve);
    RegisterWaitHandle(c, Tag(3), Serve);
    EXPECT_EQ(UnregisterWaitHandle(b), 1);
    EXPECT_EQ(UnregisterWaitHandle(b), 0) << "not in the table";
    EXPECT_EQ(Count(), 2);
    HANDLE d = NewEvent();
    RegisterWaitHandle(d, Tag(4), Serve);
    WaitTable copy;
    SnapshotWaitTable(&copy);
    ASSERT_EQ(copy.count, 3);
    EXPECT_EQ(copy.handles[0], a);
    EXPECT_EQ(copy.handles[1], c);
    EXPECT_EQ(copy.handles[2], d);
}

TEST_F(WaitTableTest, RefusesMoreThanThePlatformWaitTakes)
{
    for (int i = 0; i < MAXIMUM_WAIT_OBJECTS; i++)
        EXPECT_EQ(RegisterWaitHandle(NewEvent(), Tag(i), Serve), 1);
    EXPECT_EQ(RegisterWaitHandle(NewEvent(), Tag(99), Serve), 0);
    SetEvent(events[MAXIMUM_WAIT_OBJECTS - 1]);
    EXPECT_EQ(WaitAndDispatch(0), (DWORD)MAXIMUM_WAIT_OBJECTS - 1) << "a full table still waits";
}

} // namespace
