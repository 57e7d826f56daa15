// The sentence assembler, the split of a sentence, the host's table and the
// local time, on a session with no port behind it.
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
        session->objective = ObjectiveNmea;
        session->nmeaTimeout = SilenceMs;
        session->hostCallback = reinterpret_cast<void *>(Record);
    }
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
    EXPECT_NE(session->modeTimer, nullptr) << "the silence timer is armed again";
}

TEST_F(Assembler, CrWithoutLineFeedDropsTheSentenceAndTheNextDollar)
{
    Feed("$GPGGA,1\r$GPRMC,2\r\n");
    EXPECT_TRUE(calls.empty());
    Feed("noise$GPRMC,3,$x\nin\r\n");
    EXPECT_EQ(Sentences(), std::vector<std::string>{"$GPRMC,3,$x\nin"}) << "a $ or LF inside is kept";
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
    session->nmeaTable = &handle;
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
    EXPECT_NE(session->modeTimer, nullptr);
    silenceAnswer = 0;
    NmeaSilenceTimer(session);
    EXPECT_EQ(session->modeTimer, nullptr) << "no further report until a sentence comes";
    NmeaLineError(session, 0x08);
    EXPECT_EQ(calls.back(), std::make_pair(1, std::string("8")));
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
