#include "commands/position.h"

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <nlohmann/json.hpp>

#include "terminal/errors.h"
#include "receiver/rendezvous.h"
#include "gpx/gpx.h"
#include "receiver/hostrecords.h"
#include "terminal/terminal.h"

namespace halvex {

namespace {

// A receiver that sends no fix for this long (or for --timeout) is taken to
// have none to give.
constexpr double kFixSilenceSeconds = 12;

bool Gave(const HostPosition &fix, int bit) { return (fix.given & bit) != 0; }

// An OLE Automation date as ISO 8601 UTC, always to the millisecond, as
// TPV readers expect.
std::string FixTime(double oleDate)
{
    std::string text = IsoTime(UnixFromOle(oleDate));
    if (text.find('.') == std::string::npos)
        text.insert(text.size() - 1, ".000");
    return text;
}

// 12, or 2.5: as few digits as the number needs.
std::string Seconds(double seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", seconds);
    return text;
}

// As many decimals as the quantity means: a nanodegree is 0.1 mm, and a
// receiver's metres and metres a second say nothing below the millimetre.
double Rounded(double value, double scale) { return std::round(value * scale) / scale; }

const char *ModeName(int mode) { return mode == HalvexFix3D ? "3D" : mode == HalvexFix2D ? "2D" : "no fix"; }

} // namespace

std::string FixText(const HostPosition &fix)
{
    std::string line = Gave(fix, HalvexGaveTime) ? FixTime(fix.time) : "(no time)";
    char part[96];
    if (Gave(fix, HalvexGavePosition)) {
        std::snprintf(part, sizeof part, "  %.6f %c  %.6f %c", std::fabs(fix.latitude), fix.latitude < 0 ? 'S' : 'N',
                      std::fabs(fix.longitude), fix.longitude < 0 ? 'W' : 'E');
        line += part;
    }
    if (Gave(fix, HalvexGaveAltitude)) {
        std::snprintf(part, sizeof part, "  %.1f m", fix.altitude);
        line += part;
    }
    if (Gave(fix, HalvexGaveSpeed)) {
        std::snprintf(part, sizeof part, "  %.1f m/s", fix.speed);
        line += part;
    }
    if (Gave(fix, HalvexGaveCourse)) {
        std::snprintf(part, sizeof part, "  %.1f deg", fix.course);
        line += part;
    }
    return line + "  " + ModeName(fix.fixMode);
}

std::string FixJson(const HostPosition &fix, const std::string &device)
{
    nlohmann::ordered_json tpv;
    tpv["class"] = "TPV";
    tpv["device"] = device;
    tpv["mode"] = Gave(fix, HalvexGaveFixMode) ? fix.fixMode : 0;
    if (Gave(fix, HalvexGaveTime))
        tpv["time"] = FixTime(fix.time);
    struct Field {
        const char *name;
        int bit;
        double value;
    };
    for (const Field &field : {Field{"lat", HalvexGavePosition, fix.latitude},
                               Field{"lon", HalvexGavePosition, fix.longitude},
                               Field{"altMSL", HalvexGaveAltitude, fix.altitude},
                               Field{"speed", HalvexGaveSpeed, fix.speed}, Field{"track", HalvexGaveCourse, fix.course},
                               Field{"climb", HalvexGaveClimb, fix.climb}, Field{"eph", HalvexGaveEph, fix.eph},
                               Field{"epv", HalvexGaveEpv, fix.epv}})
        if (Gave(fix, field.bit))
            tpv[field.name] = Rounded(field.value, field.bit == HalvexGavePosition ? 1e9 : 1e3);
    if (Gave(fix, HalvexGaveSatellites))
        tpv["satellites_used"] = fix.satellites;
    return tpv.dump();
}

int Position(Options options, const PositionOptions &position)
{
    if (position.nmea) {
        options.simulator.nmea.enabled = true;
        options.simulator.nmea.live = true;
        options.simulator.nmea.held = true; // until NMEA mode starts, as a receiver switched to it
    }
    Connection connection(options);
    if (position.nmea)
        connection.StartNmea([](const std::string &) {}); // the sentences are the library's to merge
    else
        connection.Identify();

    std::mutex lock;
    std::condition_variable arrived;
    int shown = 0;
    int writeError = 0; // the first write that failed, kept as errno said it
    bool inPlace = StdoutIsTerminal() && !position.json;
    bool movedSaid = false;
    auto lastFix = std::chrono::steady_clock::now();
    InterruptWatch watch; // Ctrl-C ends the command as --seconds would
    connection.StartPosition([&](const HostPosition &fix) {
        std::lock_guard<std::mutex> hold(lock);
        if (position.count && shown >= position.count)
            return;
        if (fix.weeksAdded && !movedSaid) {
            movedSaid = true;
            Say("halvex: the receiver's date is " + std::to_string(fix.weeksAdded) +
                " weeks behind (GPS week rollover); its fixes are moved forward");
        }
        std::string line = position.json ? FixJson(fix, connection.Device()) : FixText(fix);
        // On a terminal the line refreshes in place; elsewhere one a fix.
        std::printf(inPlace ? "\r\033[K%s" : "%s\n", line.c_str());
        if (std::fflush(stdout) != 0 && !writeError)
            writeError = errno;
        shown++;
        lastFix = std::chrono::steady_clock::now();
        arrived.notify_all();
    });

    using Clock = std::chrono::steady_clock;
    auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(position.seconds));
    bool silent = false, lost = false;
    double silence = options.timeout > 0 ? options.timeout : kFixSilenceSeconds;
    {
        std::unique_lock<std::mutex> hold(lock);
        while (!Interrupted() && !(position.count && shown >= position.count) &&
               !(position.seconds > 0 && Clock::now() >= end)) {
            arrived.wait_for(hold, std::chrono::milliseconds(200));
            if ((lost = connection.Lost()))
                break;
            if (std::chrono::duration<double>(Clock::now() - lastFix).count() >= silence) {
                silent = true;
                break;
            }
        }
    }
    if (!lost) {
        connection.StopPosition();
        if (position.nmea)
            connection.StopNmea();
    }
    if (inPlace && shown)
        std::printf("\n");
    // Fixes that never reached their reader are no success.
    {
        std::lock_guard<std::mutex> hold(lock); // a lost session's last call may still run
        if (std::fflush(stdout) != 0 && !writeError)
            writeError = errno;
    }
    if (writeError)
        throw Failure(ExitFailure, std::string("cannot write standard output: ") + std::strerror(writeError));
    if (lost)
        connection.Disconnected();
    if (silent) {
        std::string nothing = "no fix came from " + connection.Device() + " for " + Seconds(silence) + " s";
        if (position.nmea)
            connection.NoSentence(nothing);
        throw Failure(ExitNoAnswer, nothing);
    }
    return 0;
}

} // namespace halvex
