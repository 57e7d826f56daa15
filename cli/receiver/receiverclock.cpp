#include "receiver/receiverclock.h"

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <ctime>
#include <iostream>
#include <mutex>

#include <nlohmann/json.hpp>

#include "terminal/errors.h"
#include "receiver/hostrecords.h"
#include "terminal/terminal.h"

namespace halvex {

namespace {

// How long a receiver without a clock is given for its first position report.
constexpr double kReportWaitSeconds = 4;

std::string ClockText(double unixSeconds)
{
    std::time_t t = static_cast<std::time_t>(std::floor(unixSeconds));
    std::tm utc{};
    gmtime_r(&t, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &utc);
    return text;
}

// "the clocks agree", or how far the receiver's runs from this computer's.
std::string Offset(double seconds)
{
    long whole = std::lround(seconds);
    if (whole == 0)
        return "the clocks agree to the second";
    return "its clock runs " + std::to_string(std::labs(whole)) + " s " + (whole < 0 ? "behind" : "ahead of") +
           " this computer's";
}

std::optional<ReceiverCalendar> FromFirstReport(Connection &connection)
{
    std::mutex lock;
    std::condition_variable arrived;
    std::optional<ReceiverCalendar> calendar;
    try {
        connection.StartPosition([&](const HostPosition &fix) {
            std::lock_guard<std::mutex> hold(lock);
            if (calendar || !(fix.given & HalvexGaveTime))
                return;
            calendar = ReceiverCalendar{UnixFromOle(fix.time) - fix.weeksAdded * kSecondsPerWeek, fix.weeksAdded};
            arrived.notify_all();
        });
    } catch (const Failure &) {
        if (connection.Lost())
            throw; // a receiver gone is no receiver without reports
        return std::nullopt; // a receiver that sends no reports tells nothing of its date
    }
    {
        std::unique_lock<std::mutex> hold(lock);
        arrived.wait_for(hold, std::chrono::duration<double>(kReportWaitSeconds), [&] { return calendar.has_value(); });
    }
    connection.StopPosition();
    std::lock_guard<std::mutex> hold(lock);
    return calendar;
}

} // namespace

int ShowTime(const Options &options, bool json)
{
    Connection connection(options);
    std::optional<HostClock> clock = connection.ReadClock();
    if (!clock)
        throw Failure(ExitNoAnswer, "the receiver on " + connection.Device() +
                                        " keeps no clock the library can read (its protocols list no A600)");
    double receiver = UnixFromOle(clock->receiverTime), host = UnixFromOle(clock->hostTime);
    double corrected = receiver + clock->weeksBehind * kSecondsPerWeek;
    if (json) {
        nlohmann::ordered_json out = {{"receiver", IsoTime(receiver)},
                                      {"host", IsoTime(host)},
                                      {"weeks_behind", clock->weeksBehind},
                                      {"corrected", IsoTime(corrected)},
                                      {"offset_seconds", std::lround(corrected - host)},
                                      {"port", connection.Device()}};
        std::cout << out.dump() << std::endl;
        return 0;
    }
    std::string verdict =
        clock->weeksBehind
            ? "the receiver is " + std::to_string(clock->weeksBehind) +
                  " weeks behind (GPS week rollover); halvex corrects its fixes and track times"
            : "the receiver's date is right; " + Offset(corrected - host);
    std::cout << "receiver " << ClockText(receiver) << ", this computer " << ClockText(host) << ": " << verdict
              << std::endl;
    return 0;
}

std::optional<ReceiverCalendar> LearnCalendar(Connection &connection)
{
    std::optional<HostClock> clock = connection.ReadClock();
    if (clock)
        return ReceiverCalendar{UnixFromOle(clock->receiverTime), clock->weeksBehind};
    return FromFirstReport(connection);
}

void CorrectTrackDates(Connection &connection, std::vector<GpxTrackPoint> &points, const RolloverChoice &choice,
                       bool strict)
{
    if (points.empty())
        return;
    std::optional<ReceiverCalendar> calendar;
    if (choice.automatic || choice.periods == 0)
        calendar = LearnCalendar(connection);
    TrackShift shift = PlanTrackShift(points, choice, calendar);
    if (!shift.points.empty()) {
        if (strict)
            throw Failure(ExitBadData, TrackShiftSentence(points, shift, "would be moved") +
                                           "; --strict writes no file with moved dates (--rollover 0 keeps the "
                                           "receiver's dates)");
        Say("halvex: " + TrackShiftSentence(points, shift) + "; --rollover 0 keeps the receiver's dates");
        ApplyTrackShift(points, shift);
    } else if (!choice.automatic && calendar && calendar->weeksBehind) {
        Say("halvex: the receiver is " + std::to_string(calendar->weeksBehind) +
            " weeks behind (GPS week rollover): the points it recorded since its week window ended are dated " +
            std::to_string(calendar->weeksBehind) + " weeks early; --rollover auto moves them");
    }
}

} // namespace halvex
