// Track logs of a receiver whose GPS week count rolled over: which points
// tracks get moves, and how it says so.
#include <gtest/gtest.h>

#include "receiver/rollover.h"

namespace {

using halvex::GpxTrackPoint;
using halvex::kSecondsPerWeek;

constexpr double kPeriod = 1024 * kSecondsPerWeek;
constexpr double kToday = 1796774400; // 2026-12-09 00:00 UTC
constexpr double kReceiverToday = kToday - kPeriod; // 2007-04-25

std::vector<GpxTrackPoint> Log(std::initializer_list<double> times)
{
    std::vector<GpxTrackPoint> points;
    for (double t : times) {
        GpxTrackPoint p;
        p.time = t;
        points.push_back(p);
    }
    return points;
}

std::vector<std::size_t> Moved(const std::vector<GpxTrackPoint> &points, const halvex::RolloverChoice &choice,
                               std::optional<halvex::ReceiverCalendar> calendar)
{
    return halvex::PlanTrackShift(points, choice, calendar).points;
}

TEST(TrackRollover, AutomaticMovesWhatTheReceiverRecordedSinceItsWindowEnded)
{
    halvex::RolloverChoice automatic;
    halvex::ReceiverCalendar behind{kReceiverToday, 1024};
    // Across the end of the window: a jump back of 1024 weeks less a day.
    auto across = Log({kToday - 3 * 86400, kToday - 2 * 86400, kReceiverToday - 86400, kReceiverToday - 3600});
    EXPECT_EQ(Moved(across, automatic, behind), (std::vector<std::size_t>{2, 3}));
    // Recorded since the window ended: every point up to the receiver's own date.
    auto since = Log({kReceiverToday - 7 * 86400, kReceiverToday - 3600, kReceiverToday});
    EXPECT_EQ(Moved(since, automatic, behind), (std::vector<std::size_t>{0, 1, 2}));
    // Later than the receiver's date: recorded before the window ended, never moved.
    auto before = Log({kReceiverToday + 86400, kReceiverToday + 2 * 86400});
    EXPECT_TRUE(Moved(before, automatic, behind).empty());
    // After a jump, a point later than the receiver's date still stays.
    auto mixed = Log({kToday - 86400, kReceiverToday - 60, kReceiverToday + 86400});
    EXPECT_EQ(Moved(mixed, automatic, behind), (std::vector<std::size_t>{1}));
    // A jump of 512 weeks or less is no rollover: the log is judged whole.
    auto small = Log({kReceiverToday - 60 + 512 * kSecondsPerWeek, kReceiverToday - 60});
    EXPECT_EQ(Moved(small, automatic, behind), (std::vector<std::size_t>{1}));
}

TEST(TrackRollover, NothingMovesForAReceiverOnTimeOrUnheard)
{
    auto log = Log({kReceiverToday - 60, kToday - 60});
    halvex::RolloverChoice automatic;
    EXPECT_TRUE(Moved(log, automatic, halvex::ReceiverCalendar{kToday, 0}).empty());
    EXPECT_TRUE(Moved(log, automatic, std::nullopt).empty());
    EXPECT_TRUE(Moved(log, halvex::RolloverChoice{false, 0}, halvex::ReceiverCalendar{kReceiverToday, 1024}).empty());
}

TEST(TrackRollover, FixedPeriodsMoveEveryTimedPoint)
{
    auto log = Log({kReceiverToday - 2 * kPeriod, kToday});
    log.push_back(GpxTrackPoint());
    log.back().timed = false;
    halvex::TrackShift shift = halvex::PlanTrackShift(log, halvex::RolloverChoice{false, 2}, std::nullopt);
    EXPECT_EQ(shift.weeks, 2048);
    EXPECT_EQ(shift.points, (std::vector<std::size_t>{0, 1}));
    halvex::ApplyTrackShift(log, shift);
    EXPECT_DOUBLE_EQ(log[0].time, kReceiverToday);
    EXPECT_DOUBLE_EQ(log[1].time, kToday + 2 * kPeriod);
    EXPECT_DOUBLE_EQ(log[2].time, 0);
}

TEST(TrackRollover, TheMoveIsSaidWithCountsAndRanges)
{
    auto log = Log({kToday - 86400, kReceiverToday - 23 * 86400, kReceiverToday});
    halvex::TrackShift shift =
        halvex::PlanTrackShift(log, halvex::RolloverChoice{}, halvex::ReceiverCalendar{kReceiverToday, 1024});
    EXPECT_EQ(halvex::TrackShiftSentence(log, shift),
              "2 of 3 track points moved forward 1024 weeks (GPS week rollover): 2007-04-02..2007-04-25 became "
              "2026-11-16..2026-12-09");
}

TEST(TrackRollover, OptionTakesAutoOrWholePeriods)
{
    EXPECT_TRUE(halvex::ParseRollover("auto")->automatic);
    EXPECT_EQ(halvex::ParseRollover("1")->periods, 1);
    EXPECT_FALSE(halvex::ParseRollover("1")->automatic);
    for (const char *bad : {"", "-1", "one", "1.5", "999"})
        EXPECT_FALSE(halvex::ParseRollover(bad).has_value()) << bad;
}

} // namespace
