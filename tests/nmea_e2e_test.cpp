// NMEA mode end to end: sentences from the simulated receiver's talker to
// the host's callback or table, the silence report, and sending.
#include <atomic>
#include <mutex>

#include "e2e.h"
#include "engine/enginelock.h"
#include "host.h"
#include "link/link.h"
#include "nmea/nmea.h"
#include "port/session.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Heard {
    std::mutex lock;
    std::vector<std::string> sentences;
    std::vector<std::pair<int, Clock::time_point>> reports; // code 3 and when
    int16_t silenceAnswer = -1;
} heard;

int16_t HALVEX_CALL OnNmea(int32_t code, int32_t, BSTR *text)
{
    std::lock_guard<std::mutex> hold(heard.lock);
    if (code == 0)
        heard.sentences.push_back(Text(*text));
    else
        heard.reports.emplace_back(code, Clock::now());
    return code == 3 ? heard.silenceAnswer : 0;
}

void HALVEX_CALL OnProduct(int32_t, int32_t, HostProductInfo *) {}

class Nmea : public EndToEnd {
protected:
    void SetUp() override
    {
        EndToEnd::SetUp();
        std::lock_guard<std::mutex> hold(heard.lock);
        heard.sentences.clear();
        heard.reports.clear();
        heard.silenceAnswer = -1;
    }
    size_t Sentences()
    {
        std::lock_guard<std::mutex> hold(heard.lock);
        return heard.sentences.size();
    }
    size_t Reports()
    {
        std::lock_guard<std::mutex> hold(heard.lock);
        return heard.reports.size();
    }
    static std::string Body(const std::string &sentence) { return sentence.substr(0, sentence.size() - 2); }
    HalvexNmeaCallback callback = OnNmea;
};

TEST_F(Nmea, AHundredThousandSentencesArriveIntactAndInOrder)
{
    SetLogEnabled(0); // as a host runs it
    halvexsim::Config config;
    config.nmea = {true, 0, 100000, {}, true};
    PortSession *session = Connect(config, 115200);
    ASSERT_NE(session, nullptr);
    auto start = Clock::now();
    ASSERT_EQ(StartNMEA(session, nullptr, &callback), 1);
    receiver->FallSilent(0); // the stream starts once the host listens
    ASSERT_TRUE(WaitUntil([&] { return Sentences() >= 100000; }, 60000)) << Sentences();
    std::printf("100000 sentences in %.2f s\n", std::chrono::duration<double>(Clock::now() - start).count());
    StopNMEA(session);
    HostLineCounts counts{};
    ASSERT_EQ(HalvexGetLineCounts(session, &counts), 1);
    EXPECT_EQ(counts.sentences, 100000);
    EXPECT_EQ(counts.frames, 0);
    EXPECT_GE(counts.bytesReceived, 100000 * 20);
    std::lock_guard<std::mutex> hold(heard.lock);
    ASSERT_EQ(heard.sentences.size(), 100000u);
    for (uint64_t i = 0; i < 100000; i++)
        ASSERT_EQ(heard.sentences[i], Body(halvexsim::GeneratedSentence(i))) << i;
}

TEST_F(Nmea, TableModeKeepsTheLatestOfEachKind)
{
    HostArray<NmeaTableEntry> table(2);
    table[0].sentenceId = Bstr("GGA");
    table[1].sentenceId = Bstr("rmc");
    SAFEARRAY *handle = table.array;
    halvexsim::Config config;
    config.nmea = {true, 0, 10000, {}, true};
    PortSession *session = Connect(config, 115200);
    ASSERT_EQ(StartNMEA(session, &handle, &callback), 1);
    receiver->FallSilent(0);
    // The last RMC, which comes after the last GGA and is unlike any sentence before it.
    std::string last = ": " + Body(halvexsim::GeneratedSentence(9997)) + "\n";
    ASSERT_TRUE(WaitUntil([&] { return CountInLog(last) == 1; }, 30000));
    StopNMEA(session); // the table is the host's to read from here on
    EXPECT_EQ(Sentences(), 0u) << "no callback in table mode";
    EXPECT_EQ(Text(table[0].sentence), Body(halvexsim::GeneratedSentence(9996)));
    EXPECT_EQ(Text(table[1].sentence), Body(halvexsim::GeneratedSentence(9997)));
    EXPECT_EQ(Text(table[0].talker), "GP");
    EXPECT_NEAR(table[0].timeStamp, CurrentOleDate(), 10.0 / 86400);
    CloseCommPort(session);
}

