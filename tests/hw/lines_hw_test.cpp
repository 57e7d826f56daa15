// Modem lines, line errors, breaks and unplugging, through the modelled USB
// adapter, where the test controls each of them.
#include <signal.h>
#include <sys/wait.h>

#include "platform/platform.h"
#include "session.h"

namespace hw {
namespace {

struct LineChange {
    const char *request;
    DWORD event;  // what WaitCommEvent reports
    DWORD errors; // what ClearCommError reports then
};

// In order: each starts from the state the one before left.
const LineChange changes[] = {
    {"line cts 1", EV_CTS, 0},       {"line cts 0", EV_CTS, 0},        {"line dsr 1", EV_DSR, 0},
    {"line dsr 0", EV_DSR, 0},       {"line dcd 1", EV_RLSD, 0},       {"line dcd 0", EV_RLSD, 0},
    {"error frame", EV_ERR, CE_FRAME}, {"error parity", EV_ERR, CE_RXPARITY},
    {"error overrun", EV_ERR, CE_OVERRUN}, {"error break", EV_BREAK, CE_BREAK},
};

class Port : public RealLine {
protected:
    void SetUp() override
    {
        RealLine::SetUp();
        device = FindAdapter(ModelledAdapter);
        ASSERT_FALSE(device.empty());
        port = CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED, nullptr);
        ASSERT_NE(port, INVALID_HANDLE_VALUE);
        overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        ASSERT_TRUE(SetCommMask(port, EV_CTS | EV_DSR | EV_RLSD | EV_RING | EV_ERR | EV_BREAK));
    }
    void TearDown() override
    {
        CloseHandle(port);
        CloseHandle(overlapped.hEvent);
        RealLine::TearDown();
    }
    // Starts a wait; the events it ended with, or 0 when it did not end.
    void StartWait()
    {
        ResetEvent(overlapped.hEvent);
        ASSERT_FALSE(WaitCommEvent(port, &mask, &overlapped));
        ASSERT_EQ(GetLastError(), (DWORD)ERROR_IO_PENDING);
    }
    DWORD Ended(DWORD milliseconds)
    {
        DWORD count;
        if (WaitForSingleObject(overlapped.hEvent, milliseconds) != WAIT_OBJECT_0 ||
            !GetOverlappedResult(port, &overlapped, &count, FALSE))
            return 0;
        return mask;
    }

