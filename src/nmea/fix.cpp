/* Live position in NMEA mode: the sentences of one fix epoch (those that
 * share a UTC time of day) merged into one record. GGA and RMC carry the
 * time; GSA and VTG join the epoch under way. An epoch goes to the host as
 * soon as its GGA and RMC have both come, or when the next epoch begins, so
 * that a receiver that sends only one of them still gives one fix an epoch. */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "../host/calendar.h"
#include "../port/position.h"
#include "../port/registry.h"
#include "nmea.h"

enum { FieldLimit = 24, TimeSize = 16 };

static const double MetresPerSecondPerKnot = 1852.0 / 3600.0;

struct FixEpoch {
    HostPosition fix;
    char time[TimeSize]; /* the epoch's time field as sent; empty: none yet */
    int haveGga, haveRmc, delivered, noFix;
    double day;     /* the last RMC date as an OLE Automation date; NaN: none yet */
    double dayTime; /* and that RMC's time of day, in seconds */
};

/* The sentence's fields, split in place in copy; a checksum that does not
 * match leaves none. */
static int SplitFields(const char *text, char *copy, size_t size, char *fields[FieldLimit])
{
    size_t length = strlen(text);
    if (length + 1 > size || text[0] != '$')
        return 0;
    memcpy(copy, text, length + 1);
    char *star = strchr(copy, '*');
    if (star) {
        unsigned sum = NmeaChecksum(copy, star);
        char *end;
        unsigned long given = strtoul(star + 1, &end, 16);
        /* Two digits end the sentence: lines run together (their ends lost
         * on the way) are not one sentence. */
        if (end != star + 3 || *end != '\0' || given != sum)
            return 0;
        *star = '\0';
    }
    int count = 0;
    for (char *field = copy + 1; count < FieldLimit; count++) {
        fields[count] = field;
        char *comma = strchr(field, ',');
        if (!comma) {
            count++;
            break;
        }
        *comma = '\0';
        field = comma + 1;
    }
    return count;
}

static int Number(const char *field, double *value)
{
    if (!field || !*field)
        return 0;
    char *end;
    *value = strtod(field, &end);
    return *end == '\0';
}

/* ddmm.mmm or dddmm.mmm with its hemisphere. */
static int Angle(const char *field, const char *hemisphere, double *degrees)
{
    double raw;
    if (!Number(field, &raw) || !hemisphere || (*hemisphere != 'N' && *hemisphere != 'S' && *hemisphere != 'E' &&
                                                *hemisphere != 'W'))
        return 0;
    double whole = floor(raw / 100);
    *degrees = whole + (raw - whole * 100) / 60;
    if (*hemisphere == 'S' || *hemisphere == 'W')
        *degrees = -*degrees;
    return 1;
}

/* hhmmss.ss as seconds of the day. */
static int TimeOfDay(const char *field, double *seconds)
{
    double raw;
    if (!Number(field, &raw) || raw < 0)
        return 0;
    double hours = floor(raw / 10000), minutes = floor(raw / 100) - hours * 100;
    *seconds = hours * 3600 + minutes * 60 + (raw - floor(raw / 100) * 100);
    return 1;
}

/* ddmmyy as an OLE Automation date; the two-digit year is 1980 to 2079. */
static int Day(const char *field, double *day)
{
    if (!field || strlen(field) != 6)
        return 0;
    for (int i = 0; i < 6; i++)
        if (field[i] < '0' || field[i] > '9')
            return 0;
    int d = (field[0] - '0') * 10 + field[1] - '0', m = (field[2] - '0') * 10 + field[3] - '0';
    int y = (field[4] - '0') * 10 + field[5] - '0';
    return OleDateFromCivil(y + (y >= 80 ? 1900 : 2000), m, d, day);
}

static void Give(HostPosition *fix, double *field, double value, int bit)
{
    if (fix->given & bit)
        return; /* the first sentence of the epoch that gives it holds */
    *field = value;
    fix->given |= bit;
}

static void TakePosition(HostPosition *fix, char **fields, int latitudeAt)
{
    double latitude, longitude;
    if (Angle(fields[latitudeAt], fields[latitudeAt + 1], &latitude) &&
        Angle(fields[latitudeAt + 2], fields[latitudeAt + 3], &longitude) && !(fix->given & HalvexGavePosition)) {
        fix->latitude = latitude;
        fix->longitude = longitude;
        fix->given |= HalvexGavePosition;
    }
}

static void TakeGga(FixEpoch *epoch, char **fields, int count)
{
    if (count < 10)
        return;
    HostPosition *fix = &epoch->fix;
    double quality, satellites, altitude;
    epoch->haveGga = 1;
    if (!Number(fields[6], &quality) || quality == 0) {
        epoch->noFix = 1;
        return;
    }
    TakePosition(fix, fields, 2);
    if (Number(fields[7], &satellites) && !(fix->given & HalvexGaveSatellites)) {
        fix->satellites = (int32_t)satellites;
        fix->given |= HalvexGaveSatellites;
    }
    if (Number(fields[9], &altitude))
        Give(fix, &fix->altitude, altitude, HalvexGaveAltitude);
}

