// What the tool learns of a receiver's calendar: halvex time, and the track
// dates of tracks get moved past a rollover of the receiver's week count.
#pragma once

#include <optional>
#include <vector>

#include "receiver/connection.h"
#include "receiver/rollover.h"

namespace halvex {

// halvex time: the receiver's clock, this computer's, and what lies between.
int ShowTime(const Options &options, bool json);

// From the receiver's clock where it keeps one, else from its first
// position report; nothing when neither comes.
std::optional<ReceiverCalendar> LearnCalendar(Connection &connection);

// tracks get: the points' dates moved as --rollover says, and the move said
// on standard error; with strict, a move is refused (exit 5) instead.
void CorrectTrackDates(Connection &connection, std::vector<GpxTrackPoint> &points, const RolloverChoice &choice,
                       bool strict);

} // namespace halvex