TEST_F(Nmea, SilenceIsReportedEveryThreeSecondsWhileTheHostAsks)
{
    halvexsim::Config config;
    config.nmea = {true, 10, 0, {}, true};
    PortSession *session = Connect(config);
    auto start = Clock::now();
    ASSERT_EQ(StartNMEA(session, nullptr, &callback), 1);
    ASSERT_TRUE(WaitUntil([&] { return Reports() >= 2; }, 8000));
    {
        std::lock_guard<std::mutex> hold(heard.lock);
        EXPECT_NEAR(std::chrono::duration<double>(heard.reports[0].second - start).count(), 3.0, 0.15);
        EXPECT_NEAR(std::chrono::duration<double>(heard.reports[1].second - start).count(), 6.0, 0.15);
        heard.silenceAnswer = 0;
    }
    ASSERT_TRUE(WaitUntil([&] { return Reports() >= 3; }, 4000));
    std::this_thread::sleep_for(std::chrono::milliseconds(3500));
    EXPECT_EQ(Reports(), 3u) << "answered 0: quiet until a sentence comes";
    receiver->FallSilent(0);
    ASSERT_TRUE(WaitUntil([&] { return Sentences() >= 1; }, 2000));
    receiver->FallSilent(60000);
    EXPECT_TRUE(WaitUntil([&] { return Reports() >= 4; }, 4000)) << "a sentence arms the report again";
    StopNMEA(session);
    CloseCommPort(session);
}

TEST_F(Nmea, LeavingBinaryModeRestoresTheHostsBaudAndLineFeed)
{
    halvexsim::Config config;
    PortSession *session = Connect(config, 4800);
    HalvexProductCallback identified = OnProduct;
    HalvexGetProductInfoInit(session, &identified);
    ASSERT_TRUE(WaitUntil([&] {
        LockEngine();
        bool ready = LinkObjective(session) == ObjectiveReady;
        UnlockEngine();
        return ready;
    }, 3000));
    DCB dcb{};
    LockEngine();
    GetCommState(session->portHandle, &dcb);
    UnlockEngine();
    EXPECT_EQ(dcb.BaudRate, 9600u);
    EXPECT_EQ(dcb.EvtChar, 0x03);
    ASSERT_EQ(StartNMEA(session, nullptr, &callback), 1);
    LockEngine();
    GetCommState(session->portHandle, &dcb);
    EXPECT_EQ(NmeaOf(session)->silenceTimer != nullptr, true);
    UnlockEngine();
    EXPECT_EQ(dcb.BaudRate, 4800u);
    EXPECT_EQ(dcb.EvtChar, '\n');
    CloseCommPort(session);
}

TEST_F(Nmea, SendingWithAndWithoutTheChecksum)
{
    halvexsim::Config config;
    PortSession *session = Connect(config);
    HostArray<BSTR> sentences(5);
    sentences[0] = ByteBstr("$A");
    sentences[1] = ByteBstr("$");
    sentences[2] = nullptr; // skipped
    sentences[3] = ByteBstr(""); // skipped
    sentences[4] = ByteBstr("$GPGLL,1");
    EXPECT_EQ(SendNMEAChk(session, &sentences.array), -1);
    BSTR raw = ByteBstr("$GPGLL,1*4D\r\n");
    EXPECT_EQ(SendNMEA(session, &raw), -1);
    BSTR empty = ByteBstr("");
    EXPECT_EQ(SendNMEA(session, &empty), 0);
    std::string expected = "$A*41\r\n$*00\r\n$GPGLL,1*4D\r\n$GPGLL,1*4D\r\n";
    EXPECT_TRUE(WaitUntil([&] { return receiver->Received() == expected; }, 2000)) << receiver->Received();
    EXPECT_EQ(CountInLog(": $GPGLL,1*4D\r\n"), 1);
    HostArray<BSTR> none(0);
    EXPECT_EQ(SendNMEAChk(session, &none.array), -1);
    CloseCommPort(session);
    EXPECT_EQ(SendNMEA(session, &raw), 0) << "no port";
    EXPECT_EQ(SendNMEAChk(session, &sentences.array), 0);
    EXPECT_EQ(StartNMEA(session, nullptr, &callback), 0);
    StopNMEA(session);
    StopNMEA(nullptr);
    SysFreeString(raw);
    SysFreeString(empty);
}

PortSession *closing = nullptr;
std::atomic<int> closedFromCallback{0};

int16_t HALVEX_CALL CloseOnFirstSentence(int32_t code, int32_t, BSTR *)
{
    if (code == 0 && closedFromCallback++ == 0) {
        // Back into the library from its own thread: leave NMEA mode, then close.
        StopNMEA(closing);
        CloseCommPort(closing);
    }
    return 0;
}

TEST_F(Nmea, ACallbackMayStopAndCloseThePortItIsCalledFor)
{
    halvexsim::Config config;
    config.nmea = {true, 0, 0, {}, true};
    closing = Connect(config, 115200);
    ASSERT_NE(closing, nullptr);
    HalvexNmeaCallback closer = CloseOnFirstSentence;
    ASSERT_EQ(StartNMEA(closing, nullptr, &closer), 1);
    receiver->FallSilent(0); // a stream that keeps coming while the port closes
    ASSERT_TRUE(WaitUntil([&] { return closedFromCallback.load() >= 1; }, 3000));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(closedFromCallback.load(), 1) << "nothing after the close";
    BSTR text = ByteBstr("$X");
    EXPECT_EQ(SendNMEA(closing, &text), 0) << "the handle is closed";
    SysFreeString(text);
}

} // namespace
