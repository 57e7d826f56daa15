/* The waypoint types of later receivers, D108, D109 and D110: a fixed head
 * (class, colour, symbol, position, altitude, ...) followed by six strings,
 * ident and comment first. A field the record does not set goes as the
 * value a receiver takes for "not set", or its default. */
#include <ctype.h>
#include <math.h>
#include <string.h>

#include "../errlog/errlog.h"
#include "../host/calendar.h"
#include "../link/link.h"
#include "waypointtypes.h"

enum { StringLimit = 51, PositionAt = 24, MeasuresAt = 32, StateAt = 44, MaxData = 255 };

struct StringType {
    int type;
    int head; /* bytes before the strings */
    unsigned char lead[4]; /* the first four bytes: class, colour, display, attributes (D108) */
};

static const StringType stringTypes[] = {
    {108, 48, {0x00, 0xFF, 0x00, 0x60}},
    {109, 52, {0x01, 0x00, 0x1F, 0x70}}, /* packet type, class, colour and display, attributes */
    {110, 62, {0x01, 0x00, 0x1F, 0x80}},
};

static const StringType *FindStringType(int type)
{
    for (const StringType &row : stringTypes)
        if (row.type == type)
            return &row;
    return NULL;
}

int StringWaypointLimit(int type) { return FindStringType(type) ? StringLimit : 0; }

int StringWaypointHolds(int type)
{
    if (!FindStringType(type))
        return 0;
    int holds = HalvexHoldsComment | HalvexHoldsAltitude | HalvexHoldsDepth | HalvexHoldsProximity |
                HalvexHoldsSymbol | HalvexHoldsDisplay | HalvexHoldsColour | HalvexHoldsClass | HalvexHoldsPlace;
    return type == 110 ? holds | HalvexHoldsTemperature | HalvexHoldsTime | HalvexHoldsCategory : holds;
}

/* A user waypoint's subclass: six zero bytes, then twelve 0xFF. */
static void WriteSubclass(unsigned char *data)
{
    memset(data, 0, 6);
    memset(data + 6, 0xFF, 12);
}

/* text as a string of at most limit characters, leaving room in the
 * packet's 255 bytes for the NULs of the strings after it (a string cut
 * there is logged): an ident upper-cased, unprintable bytes as spaces, the
 * way the fixed-width types send it. The offset after the string's NUL. */
static int WriteString(unsigned char *data, int at, const char *text, int limit, int ident, int after)
{
    size_t n = strnlen(text, (size_t)limit);
    size_t room = (size_t)(MaxData - at - 1 - after); /* the head and six NULs always fit */
    if (n > room) {
        ErrorLog("Waypoint text cut to fit the packet: %s\n", text);
        n = room;
    }
    for (size_t i = 0; i < n; i++) {
        unsigned char c = (unsigned char)text[i];
        data[at + (int)i] = ident ? (unsigned char)(isprint(c) ? toupper(c) : ' ') : c;
    }
    data[at + (int)n] = 0;
    return at + (int)n + 1;
}

void WriteMeasure(unsigned char *data, const double *value, int set, int bit)
{
    if ((set & bit) && isfinite(*value))
        WriteField<float>(data, (float)*value);
    else
        WriteNotSet(data);
}

void ReadMeasure(const unsigned char *data, int length, int at, double *value, int32_t *set, int bit)
{
    if (at > length - 4)
        return;
    float wire = ReadField<float>(data, length, at);
    if (!isfinite(wire) || fabsf(wire) >= 1.0e24f)
        return; /* the receiver's "not set" */
    *value = wire;
    *set |= bit;
}

/* The record's value where it sets one, else the type's default. */
static int Or(const WaypointRecord *record, int bit, int32_t value, int fallback)
{
    return (record->set & bit) && value >= 0 ? value : fallback;
}

/* D110's time: receiver seconds, all ones for none. */
static uint32_t TimeOnWire(const WaypointRecord *record)
{
    if (!(record->set & HalvexHoldsTime) || !isfinite(record->time))
        return 0xFFFFFFFF;
    double seconds = round((record->time - RECEIVER_EPOCH_DATE) * 86400.0);
    return seconds >= 0 && seconds < 4294967295.0 ? (uint32_t)seconds : 0xFFFFFFFF;
}

