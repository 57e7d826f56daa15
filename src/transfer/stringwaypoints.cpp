/* The waypoint types of later receivers, D108, D109 and D110: a fixed head
 * (class, colour, symbol, position, altitude, ...) followed by six strings,
 * ident and comment first. Only ident, comment and position have a place in
 * the library's records: the rest is sent with the values a receiver takes
 * for "not set" and skipped on receipt. */
#include <ctype.h>
#include <string.h>

#include "../link/link.h"
#include "waypointtypes.h"

enum { StringLimit = 51, PositionAt = 24, StateAt = 44 };

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

/* A user waypoint's subclass: six zero bytes, then twelve 0xFF. */
static void WriteSubclass(unsigned char *data)
{
    memset(data, 0, 6);
    memset(data + 6, 0xFF, 12);
}

/* text as a string of at most StringLimit characters, as the receiver
 * keeps it: an ident upper-cased, unprintable bytes as spaces, the way the
 * fixed-width types send it. The offset after the string's NUL. */
static int WriteString(unsigned char *data, int at, const char *text, int ident)
{
    size_t n = strnlen(text, StringLimit);
    for (size_t i = 0; i < n; i++) {
        unsigned char c = (unsigned char)text[i];
        data[at + (int)i] = ident ? (unsigned char)(isprint(c) ? toupper(c) : ' ') : c;
    }
    data[at + (int)n] = 0;
    return at + (int)n + 1;
}

int EncodeStringWaypoint(int type, const WaypointRecord *record, unsigned char *data)
{
    const StringType *row = FindStringType(type);
    if (!row)
        return 0;
    memset(data, 0, (size_t)row->head);
    memcpy(data, row->lead, sizeof row->lead);
    WriteField<uint16_t>(data + 4, 18); /* symbol: a plain waypoint */
    WriteSubclass(data + 6);
    WriteField<int32_t>(data + PositionAt, DegreesToSemicircles(record->latitude));
    WriteField<int32_t>(data + PositionAt + 4, DegreesToSemicircles(record->longitude));
    WriteNotSet(data + 32); /* altitude */
    WriteNotSet(data + 36); /* depth */
    WriteNotSet(data + 40); /* proximity distance */
    memset(data + StateAt, ' ', 4); /* state and country */
    if (type != 108)
        WriteField<int32_t>(data + 48, -1); /* outbound link time: none */
    if (type == 110) {
        WriteNotSet(data + 52); /* temperature */
        WriteField<int32_t>(data + 56, -1); /* time: none */
    }
    int at = WriteString(data, row->head, record->ident, 1);
    at = WriteString(data, at, record->comment, 0);
    memset(data + at, 0, 4); /* facility, city, address, cross road */
    return at + 4;
}

int DecodeStringWaypoint(int type, const unsigned char *data, int length, WaypointRecord *record)
{
    const StringType *row = FindStringType(type);
    if (!row)
        return 0;
    record->latitude = SemicirclesToDegrees(ReadField<int32_t>(data, length, PositionAt));
    record->longitude = SemicirclesToDegrees(ReadField<int32_t>(data, length, PositionAt + 4));
    ReadWireString(record->ident, sizeof record->ident, data, length, row->head);
    ReadWireString(record->comment, sizeof record->comment, data, length, WireStringEnd(data, length, row->head));
    return 1;
}
