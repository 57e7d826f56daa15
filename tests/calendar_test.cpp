// Dates as hosts take them, the GPS week rollover rule at its edges, and the
// receiver's date-and-time record from its bytes.
#include <gtest/gtest.h>

#include <cmath>

#include "host/calendar.h"
#include "transfer/transfer.h"

namespace {

constexpr double kPeriod = 7168; // 1024 weeks, in days
constexpr double kSecond = 1.0 / 86400;

double Date(int year, int month, int day)
{
    double date = NAN;
    EXPECT_TRUE(OleDateFromCivil(year, month, day, &date)) << year << "-" << month << "-" << day;
    return date;
}

TEST(Calendar, CivilDatesAndThoseThatAreNone)
{
    EXPECT_EQ(Date(1899, 12, 30), 0);
    EXPECT_EQ(Date(1970, 1, 1), 25569);
    EXPECT_EQ(Date(2007, 4, 25) + kPeriod, Date(2026, 12, 9)) << "1024 weeks apart";
    EXPECT_EQ(Date(2024, 2, 29) + 1, Date(2024, 3, 1));
    EXPECT_EQ(Date(2000, 2, 29) + 1, Date(2000, 3, 1));
    double untouched = 42;
    for (auto [y, m, d] : {std::tuple{2023, 2, 29}, {1900, 2, 29}, {2026, 13, 1}, {2026, 0, 1}, {2026, 4, 31},
                           {2026, 1, 0}, {0, 1, 1}})
        EXPECT_FALSE(OleDateFromCivil(y, m, d, &untouched)) << y << "-" << m << "-" << d;
    EXPECT_EQ(untouched, 42);
}

TEST(Calendar, RolloverRuleAtItsEdges)
{
    const double today = Date(2026, 12, 9) + 0.5;
    EXPECT_EQ(RolloverWeeksBehind(today, today), 0);
    EXPECT_EQ(RolloverWeeksBehind(today + 400, today), 0) << "a date in the future is not moved";
    EXPECT_EQ(RolloverWeeksBehind(today - 3584, today), 0) << "exactly 512 weeks behind is not moved";
    EXPECT_EQ(RolloverWeeksBehind(today - 3584 - kSecond, today), 1024) << "a second more is";
    EXPECT_EQ(RolloverWeeksBehind(today - 1023 * 7, today), 1024);
    EXPECT_EQ(RolloverWeeksBehind(today - kPeriod, today), 1024);
    EXPECT_EQ(RolloverWeeksBehind(today - 1025 * 7, today), 1024);
    EXPECT_EQ(RolloverWeeksBehind(today - 2 * kPeriod, today), 2048);
    EXPECT_EQ(RolloverWeeksBehind(today - 2 * kPeriod - 3584, today), 2048);
    EXPECT_EQ(RolloverWeeksBehind(today - 2 * kPeriod - 3584 - kSecond, today), 3072);
    EXPECT_EQ(RolloverWeeksBehind(NAN, today), 0);
}

TEST(Calendar, AHostClockBeforeTheBuildDayIsNotTakenForToday)
{
    const double built = LibraryBuildDate();
    EXPECT_GT(built, Date(2026, 1, 1));
    EXPECT_LE(built, HostUtcDate() + 1) << "built no later than today";
    EXPECT_EQ(RolloverReference(25569), built) << "a board that boots in 1970";
    EXPECT_EQ(RolloverReference(built + 10), built + 10);
    // Judged against 1970, a right date from the build day would be moved
    // back into range by nothing: it is in the future, so it stays.
    EXPECT_EQ(RolloverWeeksBehind(built, RolloverReference(25569)), 0);
    EXPECT_EQ(RolloverWeeksBehind(built - kPeriod, RolloverReference(25569)), 1024);
}

TEST(Calendar, DateTimeRecordsFromTheirBytes)
{
    const unsigned char record[] = {4, 25, 0xD7, 0x07, 10, 0, 15, 30}; // 2007-04-25 10:15:30
    double date = 0;
    ASSERT_TRUE(DecodeDateTime(record, sizeof record, &date));
    EXPECT_NEAR(date, Date(2007, 4, 25) + (10 * 3600 + 15 * 60 + 30) * kSecond, 1e-9);

    const unsigned char leapDay[] = {2, 29, 0xE8, 0x07, 23, 0, 59, 59}; // 2024-02-29 23:59:59
    ASSERT_TRUE(DecodeDateTime(leapDay, sizeof leapDay, &date));
    EXPECT_NEAR(date, Date(2024, 3, 1) - kSecond, 1e-9);

    struct Bad {
        unsigned char bytes[8];
        int length;
        const char *why;
    };
    for (const Bad &bad : {Bad{{13, 25, 0xD7, 0x07, 10, 0, 15, 30}, 8, "month 13"},
                           Bad{{4, 0, 0xD7, 0x07, 10, 0, 15, 30}, 8, "day 0"},
                           Bad{{2, 30, 0xEA, 0x07, 10, 0, 15, 30}, 8, "February 30"},
                           Bad{{4, 25, 0xD7, 0x07, 24, 0, 15, 30}, 8, "hour 24"},
                           Bad{{4, 25, 0xD7, 0x07, 10, 0, 60, 30}, 8, "minute 60"},
                           Bad{{4, 25, 0x00, 0x00, 10, 0, 15, 30}, 8, "year 0"},
                           Bad{{4, 25, 0xD7, 0x07, 10, 0, 15, 30}, 7, "short"}}) {
        date = 7;
        EXPECT_FALSE(DecodeDateTime(bad.bytes, bad.length, &date)) << bad.why;
    }
}

} // namespace
