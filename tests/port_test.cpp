// The port session end to end: the exports open a pseudo-terminal whose
// master side the test plays as the receiver; the modes' hooks are the
// test's own, so that routing shows.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <termios.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/dispatch.h"
#include "engine/enginelock.h"
#include "engine/entry.h"
#include "engine/waittable.h"
#include "errlog/errlog.h"
#include "port/registry.h"
#include "port/session.h"
#include "engine_fixture.h"
#include "pty.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Routed {
    std::mutex lock;
    std::string nmea, link;
    int nmeaCalls = 0;
    std::vector<Clock::time_point> arrivals;
} routed;

void NmeaStandIn(PortSession *, const unsigned char *bytes, int count)
{
    std::lock_guard<std::mutex> hold(routed.lock);
    routed.nmea.append(reinterpret_cast<const char *>(bytes), static_cast<size_t>(count));
    routed.nmeaCalls++;
    routed.arrivals.push_back(Clock::now());
}

void LinkStandIn(PortSession *, const unsigned char *bytes, int count)
{
    std::lock_guard<std::mutex> hold(routed.lock);
    routed.link.append(reinterpret_cast<const char *>(bytes), static_cast<size_t>(count));
}

const ModeHooks nmeaMode = {NmeaStandIn, nullptr, nullptr, nullptr, nullptr};
const ModeHooks linkMode = {LinkStandIn, nullptr, nullptr, nullptr, nullptr};
ModeState nmeaStandIn = {&nmeaMode}, linkStandIn = {&linkMode};

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool sanitized = true;
#else
constexpr bool sanitized = false;
#endif

int CountEntries(const char *directory)
{
    int count = 0;
    DIR *d = opendir(directory);
    while (dirent *entry = readdir(d))
        count += entry->d_name[0] != '.';
    closedir(d);
    return count;
}

std::atomic<int> portCode{-1}, portValue{-1};
Clock::time_point portCalledAt;
void HALVEX_CALL OnPortEvent(int32_t code, int32_t value)
{
    portCalledAt = Clock::now();
    portValue = value;
    portCode = code;
}

class PortSessionTest : public EngineRunning {
protected:
    void SetUp() override
    {
        EngineRunning::SetUp();
        std::lock_guard<std::mutex> hold(routed.lock);
        routed.nmea.clear();
        routed.link.clear();
        routed.nmeaCalls = 0;
        routed.arrivals.clear();
        portCode = portValue = -1;
    }
    // A stand-in takes the line: 1 NMEA's, 2 or more the link's, 0 none.
    void SetMode(PortSession *session, int which)
    {
        LockEngine();
        session->mode = which == 1 ? &nmeaStandIn : which > 1 ? &linkStandIn : nullptr;
        UnlockEngine();
    }
    std::string Nmea(size_t expected, int milliseconds = 2000) { return Wait(&Routed::nmea, expected, milliseconds); }
    std::string Wait(std::string Routed::*field, size_t expected, int milliseconds = 2000)
    {
        auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
        for (;;) {
            {
                std::lock_guard<std::mutex> hold(routed.lock);
                if ((routed.*field).size() >= expected || Clock::now() > deadline)
                    return routed.*field;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    int TableCount()
    {
        WaitTable copy;
        SnapshotWaitTable(&copy);
        return copy.count;
    }

    Pty pty;
};

TEST_F(PortSessionTest, OpenConfiguresARawLineAtTheHostsBaud)
{
    PortSession *session = OpenCommPort(pty.path(), 4800);
    ASSERT_NE(session, nullptr);
    termios t{};
    ASSERT_EQ(tcgetattr(pty.master(), &t), 0);
    EXPECT_EQ(cfgetospeed(&t), (speed_t)B4800);
    EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), (tcflag_t)CS8);
    EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ISIG));
    EXPECT_FALSE(t.c_iflag & (IXON | IXOFF | ICRNL));
    EXPECT_EQ(TableCount(), 4) << "commandEvent and the session's three events";
    EXPECT_TRUE(LogShows("TxBufSize=4096 RxBufSize=4096\n"));
    CloseCommPort(session);
    EXPECT_EQ(TableCount(), 1);
}