static void TakeRmc(FixEpoch *epoch, char **fields, int count)
{
    if (count < 10)
        return;
    HostPosition *fix = &epoch->fix;
    double day, dayTime, speed, course;
    if (Day(fields[9], &day) && TimeOfDay(fields[1], &dayTime)) {
        epoch->day = day;
        epoch->dayTime = dayTime;
    }
    epoch->haveRmc = 1;
    if (strcmp(fields[2], "A") != 0) {
        epoch->noFix = 1; /* void: what follows is no position */
        return;
    }
    TakePosition(fix, fields, 3);
    if (Number(fields[7], &speed))
        Give(fix, &fix->speed, speed * MetresPerSecondPerKnot, HalvexGaveSpeed);
    if (Number(fields[8], &course))
        Give(fix, &fix->course, course, HalvexGaveCourse);
}

static void TakeGsa(FixEpoch *epoch, char **fields, int count)
{
    HostPosition *fix = &epoch->fix;
    double mode;
    if (count < 3 || !Number(fields[2], &mode) || mode < 1 || mode > 3)
        return;
    fix->fixMode = (int32_t)mode;
    fix->given |= HalvexGaveFixMode;
    int used = 0;
    for (int i = 3; i < count && i < 15; i++)
        used += fields[i][0] != '\0';
    if (!(fix->given & HalvexGaveSatellites) && count >= 15) {
        fix->satellites = used;
        fix->given |= HalvexGaveSatellites;
    }
}

static void TakeVtg(FixEpoch *epoch, char **fields, int count)
{
    HostPosition *fix = &epoch->fix;
    double course, speed;
    if (count > 1 && Number(fields[1], &course))
        Give(fix, &fix->course, course, HalvexGaveCourse);
    if (count > 7 && Number(fields[7], &speed))
        Give(fix, &fix->speed, speed / 3.6, HalvexGaveSpeed);
}

static void StartEpoch(FixEpoch *epoch, const char *time)
{
    double day = epoch->day, dayTime = epoch->dayTime;
    memset(epoch, 0, sizeof *epoch);
    ClearPosition(&epoch->fix);
    epoch->day = day;
    epoch->dayTime = dayTime;
    snprintf(epoch->time, sizeof epoch->time, "%s", time);
}

/* Finishes the record: the time where a date is known, the fix mode where
 * GSA did not say it, nothing of a position where there was no fix. */
static void Deliver(PortSession *session, FixEpoch *epoch)
{
    epoch->delivered = 1;
    HostPosition fix = epoch->fix;
    double seconds;
    if (!isnan(epoch->day) && TimeOfDay(epoch->time, &seconds)) {
        /* An epoch without an RMC of its own takes the last one's date; time
         * runs forward, so one more than 12 h before that RMC's time of day
         * is past midnight. */
        double day = seconds + 43200 < epoch->dayTime ? epoch->day + 1 : epoch->day;
        fix.time = day + seconds / 86400;
        fix.given |= HalvexGaveTime;
    }
    int positionBits = HalvexGavePosition | HalvexGaveAltitude | HalvexGaveSpeed | HalvexGaveCourse;
    if (epoch->noFix || !(fix.given & HalvexGavePosition)) {
        fix.latitude = fix.longitude = fix.altitude = fix.speed = fix.course = NAN;
        fix.given &= ~positionBits;
        fix.fixMode = HalvexFixNone;
        fix.given |= HalvexGaveFixMode;
    } else if (!(fix.given & HalvexGaveFixMode)) {
        fix.fixMode = fix.given & HalvexGaveAltitude ? HalvexFix3D : HalvexFix2D;
        fix.given |= HalvexGaveFixMode;
    }
    DeliverPosition(session, &fix);
}

void NmeaFixSentence(PortSession *session, const char *text)
{
    NmeaState *nmea = NmeaOf(session);
    if (!nmea->fixEpoch) {
        nmea->fixEpoch = (FixEpoch *)calloc(1, sizeof *nmea->fixEpoch);
        if (!nmea->fixEpoch)
            return;
        nmea->fixEpoch->day = NAN;
        StartEpoch(nmea->fixEpoch, "");
    }
    char copy[SentenceLimit + 1], *fields[FieldLimit];
    int count = SplitFields(text, copy, sizeof copy, fields);
    if (count < 1 || strlen(fields[0]) != 5)
        return;
    const char *kind = fields[0] + 2; /* after the talker: GP, GN, GL ... */
    FixEpoch *epoch = nmea->fixEpoch;
    int timed = strcmp(kind, "GGA") == 0 || strcmp(kind, "RMC") == 0;
    if (timed) {
        if (count < 2 || !fields[1][0])
            return;
        if (strcmp(fields[1], epoch->time) != 0) {
            int pending = epoch->time[0] && !epoch->delivered;
            if (pending) {
                uint32_t operation = CurrentOperation(session);
                Deliver(session, epoch);
                if (!OperationContinues(session, operation) || nmea->fixEpoch != epoch || !PositionStreamRuns(session))
                    return;
            }
            StartEpoch(epoch, fields[1]);
        }
    } else if (epoch->delivered) {
        return; /* late for its epoch, or early for the next: dropped */
    }
    if (strcmp(kind, "GGA") == 0)
        TakeGga(epoch, fields, count);
    else if (strcmp(kind, "RMC") == 0)
        TakeRmc(epoch, fields, count);
    else if (strcmp(kind, "GSA") == 0)
        TakeGsa(epoch, fields, count);
    else if (strcmp(kind, "VTG") == 0)
        TakeVtg(epoch, fields, count);
    if (epoch->haveGga && epoch->haveRmc && !epoch->delivered)
        Deliver(session, epoch);
}

void ForgetFixEpoch(PortSession *session)
{
    NmeaState *nmea = NmeaOf(session);
    if (nmea) {
        free(nmea->fixEpoch);
        nmea->fixEpoch = NULL;
    }
}
