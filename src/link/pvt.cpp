#include "pvt.h"

#include <math.h>
#include <string.h>
#include <time.h>

#include "../errlog/errlog.h"
#include "../platform/platform.h"
#include "../host/calendar.h"
#include "../port/position.h"
#include "fields.h"
#include "link.h"
#include "state.h"

static const double DegreesPerRadian = 57.29577951307855;
static const double KnotsPerMetreSecond = 1.9433507549523483;
static const int64_t UnixSecondsAt1989 = 631159200; /* the receiver's epoch, 1989-12-31 00:00 UTC */


/* Two layouts are in use: the 64-byte record that receivers send, and the
 * wider one with the same fields further in. Both begin with the altitude
 * above the ellipsoid, the estimated errors (position, horizontal,
 * vertical) as floats and the fix as a 16-bit integer. */
struct PvtLayout {
    int seconds, latitude, longitude, east, north, up, seaLevel, leapSeconds, leapWidth, days;
};
static const PvtLayout Packed64 = {18, 26, 34, 42, 46, 50, 54, 58, 2, 60};
static const PvtLayout Wide72 = {24, 32, 40, 48, 52, 56, 60, 64, 4, 68};
enum { AltitudeAt = 0, EphAt = 8, EpvAt = 12, FixAt = 16 };

/* The receiver's fix: 0 unusable and 1 invalid, then 2-D and 3-D, each
 * plain (2, 3) or differential (4, 5). */
static int FixMode(int16_t fix)
{
    if (fix == 3 || fix == 5)
        return HalvexFix3D;
    return fix == 2 || fix == 4 ? HalvexFix2D : HalvexFixNone;
}

static const PvtLayout *LayoutOf(int length)
{
    return length == 64 ? &Packed64 : length >= 72 ? &Wide72 : NULL;
}

static int32_t LeapSeconds(const PvtLayout *layout, const unsigned char *data, int length)
{
    return layout->leapWidth == 2 ? ReadField<int16_t>(data, length, layout->leapSeconds)
                                  : ReadField<int32_t>(data, length, layout->leapSeconds);
}

int64_t PvtTime(double seconds, int32_t leapSeconds, int32_t days)
{
    double unix = trunc(seconds - leapSeconds + days * 86400.0) + (double)UnixSecondsAt1989;
    /* Outside this range the time cannot be broken down (NaN included). */
    if (!(unix >= 0 && unix <= 4294967295.0))
        return -1;
    return (int64_t)unix;
}

double GroundSpeed(float east, float north)
{
    double e = east, n = north;
    return sqrt(e * e + n * n) * KnotsPerMetreSecond;
}

double GroundCourse(float east, float north)
{
    double angle;
    if (east == 0 && north == 0)
        angle = 0;
    else if (east == 0)
        angle = north > 0 ? 1.570796326795 : -1.570796326795;
    else
        angle = atan2((double)north, (double)east);
    double shifted = angle * DegreesPerRadian - 90;
    return shifted > 0 ? 360 - shifted : -shifted;
}

int PvtFix(const unsigned char *data, int length, HostPosition *fix)
{
    const PvtLayout *layout = LayoutOf(length);
    if (!layout)
        return 0;
    ClearPosition(fix);
    double seconds = ReadField<double>(data, length, layout->seconds);
    double sinceEpoch =
        ReadField<int32_t>(data, length, layout->days) * 86400.0 + seconds - LeapSeconds(layout, data, length);
    fix->time = RECEIVER_EPOCH_DATE + sinceEpoch / 86400;
    fix->fixMode = FixMode(ReadField<int16_t>(data, length, FixAt));
    fix->given = HalvexGaveTime | HalvexGaveFixMode;
    if (fix->fixMode == HalvexFixNone)
        return 1; /* what the rest says is not a position */
    fix->latitude = ReadField<double>(data, length, layout->latitude) * DegreesPerRadian;
    fix->longitude = ReadField<double>(data, length, layout->longitude) * DegreesPerRadian;
    float east = ReadField<float>(data, length, layout->east);
    float north = ReadField<float>(data, length, layout->north);
    fix->speed = hypot((double)east, (double)north);
    fix->eph = ReadField<float>(data, length, EphAt);
    fix->given |= HalvexGavePosition | HalvexGaveSpeed | HalvexGaveEph;
    /* At rest the course says nothing. */
    if (east != 0 || north != 0) {
        fix->course = GroundCourse(east, north);
        fix->given |= HalvexGaveCourse;
    }
    if (fix->fixMode == HalvexFix3D) {
        /* The altitude is above the ellipsoid; the next field is the height
         * of mean sea level below it. */
        fix->altitude = (double)ReadField<float>(data, length, AltitudeAt) + ReadField<float>(data, length, layout->seaLevel);
        fix->climb = ReadField<float>(data, length, layout->up);
        fix->epv = ReadField<float>(data, length, EpvAt);
        fix->given |= HalvexGaveAltitude | HalvexGaveClimb | HalvexGaveEpv;
    }
    return 1;
}

void PvtHandler(PortSession *session, int code, const unsigned char *data, int length)
{
    (void)code;
    const PvtLayout *layout = LayoutOf(length);
    if (!layout) {
        ErrorLog("Pvt data too short: %d\n", length);
        return;
    }
    double latitude = ReadField<double>(data, length, layout->latitude) * DegreesPerRadian;
    double longitude = ReadField<double>(data, length, layout->longitude) * DegreesPerRadian;
    float east = ReadField<float>(data, length, layout->east);
    float north = ReadField<float>(data, length, layout->north);
    double seconds = ReadField<double>(data, length, layout->seconds);
    int64_t t = PvtTime(seconds, LeapSeconds(layout, data, length), ReadField<int32_t>(data, length, layout->days));
    char clock[16] = "--:--:--";
    if (t >= 0) {
        struct tm utc;
        PlatformUtcTime((time_t)t, &utc);
        snprintf(clock, sizeof clock, "%02d:%02d:%02d", utc.tm_hour, utc.tm_min, utc.tm_sec);
    }
    ErrorLog("%s - lat=%f lon=%f sog=%f cog=%f\n", clock, latitude, longitude, GroundSpeed(east, north),
             GroundCourse(east, north));
    ErrorLog("Pvt data received\n");
    HostPosition fix;
    if (PositionStreamRuns(session) && PvtFix(data, length, &fix))
        DeliverPosition(session, &fix);
}
