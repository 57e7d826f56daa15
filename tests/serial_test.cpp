// The POSIX serial layer against a pseudo-terminal: the Win32 behaviour the
// port session relies on.
#include <gtest/gtest.h>

#include <sys/file.h>
#include <termios.h>

#include <string>
#include <thread>

#include "platform/platform.h"
#include "platform/unix/serial.h"
#include "pty.h"

namespace {

static_assert(sizeof(DCB) == 28, "DCB is 28 bytes");

class Serial : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_GE(pty.master(), 0);
        port = CreateFileA(pty.path(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED, nullptr);
        ASSERT_NE(port, INVALID_HANDLE_VALUE);
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        ASSERT_TRUE(GetCommState(port, &dcb));
        dcb.BaudRate = 9600;
        dcb.ByteSize = 8;
        dcb.EvtChar = '\n';
        ASSERT_TRUE(SetCommState(port, &dcb));
        COMMTIMEOUTS timeouts{MAXDWORD, MAXDWORD, 200, 0, 0};
        SetCommTimeouts(port, &timeouts);
        event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        overlapped.hEvent = event;
    }
    void TearDown() override
    {
        CloseHandle(port);
        CloseHandle(event);
    }
    // A read of what is queued, waited for when it goes pending.
    std::string Read(DWORD size = 1023)
    {
        char buffer[4096];
        DWORD got = 0;
        if (!ReadFile(port, buffer, size, &got, &overlapped)) {
            EXPECT_EQ(GetLastError(), (DWORD)ERROR_IO_PENDING);
            EXPECT_TRUE(GetOverlappedResult(port, &overlapped, &got, TRUE));
        }
        return std::string(buffer, got);
    }

    Pty pty;
    HANDLE port = INVALID_HANDLE_VALUE;
    HANDLE event = nullptr;
    OVERLAPPED overlapped{};
};

// A pseudo-terminal has no latency timer to lower: the open goes on as if
// nothing had been asked, and the close has nothing to put back.
TEST_F(Serial, ADriverWithoutLowLatencyOpensAsAnyOther)
{
    CommPort *opened = LookupPort(port);
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(opened->restoreLatency, 0);
    EXPECT_EQ(Read(0), "") << "the port works";
}

TEST_F(Serial, LineSettingsReachTheDevice)
{
    DCB dcb{};
    GetCommState(port, &dcb);
    for (DWORD baud : {4800u, 115200u, 31250u}) {
        dcb.BaudRate = baud;
        dcb.Parity = EVENPARITY;
        dcb.StopBits = TWOSTOPBITS;
        dcb.ByteSize = 7;
        ASSERT_TRUE(SetCommState(port, &dcb)) << baud;
        DCB back{};
        ASSERT_TRUE(GetCommState(port, &back));
        EXPECT_EQ(back.BaudRate, baud);
        EXPECT_EQ(back.StopBits, TWOSTOPBITS);
        EXPECT_EQ(back.EvtChar, '\n') << "kept by the layer";
        // A pseudo-terminal always reads back 8 bits without parity.
    }
    termios t{};
    ASSERT_EQ(tcgetattr(pty.master(), &t), 0);
    EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ISIG));
    EXPECT_FALSE(t.c_oflag & OPOST);
    EXPECT_EQ(t.c_cflag & CSIZE, (tcflag_t)CS8);
    dcb.ByteSize = 9;
    EXPECT_FALSE(SetCommState(port, &dcb));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
}

