// The dispatch thread as a loaded library runs it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#ifndef _WIN32
#include <sys/resource.h>
#endif

#include "engine/dispatch.h"
#include "engine_fixture.h"
#include "engine/enginelock.h"
#include "engine/entry.h"
#include "engine/timerqueue.h"
#include "engine/waittable.h"
#include "halvex32.h"

namespace {

using Clock = std::chrono::steady_clock;

class Dispatcher : public EngineRunning {
protected:
    void SetUp() override
    {
        EngineRunning::SetUp();
        ASSERT_TRUE(DispatcherReady());
    }
};

std::atomic<int> calls;
std::atomic<std::thread::id> callerThread;
Clock::time_point firedAt;

void CountCall(void *)
{
    firedAt = Clock::now();
    callerThread = std::this_thread::get_id();
    calls++;
}

bool WaitFor(const std::atomic<int> &value, int expected, int milliseconds = 2000)
{
    auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    while (value.load() != expected && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return value.load() == expected;
}

TEST_F(Dispatcher, TimersFireOnTheDispatchThreadOnTime)
{
    calls = 0;
    LockEngine();
    auto armed = Clock::now();
    CreateTimer(nullptr, 60, CountCall);
    UnlockEngine();
    WakeDispatcher();
    ASSERT_TRUE(WaitFor(calls, 1));
    auto late = firedAt - armed;
    // Deadlines are kept in GetTickCount's whole milliseconds, which under
    // Wine follow the steady clock only to a millisecond or two.
    EXPECT_GE(late, std::chrono::milliseconds(57));
    EXPECT_LT(late, std::chrono::milliseconds(300));
    EXPECT_NE(callerThread.load(), std::this_thread::get_id());
}

void Reenter(HANDLE, void *)
{
    // A handler that calls back into the library, as a host callback may.
    OutputDebug("from the dispatch thread\n");
    LockEngine();
    CreateTimer(nullptr, 0, CountCall);
    UnlockEngine();
}

TEST_F(Dispatcher, HandlersMayCallBackIntoTheLibrary)
{
    calls = 0;
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    RegisterWaitHandle(event, nullptr, Reenter);
    WakeDispatcher();
    SetEvent(event);
    EXPECT_TRUE(WaitFor(calls, 1));
    UnregisterWaitHandle(event);
    WakeDispatcher();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    CloseHandle(event);
}

std::atomic<int> staleCalls;
void CountStale(HANDLE, void *)
{
    staleCalls++;
}

TEST_F(Dispatcher, AnEntryRemovedDuringTheWaitIsNeverCalled)
{
    staleCalls = 0;
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    RegisterWaitHandle(event, nullptr, CountStale);
    WakeDispatcher();
    std::this_thread::sleep_for(std::chrono::milliseconds(50)); // now waiting on it
    UnregisterWaitHandle(event);
    SetEvent(event);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(staleCalls.load(), 0);
    CloseHandle(event);
}

double ProcessCpuSeconds()
{
#ifdef _WIN32
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto seconds = [](const FILETIME &t) { return ((double)t.dwHighDateTime * 4294967296.0 + t.dwLowDateTime) / 1e7; };
    return seconds(kernel) + seconds(user);
#else
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
#endif
}

TEST_F(Dispatcher, AnIdleThreadSleepsInTheKernel)
{
    // Windows (and Wine) count process time in scheduler ticks of 10-16 ms,
    // so allow two ticks over a second: a polling or spinning thread uses far more.
    double before = ProcessCpuSeconds();
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    EXPECT_LT(ProcessCpuSeconds() - before, 0.035);
}

TEST_F(Dispatcher, DetachWakesTheThreadInsteadOfWaitingOutItsTimers)
{
    LockEngine();
    CreateTimer(nullptr, 60000, CountCall);
    UnlockEngine();
    WakeDispatcher();
    auto start = Clock::now();
    ProcessDetach();
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(100));
    ProcessAttach(); // for TearDown
}

} // namespace