TEST_F(PortSessionTest, FailedOpensLeaveNothingBehind)
{
    PortSession *first = OpenCommPort(pty.path(), 9600);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(HalvexGetLastError(), HalvexErrorNone);
    EXPECT_EQ(OpenCommPort(pty.path(), 9600), nullptr);
    EXPECT_EQ(HalvexGetLastError(), HalvexErrorInUse);
    EXPECT_TRUE(LogShows("CreateFile() failure: 5\n"));
    CloseCommPort(first);
    EXPECT_EQ(HalvexGetLastError(), HalvexErrorNone);
    CloseCommPort(first);
    EXPECT_EQ(HalvexGetLastError(), HalvexErrorBadSession) << "closed already";

    // Held by another program, as its own open file takes the lock.
    int holder = open(pty.path(), O_RDWR | O_NOCTTY);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(OpenCommPort(pty.path(), 9600), nullptr);
    EXPECT_EQ(HalvexGetLastError(), HalvexErrorInUse);
    close(holder);

    EXPECT_EQ(OpenCommPort("/dev/halvex-no-such-port", 9600), nullptr);
    EXPECT_EQ(HalvexGetLastError(), HalvexErrorNoDevice);
    EXPECT_TRUE(LogShows("CreateFile() failure: 2\n"));

    std::string file = directory + "/not-a-port";
    std::ofstream(file) << "x";
    EXPECT_EQ(OpenCommPort(file.c_str(), 9600), nullptr);
    EXPECT_EQ(HalvexGetLastError(), HalvexErrorNotSerial);
    EXPECT_TRUE(LogShows("GetCommState() failure: 1\n"));
    EXPECT_EQ(OpenCommPort(nullptr, 9600), nullptr);
    EXPECT_EQ(HalvexGetLastError(), HalvexErrorBadArgument);
    EXPECT_EQ(TableCount(), 1);
}

TEST_F(PortSessionTest, ALongDeviceNameIsOpenedWholeAndKeptShort)
{
    std::string link = directory + "/a-rather-long-name-for-the-receiver-port";
    ASSERT_EQ(symlink(pty.path(), link.c_str()), 0);
    PortSession *session = OpenCommPort(link.c_str(), 9600);
    ASSERT_NE(session, nullptr);
    EXPECT_EQ(std::string(session->portName), link.substr(0, 19));
    CloseCommPort(session);
}

TEST_F(PortSessionTest, ASentenceIsReadWholeAfterItsLineFeed)
{
    PortSession *session = OpenCommPort(pty.path(), 9600);
    ASSERT_NE(session, nullptr);
    SetMode(session, 1);
    pty.Send("$GPGLL,1*4D\r\n");
    EXPECT_EQ(Nmea(13), "$GPGLL,1*4D\r\n");
    {
        std::lock_guard<std::mutex> hold(routed.lock);
        EXPECT_EQ(routed.nmeaCalls, 1);
        EXPECT_TRUE(routed.link.empty());
    }
    EXPECT_TRUE(LogShows("cw=13 last=0d data=$GPGLL,1*4D\r\n"));
    CloseCommPort(session);
}

TEST_F(PortSessionTest, BytesAreDroppedWhileIdleAndGoToTheLinkInBinaryMode)
{
    PortSession *session = OpenCommPort(pty.path(), 9600);
    ASSERT_NE(session, nullptr);
    pty.Send("$GPGGA,dropped\r\n");
    EXPECT_TRUE(LogShows("ReadCompletedEvent object 16\n"));
    SetMode(session, 3);
    pty.Send("binary\n");
    EXPECT_EQ(Wait(&Routed::link, 7), "binary\n");
    std::lock_guard<std::mutex> hold(routed.lock);
    EXPECT_TRUE(routed.nmea.empty());
}

TEST_F(PortSessionTest, BurstsOfSentencesArriveWholeAndInOrder)
{
    PortSession *session = OpenCommPort(pty.path(), 9600);
    ASSERT_NE(session, nullptr);
    SetMode(session, 1);
    std::string three = "$A,1\r\n$B,2\r\n$C,3\r\n";
    pty.Send(three);
    EXPECT_EQ(Nmea(three.size()), three);

    // More than one read holds, with the line ending in the middle of it.
    std::string burst;
    for (int i = 0; burst.size() < 5000; i++)
        burst += "$GPGSV,3,1,11,03,03,111,00,04,15,270,00,06,01,010,00,13,06,292,00*" + std::to_string(i % 100) + "\r\n";
    pty.Send(burst);
    EXPECT_EQ(Nmea(three.size() + burst.size()), three + burst);
    CloseCommPort(session);
}