TEST_F(Serial, OpenIsExclusiveEvenForRoot)
{
    HANDLE second = CreateFileA(pty.path(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OVERLAPPED, nullptr);
    EXPECT_EQ(second, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
    EXPECT_EQ(CreateFileA("/dev/no-such-tty", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
}

TEST_F(Serial, ReadReturnsWhatIsQueuedOrWaitsForTheFirstByte)
{
    pty.Send("abc");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(Read(), "abc");

    DWORD start = GetTickCount();
    EXPECT_EQ(Read(), "") << "nothing arrives: completes empty after the constant";
    EXPECT_GE(GetTickCount() - start, 190u);

    std::thread later([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        pty.Send("xyz");
    });
    start = GetTickCount();
    std::string got = Read();
    later.join();
    EXPECT_FALSE(got.empty());
    EXPECT_LT(GetTickCount() - start, 150u) << "returns as soon as bytes come";
    got += Read();
    EXPECT_EQ(got, "xyz");
}

TEST_F(Serial, ImmediateCompletionStillSignalsTheEvent)
{
    pty.Send("q");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    char byte;
    DWORD got = 0;
    ASSERT_TRUE(ReadFile(port, &byte, 1, &got, &overlapped));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
}

TEST_F(Serial, EventCharacterCompletesTheWaitAndHeldEventsAreKept)
{
    SetCommMask(port, EV_RXFLAG);
    DWORD mask = 0;
    ASSERT_FALSE(WaitCommEvent(port, &mask, &overlapped));
    ASSERT_EQ(GetLastError(), (DWORD)ERROR_IO_PENDING);
    DWORD n;
    EXPECT_FALSE(GetOverlappedResult(port, &overlapped, &n, FALSE));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_IO_INCOMPLETE);
    pty.Send("no end yet");
    EXPECT_EQ(WaitForSingleObject(event, 100), WAIT_TIMEOUT);
    pty.Send("\n$GP\n");
    ASSERT_EQ(WaitForSingleObject(event, 1000), WAIT_OBJECT_0);
    EXPECT_TRUE(GetOverlappedResult(port, &overlapped, &n, FALSE));
    EXPECT_EQ(mask, (DWORD)EV_RXFLAG);

    // An event character while no wait is pending completes the next one at once.
    pty.Send("more\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    mask = 0;
    EXPECT_TRUE(WaitCommEvent(port, &mask, &overlapped));
    EXPECT_EQ(mask, (DWORD)EV_RXFLAG);
    EXPECT_EQ(Read(), "no end yet\n$GP\nmore\n");
}

TEST_F(Serial, MaskChangeCompletesAPendingWaitWithNothing)
{
    SetCommMask(port, EV_RXFLAG);
    DWORD mask = 123;
    ASSERT_FALSE(WaitCommEvent(port, &mask, &overlapped));
    SetCommMask(port, EV_RXFLAG | EV_ERR);
    ASSERT_EQ(WaitForSingleObject(event, 1000), WAIT_OBJECT_0);
    DWORD n;
    EXPECT_TRUE(GetOverlappedResult(port, &overlapped, &n, FALSE));
    EXPECT_EQ(mask, 0u);
}

TEST_F(Serial, PurgeAbortsPendingReadsAndClearsInput)
{
    char buffer[16];
    ASSERT_FALSE(ReadFile(port, buffer, sizeof buffer, nullptr, &overlapped));
    PurgeComm(port, PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR);
    DWORD n;
    EXPECT_FALSE(GetOverlappedResult(port, &overlapped, &n, TRUE));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_OPERATION_ABORTED);

    pty.Send("stale");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    PurgeComm(port, PURGE_RXCLEAR);
    DWORD errors;
    COMSTAT status;
    ASSERT_TRUE(ClearCommError(port, &errors, &status));
    EXPECT_EQ(status.cbInQue, 0u);
}

// Cancelling a port's operations ends each of them before CancelIoEx
// returns: a closing session may then free what they would write into.
TEST_F(Serial, CancelEndsEveryPendingOperationAtOnce)
{
    ASSERT_TRUE(SetCommMask(port, EV_RXFLAG));
    DWORD mask = 0xFFFF;
    OVERLAPPED waiting{};
    waiting.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_FALSE(WaitCommEvent(port, &mask, &waiting));
    char buffer[16];
    ASSERT_FALSE(ReadFile(port, buffer, sizeof buffer, nullptr, &overlapped));
    ASSERT_TRUE(CancelIoEx(port, nullptr));
    DWORD n;
    for (OVERLAPPED *done : {&waiting, &overlapped}) {
        EXPECT_EQ(WaitForSingleObject(done->hEvent, 0), WAIT_OBJECT_0) << "signalled already";
        EXPECT_FALSE(GetOverlappedResult(port, done, &n, FALSE));
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_OPERATION_ABORTED);
    }
    EXPECT_EQ(mask, 0u);
    EXPECT_EQ(Read(0), "") << "the port works on";
    CloseHandle(waiting.hEvent);
}

TEST_F(Serial, WritesLeaveInOrderWhilePending)
{
    // Larger than the pty can hold, so later writes queue behind the first.
    std::string first(20000, 'a'), second(20000, 'b'), third = "end";
    OVERLAPPED o[3] = {};
    HANDLE events[3];
    const std::string *data[3] = {&first, &second, &third};
    for (int i = 0; i < 3; i++) {
        events[i] = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        o[i].hEvent = events[i];
        WriteFile(port, data[i]->data(), (DWORD)data[i]->size(), nullptr, &o[i]);
    }
    std::string received = pty.Receive(first.size() + second.size() + third.size(), 5000);
    EXPECT_EQ(received, first + second + third);
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(WaitForSingleObject(events[i], 1000), WAIT_OBJECT_0);
        DWORD n;
        EXPECT_TRUE(GetOverlappedResult(port, &o[i], &n, FALSE));
        EXPECT_EQ(n, data[i]->size());
        CloseHandle(events[i]);
    }
}

TEST_F(Serial, FullInputQueueHoldsTheDeviceBackWithoutLoss)
{
    SetupComm(port, 64, 64);
    COMMPROP properties;
    ASSERT_TRUE(GetCommProperties(port, &properties));
    EXPECT_EQ(properties.dwCurrentRxQueue, 64u);
    std::string sent;
    for (int i = 0; i < 3000; i++)
        sent += static_cast<char>('0' + i % 10);
    std::thread sender([&] { pty.Send(sent); });
    std::string got;
    while (got.size() < sent.size()) {
        std::string chunk = Read(16);
        if (chunk.empty())
            break;
        got += chunk;
    }
    sender.join();
    EXPECT_EQ(got, sent);
}

TEST_F(Serial, HangUpFailsThePendingWait)
{
    SetCommMask(port, EV_RXFLAG);
    DWORD mask;
    ASSERT_FALSE(WaitCommEvent(port, &mask, &overlapped));
    pty.CloseMaster();
    ASSERT_EQ(WaitForSingleObject(event, 1000), WAIT_OBJECT_0);
    DWORD n;
    EXPECT_FALSE(GetOverlappedResult(port, &overlapped, &n, FALSE));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_FALSE(WaitCommEvent(port, &mask, &overlapped));
}

TEST(SerialFiles, ARegularFileOpensButIsNoCommDevice)
{
    char path[] = "/tmp/halvex-file-XXXXXX";
    close(mkstemp(path));
    HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DCB dcb{};
    EXPECT_FALSE(GetCommState(file, &dcb));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_FUNCTION);
    CloseHandle(file);
    unlink(path);
}

} // namespace
