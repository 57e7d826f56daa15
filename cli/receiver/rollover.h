// The GPS week rollover in a receiver's track log. A receiver whose 10-bit
// week count has passed the end of its 1024-week window stamps every point
// it records from then on 1024 weeks early; the points it recorded before
// the end are right. One log may hold both, in the order they were recorded.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "gpx/gpx.h"

namespace halvex {

constexpr int kRolloverWeeks = 1024;
constexpr double kSecondsPerWeek = 7 * 86400.0;

// The receiver's calendar as the tool learnt it.
struct ReceiverCalendar {
    double receiverNow = 0; // seconds since 1970, by the receiver's own date
    int weeksBehind = 0;    // 0, 1024, 2048 ...
};

// --rollover: auto, or a fixed number of 1024-week periods (0: none).
struct RolloverChoice {
    bool automatic = true;
    int periods = 0;
};
// "auto" or a whole number; nullopt for anything else.
std::optional<RolloverChoice> ParseRollover(const std::string &text);

// The points to move forward, and by how many weeks.
struct TrackShift {
    int weeks = 0;
    std::vector<std::size_t> points;
};

// Automatically, with what the receiver said of its date: nothing when it
// is on time or unknown; else the points after a jump back of more than 512
// weeks, or, where the log has no such jump, the points not later than the
// receiver's own date. A point later than the receiver's date is never
// moved: only a point recorded before its window ended can be. A fixed
// choice moves every timed point.
TrackShift PlanTrackShift(const std::vector<GpxTrackPoint> &points, const RolloverChoice &choice,
                          const std::optional<ReceiverCalendar> &calendar);
void ApplyTrackShift(std::vector<GpxTrackPoint> &points, const TrackShift &shift);
// "412 of 530 track points moved forward 1024 weeks (GPS week rollover):
// 2007-04-02..2007-04-25 became 2026-11-16..2026-12-09", of the points as
// they were before the move.
std::string TrackShiftSentence(const std::vector<GpxTrackPoint> &points, const TrackShift &shift,
                               const char *verb = "moved");

} // namespace halvex