TEST_F(PortSessionTest, HangUpClosesTheSessionAndTellsTheHost)
{
    HalvexPortCallback callback = OnPortEvent;
    PortSession *session = OpenCommPortEx(pty.path(), 9600, &callback);
    ASSERT_NE(session, nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    auto closedAt = Clock::now();
    pty.CloseMaster();
    auto deadline = closedAt + std::chrono::seconds(2);
    while (portCode.load() == -1 && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    ASSERT_EQ(portCode.load(), 2);
    EXPECT_EQ(portValue.load(), 0);
    EXPECT_LT(portCalledAt - closedAt, std::chrono::milliseconds(100));
    LockEngine();
    EXPECT_FALSE(IsLiveSession(session));
    UnlockEngine();
    CloseCommPort(session); // already closed by the library: refused, not touched
    CloseCommPort(nullptr);
    EXPECT_EQ(TableCount(), 1);
}

TEST_F(PortSessionTest, OpenAndCloseWhileTheOtherEndStreams)
{
    int fds = CountEntries("/proc/self/fd");
    int threads = CountEntries("/proc/self/task");
    std::atomic<bool> streaming{true};
    std::thread sender([&] {
        std::string line = "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r\n";
        while (streaming) {
            if (write(pty.master(), line.data(), line.size()) < 0)
                std::this_thread::yield();
        }
    });
    int cycles = sanitized ? 200 : 1000;
    for (int i = 0; i < cycles; i++) {
        PortSession *session = OpenCommPort(pty.path(), 9600);
        ASSERT_NE(session, nullptr) << "cycle " << i;
        SetMode(session, i % 3);
        if (i % 2)
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        CloseCommPort(session);
    }
    streaming = false;
    sender.join();
    std::this_thread::sleep_for(std::chrono::milliseconds(50)); // freed between two waits
    EXPECT_EQ(CountEntries("/proc/self/fd"), fds);
    EXPECT_EQ(CountEntries("/proc/self/task"), threads);
    EXPECT_EQ(TableCount(), 1);
}

double ProcessCpuSeconds()
{
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

TEST_F(PortSessionTest, AnIdlePortCostsNoCpu)
{
    if (sanitized)
        GTEST_SKIP() << "the sanitizer runtime has threads of its own";
    PortSession *session = OpenCommPort(pty.path(), 9600);
    ASSERT_NE(session, nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    double before = ProcessCpuSeconds();
    std::this_thread::sleep_for(std::chrono::seconds(2));
    double spent = ProcessCpuSeconds() - before;
    RecordProperty("idle_cpu_us_per_2s", static_cast<int>(spent * 1e6));
    // Idle it takes about 0.2 ms; a loop that woke each millisecond would
    // take ten times the bound, which leaves room for a loaded machine.
    EXPECT_LT(spent, 0.005);
    CloseCommPort(session);
}

TEST_F(PortSessionTest, LineFeedReachesTheReceiverQuickly)
{
    if (sanitized)
        GTEST_SKIP() << "timing means nothing under a sanitizer";
    SetLogEnabled(0); // as a host runs it
    PortSession *session = OpenCommPort(pty.path(), 115200);
    ASSERT_NE(session, nullptr);
    SetMode(session, 1);
    std::vector<double> micros;
    for (int i = 0; i < 300; i++) {
        std::string line = "$GPGGA," + std::to_string(i) + "\r\n";
        size_t before;
        {
            std::lock_guard<std::mutex> hold(routed.lock);
            before = routed.arrivals.size();
        }
        auto sent = Clock::now();
        pty.Send(line);
        auto deadline = sent + std::chrono::seconds(1);
        for (;;) {
            std::lock_guard<std::mutex> hold(routed.lock);
            if (routed.arrivals.size() > before) {
                micros.push_back(std::chrono::duration<double, std::micro>(routed.arrivals.back() - sent).count());
                break;
            }
            if (Clock::now() > deadline)
                break;
        }
    }
    ASSERT_EQ(micros.size(), 300u);
    std::sort(micros.begin(), micros.end());
    double median = micros[micros.size() / 2];
    std::printf("LF to receiver: median %.0f us, 90th percentile %.0f us\n", median, micros[micros.size() * 9 / 10]);
    EXPECT_LT(median, 1000.0);
    CloseCommPort(session);
}

} // namespace
