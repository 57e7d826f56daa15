#include "receiver/rollover.h"

#include <algorithm>
#include <cstdlib>

namespace halvex {

std::optional<RolloverChoice> ParseRollover(const std::string &text)
{
    if (text == "auto")
        return RolloverChoice{};
    if (text.empty() || text.size() > 2 || text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    return RolloverChoice{false, std::atoi(text.c_str())};
}

TrackShift PlanTrackShift(const std::vector<GpxTrackPoint> &points, const RolloverChoice &choice,
                          const std::optional<ReceiverCalendar> &calendar)
{
    TrackShift shift;
    if (!choice.automatic) {
        shift.weeks = choice.periods * kRolloverWeeks;
        for (std::size_t i = 0; shift.weeks && i < points.size(); ++i)
            if (points[i].timed)
                shift.points.push_back(i);
        return shift;
    }
    if (!calendar || calendar->weeksBehind <= 0)
        return shift;
    shift.weeks = calendar->weeksBehind;
    // Where the log jumps back by more than half a period, its window ended
    // there: all that follows was recorded since.
    const double halfPeriod = kRolloverWeeks / 2 * kSecondsPerWeek;
    std::size_t from = points.size();
    const GpxTrackPoint *previous = nullptr;
    for (std::size_t i = 0; i < points.size() && from == points.size(); ++i) {
        if (!points[i].timed)
            continue;
        if (previous && previous->time - points[i].time > halfPeriod)
            from = i;
        previous = &points[i];
    }
    if (from == points.size())
        from = 0; // no jump: the log was recorded since, where its dates allow
    for (std::size_t i = from; i < points.size(); ++i)
        if (points[i].timed && points[i].time <= calendar->receiverNow)
            shift.points.push_back(i);
    return shift;
}

void ApplyTrackShift(std::vector<GpxTrackPoint> &points, const TrackShift &shift)
{
    for (std::size_t i : shift.points)
        points[i].time += shift.weeks * kSecondsPerWeek;
}

std::string TrackShiftSentence(const std::vector<GpxTrackPoint> &points, const TrackShift &shift, const char *verb)
{
    if (shift.points.empty())
        return "";
    auto [first, last] = std::minmax_element(shift.points.begin(), shift.points.end(),
                                             [&](std::size_t a, std::size_t b) { return points[a].time < points[b].time; });
    double from = points[*first].time, to = points[*last].time, by = shift.weeks * kSecondsPerWeek;
    return std::to_string(shift.points.size()) + " of " + std::to_string(points.size()) + " track points " + verb +
           " forward " + std::to_string(shift.weeks) + " weeks (GPS week rollover): " + IsoDay(from) + ".." + IsoDay(to) +
           " became " + IsoDay(from + by) + ".." + IsoDay(to + by);
}

} // namespace halvex