    std::string device;
    HANDLE port = INVALID_HANDLE_VALUE;
    OVERLAPPED overlapped{};
    DWORD mask = 0;
};

TEST_F(Port, EachModemLineAndLineErrorIsReportedAsItsEvent)
{
    for (const LineChange &change : changes) {
        SCOPED_TRACE(change.request);
        StartWait();
        ASSERT_EQ(Control::Ask(change.request), "ok");
        EXPECT_EQ(Ended(5000) & change.event, change.event);
        DWORD errors = 0;
        COMSTAT status;
        ASSERT_TRUE(ClearCommError(port, &errors, &status));
        EXPECT_EQ(errors, change.errors);
    }
}

// Windows reports the ring indicator when it goes off, not when it comes on.
TEST_F(Port, RingIsReportedOnItsTrailingEdge)
{
    StartWait();
    ASSERT_EQ(Control::Ask("line ri 1"), "ok");
    EXPECT_EQ(Ended(300), 0u);
    ASSERT_EQ(Control::Ask("line ri 0"), "ok");
    EXPECT_EQ(Ended(5000) & EV_RING, (DWORD)EV_RING);
}

// What a host of OpenCommPortEx hears: CTS, DSR and ring as line events,
// line errors in NMEA mode with their flags.
TEST_F(RealLine, AHostHearsModemLinesAndLineErrors)
{
    std::string device = FindAdapter(ModelledAdapter);
    ASSERT_FALSE(device.empty());
    session = OpenCommPortEx(device.c_str(), 115200, &portCallback);
    ASSERT_NE(session, nullptr);
    const std::pair<std::vector<const char *>, int> lines[] = {
        {{"line cts 1"}, EV_CTS}, {{"line dsr 1"}, EV_DSR}, {{"line ri 1", "line ri 0"}, EV_RING}};
    for (const auto &[requests, event] : lines) {
        for (const char *request : requests)
            ASSERT_EQ(Control::Ask(request), "ok");
        ASSERT_TRUE(Hears(
            [&] {
                return !heard.port.empty() && heard.port.back().first == HalvexPortLinesChanged &&
                       (heard.port.back().second & event);
            },
            5000))
            << requests.back();
    }
    for (const char *request : {"line cts 0", "line dsr 0"})
        Control::Ask(request);

    HalvexNmeaCallback nmea = OnNmea;
    ASSERT_EQ(StartNMEA(session, nullptr, &nmea), 1);
    const std::pair<const char *, int> errors[] = {
        {"error frame", CE_FRAME}, {"error parity", CE_RXPARITY}, {"error overrun", CE_OVERRUN}};
    for (const auto &[request, flag] : errors) {
        ASSERT_EQ(Control::Ask(request), "ok");
        ASSERT_TRUE(Hears([&] { return !heard.nmeaErrors.empty() && (heard.nmeaErrors.back() & flag); }, 5000))
            << request;
    }
}

class Unplugged : public RealLine {
protected:
    void TearDown() override
    {
        EXPECT_EQ(Control::Ask("plug"), "ok");
        EXPECT_FALSE(FindAdapter(ModelledAdapter).empty());
        RealLine::TearDown();
    }
};

// The adapter goes in the middle of a download: the download's failure
// report, why (the device went away), then the host hears that the port
// was lost, and the session is closed.
TEST_F(Unplugged, InTheMiddleOfADownloadTheLibraryReportsTheFailureThenTheLoss)
{
    std::string device = FindAdapter(ModelledAdapter);
    ASSERT_TRUE(OpenAndIdentify(device));
    ASSERT_TRUE(Upload(ManyWaypoints()));
    ASSERT_EQ(Control::Ask("unplug 3000"), "ok"); // bytes of the download, a fifth of it
    ASSERT_TRUE(Download(5000));
    EXPECT_TRUE(heard.nullArray);
    EXPECT_EQ(heard.why, HalvexErrorDeviceLost);
    ASSERT_TRUE(Hears([] { return heard.finalsBeforeLost >= 0; }, 2000));
    EXPECT_EQ(heard.finalsBeforeLost, heard.finals);
    EXPECT_EQ(heard.port.back(), std::make_pair(static_cast<int>(HalvexPortLost), 0));
    session = nullptr; // closed by the library
}

// The same for a user of the tool: it says so and exits 3 within a second of
// the device going.
TEST_F(Unplugged, InTheMiddleOfADownloadTheToolExitsThreeWithinASecond)
{
    std::string device = FindAdapter(ModelledAdapter);
    ASSERT_FALSE(device.empty());
    ASSERT_EQ(Control::Ask("unplug 3000"), "ok");
    pid_t tool = fork();
    if (tool == 0) {
        execl(Tool().c_str(), "halvex", "--port", device.c_str(), "--baud", "115200", "waypoints", "get", "-o",
              (directory + "/w.gpx").c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    // The device node goes a moment after the line hangs up, so it is
    // watched for a while past the tool's exit too.
    using Clock = std::chrono::steady_clock;
    Clock::time_point gone{}, exited{}, deadline = Clock::now() + std::chrono::seconds(30);
    int status = 0;
    while (Clock::now() < deadline && (exited == Clock::time_point{} || gone == Clock::time_point{})) {
        if (gone == Clock::time_point{} && access(device.c_str(), F_OK) != 0)
            gone = Clock::now();
        if (exited == Clock::time_point{} && waitpid(tool, &status, WNOHANG) == tool)
            exited = Clock::now();
        if (exited != Clock::time_point{} && Clock::now() - exited > std::chrono::seconds(2))
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (exited == Clock::time_point{}) {
        kill(tool, SIGKILL);
        waitpid(tool, &status, 0);
        FAIL() << "the tool did not exit";
    }
    ASSERT_NE(gone, Clock::time_point{}) << "the device did not go";
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3);
    double seconds = std::chrono::duration<double>(exited - gone).count();
    std::printf("halvex exited %.3f s after the device went\n", seconds);
    EXPECT_LT(seconds, 1.0);
}

} // namespace
} // namespace hw