static void WriteHead(const StringType *row, const WaypointRecord *record, unsigned char *data)
{
    memset(data, 0, (size_t)row->head);
    memcpy(data, row->lead, sizeof row->lead);
    int type = row->type;
    if (type == 108) {
        data[0] = (unsigned char)Or(record, HalvexHoldsClass, record->wptClass, 0);
        data[1] = (unsigned char)Or(record, HalvexHoldsColour, record->colour, 0xFF);
        data[2] = (unsigned char)Or(record, HalvexHoldsDisplay, record->display, 0);
    } else {
        data[1] = (unsigned char)Or(record, HalvexHoldsClass, record->wptClass, 0);
        int colour = Or(record, HalvexHoldsColour, record->colour, 0x1F) & 0x1F;
        int display = Or(record, HalvexHoldsDisplay, record->display, 0) & 0x03;
        data[2] = (unsigned char)(colour | display << 5);
    }
    WriteField<uint16_t>(data + 4, (uint16_t)Or(record, HalvexHoldsSymbol, record->symbol, 18));
    WriteSubclass(data + 6);
    WriteField<int32_t>(data + PositionAt, DegreesToSemicircles(record->latitude));
    WriteField<int32_t>(data + PositionAt + 4, DegreesToSemicircles(record->longitude));
    WriteMeasure(data + MeasuresAt, &record->altitude, record->set, HalvexHoldsAltitude);
    WriteMeasure(data + MeasuresAt + 4, &record->depth, record->set, HalvexHoldsDepth);
    WriteMeasure(data + MeasuresAt + 8, &record->proximity, record->set, HalvexHoldsProximity);
    memset(data + StateAt, ' ', 4); /* state and country */
    if (type != 108)
        WriteField<int32_t>(data + 48, -1); /* outbound link time: none */
    if (type == 110) {
        WriteMeasure(data + 52, &record->temperature, record->set, HalvexHoldsTemperature);
        WriteField<uint32_t>(data + 56, TimeOnWire(record));
        WriteField<uint16_t>(data + 60, (uint16_t)Or(record, HalvexHoldsCategory, record->category, 0));
    }
}

int EncodeStringWaypoint(int type, const WaypointRecord *record, unsigned char *data)
{
    const StringType *row = FindStringType(type);
    if (!row)
        return 0;
    WriteHead(row, record, data);
    int at = WriteString(data, row->head, record->ident, StringLimit, 1, 5);
    at = WriteString(data, at, record->comment, StringLimit, 0, 4);
    at = WriteString(data, at, record->facility, FacilitySize - 1, 0, 3);
    at = WriteString(data, at, record->city, CitySize - 1, 0, 2);
    at = WriteString(data, at, record->address, PlaceTextSize - 1, 0, 1);
    return WriteString(data, at, record->crossRoad, PlaceTextSize - 1, 0, 0);
}

static void ReadHead(int type, const unsigned char *data, int length, WaypointRecord *record)
{
    int set = HalvexHoldsClass | HalvexHoldsColour | HalvexHoldsDisplay | HalvexHoldsSymbol;
    if (type == 108) {
        record->wptClass = ReadField<uint8_t>(data, length, 0);
        record->colour = ReadField<uint8_t>(data, length, 1);
        record->display = ReadField<uint8_t>(data, length, 2);
    } else {
        record->wptClass = ReadField<uint8_t>(data, length, 1);
        record->colour = ReadField<uint8_t>(data, length, 2) & 0x1F;
        record->display = ReadField<uint8_t>(data, length, 2) >> 5 & 0x03;
    }
    record->symbol = ReadField<uint16_t>(data, length, 4);
    record->set |= length >= PositionAt ? set : 0;
    ReadMeasure(data, length, MeasuresAt, &record->altitude, &record->set, HalvexHoldsAltitude);
    ReadMeasure(data, length, MeasuresAt + 4, &record->depth, &record->set, HalvexHoldsDepth);
    ReadMeasure(data, length, MeasuresAt + 8, &record->proximity, &record->set, HalvexHoldsProximity);
    if (type != 110 || length < 62)
        return;
    ReadMeasure(data, length, 52, &record->temperature, &record->set, HalvexHoldsTemperature);
    uint32_t seconds = ReadField<uint32_t>(data, length, 56);
    if (seconds != 0xFFFFFFFF) {
        record->time = RECEIVER_EPOCH_DATE + seconds / 86400.0;
        record->set |= HalvexHoldsTime;
    }
    record->category = ReadField<uint16_t>(data, length, 60);
    record->set |= HalvexHoldsCategory;
}

int DecodeStringWaypoint(int type, const unsigned char *data, int length, WaypointRecord *record)
{
    const StringType *row = FindStringType(type);
    if (!row)
        return 0;
    record->latitude = SemicirclesToDegrees(ReadField<int32_t>(data, length, PositionAt));
    record->longitude = SemicirclesToDegrees(ReadField<int32_t>(data, length, PositionAt + 4));
    ReadHead(type, data, length, record);
    struct {
        char *field;
        size_t size;
    } strings[] = {{record->ident, sizeof record->ident},       {record->comment, sizeof record->comment},
                   {record->facility, sizeof record->facility}, {record->city, sizeof record->city},
                   {record->address, sizeof record->address},   {record->crossRoad, sizeof record->crossRoad}};
    int at = row->head;
    for (auto &string : strings) {
        ReadWireString(string.field, string.size, data, length, at);
        at = WireStringEnd(data, length, at);
    }
    return 1;
}
