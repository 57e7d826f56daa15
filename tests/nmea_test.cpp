// The sentence assembler, the split of a sentence, the host's table and the
// local time, on a session with no port behind it.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host.h"
#include "link_unit.h"
#include "nmea/nmea.h"

namespace {

std::vector<std::pair<int, std::string>> calls;
int16_t silenceAnswer = -1;

int16_t HALVEX_CALL Record(int32_t code, int32_t value, BSTR *text)
{
    calls.emplace_back(code, code == 0 ? Text(*text) : std::to_string(value));
    return code == 3 ? silenceAnswer : 0;
}

class Assembler : public LinkUnit {
protected:
    void SetUp() override
    {
        LinkUnit::SetUp();
        calls.clear();
        EnterNmeaMode(session, nullptr, Record);
        DisarmTimer(&Nmea()->silenceTimer); /* each test arms it as it needs */
    }
    NmeaState *Nmea() { return NmeaOf(session); }
    void Feed(const std::string &bytes)
    {
        NmeaReceive(session, reinterpret_cast<const unsigned char *>(bytes.data()), static_cast<int>(bytes.size()));
    }
    std::vector<std::string> Sentences()
    {
        std::vector<std::string> out;
        for (auto &call : calls)
            if (call.first == 0)
                out.push_back(call.second);
        return out;
    }
};

TEST_F(Assembler, ASentenceInPiecesIsDispatchedOnceAtItsLineFeed)
{
    Feed("$GP");
    Feed("GGA,1\r");
    EXPECT_TRUE(calls.empty());
    Feed("\n");
    EXPECT_EQ(Sentences(), std::vector<std::string>{"$GPGGA,1"});
    EXPECT_EQ(Count(": $GPGGA,1\n"), 1);
    EXPECT_NE(Nmea()->silenceTimer, nullptr) << "the silence timer is armed again";
}

TEST_F(Assembler, LinesEndAtLineFeedWithOrWithoutCrAndSentencesStartAtDollar)
{
    Feed("$GPGGA,1\r$GPRMC,2\r\n");
    EXPECT_EQ(Sentences(), std::vector<std::string>{"$GPRMC,2"}) << "a CR without LF cuts the sentence short";
    calls.clear();
    Feed("noise\n$GPRMC,3\n\r\n$GPZDA,4\r\n");
    EXPECT_EQ(Sentences(), (std::vector<std::string>{"$GPRMC,3", "$GPZDA,4"})) << "LF alone ends a line";
    calls.clear();
    Feed("$GPXXX,5$GPRMC,6\r\n");
    EXPECT_EQ(Sentences(), std::vector<std::string>{"$GPRMC,6"}) << "a line that lost its end is no sentence";
}

TEST_F(Assembler, OverlongSentencesAreDroppedUntilTheNextDollar)
{
    Feed("$" + std::string(600, 'A') + "\r\n");
    EXPECT_TRUE(calls.empty());
    std::string longest = "$" + std::string(520, 'B');
    Feed(longest + "\r\n");
    EXPECT_EQ(Sentences(), std::vector<std::string>{longest});
}

TEST_F(Assembler, TalkerAndFirstField)
{
    struct Case {
        const char *sentence, *talker, *field;
    } cases[] = {{"$GPGGA,123519,4807.038,N", "GP", "GGA"}, {"$PXYZ,1,2", "P", "XYZ"}, {"$pabc,1", "p", "abc"},
                 {"$GPZDA", "GP", ""},  {"$", "", ""}, {"$G", "G", ""}, {"$GP", "GP", ""}, {"$P", "P", ""}};
    for (const Case &c : cases) {
        char talker[3], field[FirstFieldLimit + 1];
        SplitSentence(c.sentence, talker, field);
        EXPECT_STREQ(talker, c.talker) << c.sentence;
        EXPECT_STREQ(field, c.field) << c.sentence;
    }
    std::string longField = "$GP" + std::string(40, 'F') + ",1";
    char talker[3], field[FirstFieldLimit + 1];
    SplitSentence(longField.c_str(), talker, field);
    EXPECT_EQ(std::strlen(field), 27u);
}

TEST_F(Assembler, TableModeFillsTheFirstMatchingEntryOnly)
{
    HostArray<NmeaTableEntry> table(4);
    table[0].sentenceId = nullptr;
    table[1].sentenceId = Bstr("gga");
    table[2].sentenceId = Bstr("GGA");
    table[3].sentenceId = Bstr("");
    SAFEARRAY *handle = table.array;
    Nmea()->table = &handle;
    Feed("$GPGGA,1\r\n$GPZDA\r\n$GPXXX,9\r\n");
    EXPECT_TRUE(calls.empty()) << "table mode calls no callback";
    EXPECT_EQ(Text(table[1].sentence), "$GPGGA,1");
    EXPECT_EQ(Text(table[1].talker), "GP");
    EXPECT_GT(table[1].timeStamp, 40000.0);
    EXPECT_EQ(table[2].sentence, nullptr);
    EXPECT_EQ(Text(table[3].sentence), "$GPZDA") << "an empty key matches an empty first field";
    Feed("$GNGGA,2\r\n");
    EXPECT_EQ(Text(table[1].sentence), "$GNGGA,2");
    EXPECT_EQ(Text(table[1].talker), "GN");
}

TEST_F(Assembler, SilenceIsReportedWhileTheHostAsks)
{
    silenceAnswer = -1;
    NmeaSilenceTimer(session);
    EXPECT_EQ(calls.back(), std::make_pair(3, std::string("0")));
    EXPECT_NE(Nmea()->silenceTimer, nullptr);
    silenceAnswer = 0;
    NmeaSilenceTimer(session);
    EXPECT_EQ(Nmea()->silenceTimer, nullptr) << "no further report until a sentence comes";
    NmeaLineError(session, 0x08);
    EXPECT_EQ(calls.back(), std::make_pair(1, std::string("8")));
}

// A sentence with its checksum and line end, as receivers send it.
std::string Sentence(const std::string &body)
{
    unsigned sum = 0;
    for (size_t i = 1; i < body.size(); i++)
        sum ^= static_cast<unsigned char>(body[i]);
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X\r\n", sum);
    return body + tail;
}

std::vector<HostPosition> fixes;
void HALVEX_CALL TakeFix(int32_t, HostPosition *position) { fixes.push_back(*position); }

PortSession *stopping;
void HALVEX_CALL StopFromInside(int32_t code, HostPosition *position)
{
    TakeFix(code, position);
    EXPECT_EQ(HalvexStopPosition(stopping), 1);
}

class Epochs : public Assembler {
protected:
    void SetUp() override
    {
        Assembler::SetUp();
        fixes.clear();
        session->positionCallback = TakeFix;
        stopping = session;
    }
};

const std::string gga = Sentence("$GPGGA,123519.00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,");
const std::string gsa = Sentence("$GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1");
const std::string rmc = Sentence("$GPRMC,123519.00,A,4807.038,N,01131.000,E,022.4,084.4,081226,003.1,W");
const std::string vtg = Sentence("$GPVTG,084.4,T,,M,022.4,N,041.5,K");
const double at = 46364 + (12 * 3600 + 35 * 60 + 19) / 86400.0; // 2026-12-08 12:35:19 UTC

TEST_F(Epochs, OneEpochOfFourSentencesIsOneFix)
{
    Feed(gga + gsa);
    EXPECT_TRUE(fixes.empty()) << "RMC may still come";
    Feed(rmc);
    ASSERT_EQ(fixes.size(), 1u) << "GGA and RMC are in: no need to wait for the next epoch";
    const HostPosition &fix = fixes[0];
    EXPECT_NEAR(fix.time, at, 1e-9);
    EXPECT_NEAR(fix.latitude, 48.1173, 1e-9);
    EXPECT_NEAR(fix.longitude, 11.516666666666667, 1e-9);
    EXPECT_NEAR(fix.altitude, 545.4, 1e-9);
    EXPECT_NEAR(fix.speed, 22.4 * 1852 / 3600, 1e-9);
    EXPECT_NEAR(fix.course, 84.4, 1e-9);
    EXPECT_EQ(fix.fixMode, HalvexFix3D);
    EXPECT_EQ(fix.satellites, 8);
    EXPECT_TRUE(std::isnan(fix.climb) && std::isnan(fix.eph) && std::isnan(fix.epv)) << "NMEA gives none";
    EXPECT_FALSE(fix.given & (HalvexGaveClimb | HalvexGaveEph | HalvexGaveEpv));
    Feed(vtg);
    EXPECT_EQ(fixes.size(), 1u) << "the epoch went out once";
    EXPECT_EQ(Sentences().size(), 4u) << "and the host saw every sentence";
}

TEST_F(Epochs, ReceiversThatSendOnlyOneKindGiveAFixAnEpoch)
{
    Feed(rmc);
    Feed(Sentence("$GPRMC,123520.00,A,4807.040,N,01131.000,E,022.4,084.4,081226,003.1,W"));
    ASSERT_EQ(fixes.size(), 1u) << "the first epoch ends when the next begins";
    EXPECT_EQ(fixes[0].fixMode, HalvexFix2D) << "no altitude: a 2-D fix";
    EXPECT_TRUE(std::isnan(fixes[0].altitude));

    Feed(Sentence("$GPGGA,000001.00,4807.038,S,01131.000,W,1,05,1.1,-12.5,M,46.9,M,,"));
    fixes.clear(); // the RMC epoch before it went out
    Feed(Sentence("$GPGGA,000002.00,4807.038,S,01131.000,W,1,05,1.1,-12.5,M,46.9,M,,"));
    ASSERT_EQ(fixes.size(), 1u);
    EXPECT_NEAR(fixes[0].latitude, -48.1173, 1e-9);
    EXPECT_NEAR(fixes[0].altitude, -12.5, 1e-9);
    EXPECT_NEAR(fixes[0].time, 46365 + 1 / 86400.0, 1e-9)
        << "the date of the last RMC (12:35:20 on 2026-12-08), past midnight, with the time of this epoch";
}

TEST_F(Epochs, AVoidFixGivesNoPositionAndABadSentenceIsIgnored)
{
    Feed(Sentence("$GPGGA,123521.00,,,,,0,00,,,M,,M,,"));
    Feed(Sentence("$GPRMC,123521.00,V,4807.038,N,01131.000,E,,,081226,,"));
    ASSERT_EQ(fixes.size(), 1u);
    EXPECT_EQ(fixes[0].fixMode, HalvexFixNone);
    EXPECT_TRUE(std::isnan(fixes[0].latitude)) << "a void RMC's last position is no fix";
    EXPECT_EQ(fixes[0].given, HalvexGaveTime | HalvexGaveFixMode);

    fixes.clear();
    std::string damaged = gga;
    damaged[20] = '9'; // the checksum no longer matches
    Feed(damaged + rmc);
    Feed(Sentence("$GPRMC,123520.00,A,4807.040,N,01131.000,E,022.4,084.4,081226,003.1,W"));
    ASSERT_EQ(fixes.size(), 1u);
    EXPECT_TRUE(std::isnan(fixes[0].altitude)) << "nothing of the damaged GGA";

    // A line whose end was lost runs into the next: nothing of it is taken,
    // and the next is whole from its "$".
    fixes.clear();
    std::string runTogether = gga.substr(0, gga.size() - 2) + rmc;
    Feed(runTogether);
    Feed(Sentence("$GPRMC,123600.00,A,4807.040,N,01131.000,E,022.4,084.4,081226,003.1,W"));
    ASSERT_EQ(fixes.size(), 2u) << "the epoch before them, then the RMC's own";
    EXPECT_NEAR(fixes[0].time, at + 1 / 86400.0, 1e-9);
    EXPECT_NEAR(fixes[1].time, at, 1e-9);
    EXPECT_TRUE(std::isnan(fixes[1].altitude)) << "nothing of the GGA that lost its end";
}

TEST_F(Epochs, AnEpochSplitAcrossReadsAndAStreamStoppedFromTheCallback)
{
    std::string epoch = gga + gsa + rmc;
    for (size_t i = 0; i < epoch.size(); i += 7)
        Feed(epoch.substr(i, 7));
    ASSERT_EQ(fixes.size(), 1u);
    EXPECT_EQ(fixes[0].satellites, 8);

    // A host that stops the stream from its callback gets no other call.
    session->positionCallback = StopFromInside;
    Feed(Sentence("$GPGGA,123520.00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,"));
    Feed(Sentence("$GPRMC,123520.00,A,4807.038,N,01131.000,E,022.4,084.4,081226,003.1,W"));
    ASSERT_EQ(fixes.size(), 2u);
    EXPECT_EQ(session->positionCallback, nullptr);
    EXPECT_EQ(Nmea()->fixEpoch, nullptr);
    Feed(Sentence("$GPGGA,123600.00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,"));
    Feed(Sentence("$GPRMC,123600.00,A,4807.038,N,01131.000,E,022.4,084.4,081226,003.1,W"));
    EXPECT_EQ(fixes.size(), 2u);
}

#ifndef _WIN32 // Windows takes the zone from its settings, not from a TZ rule
TEST(OleDate, LocalTimeWithStandardOffsetAndAnHourOfDaylight)
{
    std::string saved = getenv("TZ") ? getenv("TZ") : "";
    setenv("TZ", "UTC0", 1);
    tzset();
    EXPECT_DOUBLE_EQ(OleDateAt(86400 + 43200), 25570.5);
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    tzset();
    EXPECT_DOUBLE_EQ(OleDateAt(1767225600), 46023.0 + 1.0 / 24) << "2026-01-01 00:00 UTC is 01:00 in winter";
    EXPECT_DOUBLE_EQ(OleDateAt(1782864000), 46204.0 + 2.0 / 24) << "2026-07-01 00:00 UTC is 02:00 in summer";
    if (saved.empty())
        unsetenv("TZ");
    else
        setenv("TZ", saved.c_str(), 1);
    tzset();
}
#endif

} // namespace
