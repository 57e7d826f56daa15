// Events, waits and threads of the platform layer, as the library relies on them.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <signal.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "platform/platform.h"
#include "platform/unix/serial.h"

namespace {

HANDLE Event(bool manual, bool set) { return CreateEventA(nullptr, manual, set, nullptr); }

TEST(Events, WaitReportsLowestSignalledAndConsumesOnlyThatAutoResetEvent)
{
    HANDLE handles[3] = {Event(false, false), Event(false, true), Event(false, true)};
    EXPECT_EQ(WaitForMultipleObjects(3, handles, FALSE, 0), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForMultipleObjects(3, handles, FALSE, 0), WAIT_OBJECT_0 + 2);
    EXPECT_EQ(WaitForMultipleObjects(3, handles, FALSE, 0), WAIT_TIMEOUT);
    for (HANDLE h : handles)
        CloseHandle(h);
}

TEST(Events, ManualResetStaysSetUntilReset)
{
    HANDLE event = Event(true, false);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    SetEvent(event);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    ResetEvent(event);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    CloseHandle(event);
}

TEST(Events, WaitAllNeedsEveryHandle)
{
    HANDLE handles[2] = {Event(false, true), Event(true, false)};
    EXPECT_EQ(WaitForMultipleObjects(2, handles, TRUE, 0), WAIT_TIMEOUT);
    SetEvent(handles[1]);
    EXPECT_EQ(WaitForMultipleObjects(2, handles, TRUE, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(handles[0], 0), WAIT_TIMEOUT) << "auto-reset event consumed";
    EXPECT_EQ(WaitForSingleObject(handles[1], 0), WAIT_OBJECT_0);
    for (HANDLE h : handles)
        CloseHandle(h);
}

TEST(Events, BadWaitsFailWithTheWindowsErrors)
{
    HANDLE event = Event(false, true);
    EXPECT_EQ(WaitForMultipleObjects(0, &event, FALSE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);

    HANDLE many[MAXIMUM_WAIT_OBJECTS + 1];
    for (HANDLE &h : many)
        h = Event(false, false);
    EXPECT_EQ(WaitForMultipleObjects(MAXIMUM_WAIT_OBJECTS + 1, many, FALSE, 0), WAIT_FAILED);
    EXPECT_EQ(WaitForMultipleObjects(MAXIMUM_WAIT_OBJECTS, many, FALSE, 0), WAIT_TIMEOUT);
    for (HANDLE h : many)
        CloseHandle(h);

    HANDLE twice[2] = {event, event};
    EXPECT_EQ(WaitForMultipleObjects(2, twice, FALSE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);

    CloseHandle(event);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
    EXPECT_FALSE(SetEvent(event));
    EXPECT_FALSE(CloseHandle(event));
}

TEST(Events, SetFromAnotherThreadEndsAnInfiniteWait)
{
    HANDLE event = Event(false, false);
    auto start = std::chrono::steady_clock::now();
    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        SetEvent(event);
    });
    EXPECT_EQ(WaitForSingleObject(event, INFINITE), WAIT_OBJECT_0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(25));
    setter.join();
    CloseHandle(event);
}

TEST(Events, TimedWaitLastsItsTimeout)
{
    HANDLE event = Event(false, false);
    DWORD before = GetTickCount();
    EXPECT_EQ(WaitForSingleObject(event, 50), WAIT_TIMEOUT);
    DWORD waited = GetTickCount() - before;
    EXPECT_GE(waited, 49u);
    EXPECT_LT(waited, 500u);
    CloseHandle(event);
}

std::atomic<int> threadRan{0};

DWORD WINAPI CountAndExit(LPVOID parameter)
{
    threadRan += *(int *)parameter;
    ExitThread(7);
}

TEST(Threads, ThreadHandleIsSignalledWhenTheThreadEnds)
{
    int step = 3;
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, CountAndExit, &step, 0, &id);
    ASSERT_NE(thread, nullptr);
    EXPECT_NE(id, 0u);
    EXPECT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
    EXPECT_EQ(threadRan.load(), 3);
    EXPECT_TRUE(CloseHandle(thread));
}

TEST(Threads, LastErrorIsPerThread)
{
    SetLastError(ERROR_ACCESS_DENIED);
    std::thread other([] {
        EXPECT_EQ(GetLastError(), 0u);
        SetLastError(ERROR_FILE_NOT_FOUND);
    });
    other.join();
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
}

TEST(Files, TempPathFollowsTmpdirWithATrailingSlash)
{
    char path[256];
    setenv("TMPDIR", "/var/tmp", 1);
    EXPECT_EQ(GetTempPathA(sizeof path, path), 9u);
    EXPECT_STREQ(path, "/var/tmp/");
    EXPECT_EQ(GetTempPathA(5, path), 10u) << "too small: the size needed";
    unsetenv("TMPDIR");
    EXPECT_EQ(GetTempPathA(sizeof path, path), 5u);
    EXPECT_STREQ(path, "/tmp/");
}

TEST(Files, EnvironmentAndFullPathsAnswerAsWin32Does)
{
    char text[64];
    setenv("HALVEX_TEST_VARIABLE", "value", 1);
    EXPECT_EQ(GetEnvironmentVariableA("HALVEX_TEST_VARIABLE", text, sizeof text), 5u);
    EXPECT_STREQ(text, "value");
    EXPECT_EQ(GetEnvironmentVariableA("HALVEX_TEST_VARIABLE", text, 5), 6u) << "too small: the room needed";
    unsetenv("HALVEX_TEST_VARIABLE");
    EXPECT_EQ(GetEnvironmentVariableA("HALVEX_TEST_VARIABLE", text, sizeof text), 0u);

    EXPECT_EQ(GetFullPathNameA("/var/log/x.log", sizeof text, text, nullptr), 14u);
    EXPECT_STREQ(text, "/var/log/x.log");
    char directory[4096], full[4096 + 16];
    ASSERT_NE(getcwd(directory, sizeof directory), nullptr);
    EXPECT_EQ(GetFullPathNameA("x.log", sizeof full, full, nullptr), strlen(directory) + 6);
    EXPECT_EQ(std::string(full), std::string(directory) + "/x.log");
}

// A port the user may not open is told apart from one in use. Root opens
// anything, so the check runs as nobody, in a child that starts no threads.
TEST(Files, NoPermissionIsNotAPortInUse)
{
    char path[] = "/tmp/halvex-denied-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    chmod(path, 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0 && setuid(65534) != 0)
            _exit(100);
        HANDLE port = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        _exit(port == INVALID_HANDLE_VALUE && GetLastError() == ERROR_PRIVILEGE_NOT_HELD ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    unlink(path);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 100)
        GTEST_SKIP() << "cannot become nobody here";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

void HostsOwnHandler(int) {}

// The modem thread's wake-up handler is ours only while we are loaded, and
// never when the host had the signal first.
TEST(Signals, TheWakeHandlerIsPutBackAndAHostsOwnIsLeftAlone)
{
    int wake = SIGRTMIN + 5;
    struct sigaction before, now;
    sigaction(wake, nullptr, &before);
    ASSERT_EQ(before.sa_handler, SIG_DFL);
    ASSERT_EQ(PrepareWakeSignal(), 1);
    sigaction(wake, nullptr, &now);
    EXPECT_NE(now.sa_handler, SIG_DFL);
    RestoreWakeSignal();
    sigaction(wake, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_DFL);

    struct sigaction host = {};
    host.sa_handler = HostsOwnHandler;
    sigaction(wake, &host, nullptr);
    EXPECT_EQ(PrepareWakeSignal(), 0);
    RestoreWakeSignal();
    sigaction(wake, nullptr, &now);
    EXPECT_EQ(now.sa_handler, HostsOwnHandler);
    sigaction(wake, &before, nullptr);
}

} // namespace
