#include "waypointtypes.h"

#include <math.h>
#include <stdlib.h>
#include <string.h>

#include "../errlog/lasterror.h"
#include "../link/link.h"
#include "../link/product.h"
#include "marshal.h"

enum Layout { Core, D150, D105, D106 };

/* Runs of space filler; everything else not written is zero. */
struct Spaces {
    int at, count;
};

struct WaypointType {
    int type;
    int size; /* fixed size; strings of D105 and D106 add to it */
    Layout layout;
    int decodes;
    Spaces spaces[4];
};

static const WaypointType waypointTypes[] = {
    {100, 58, Core, 1, {}},
    {102, 66, Core, 1, {}},
    {103, 60, Core, 1, {}},
    {104, 67, Core, 1, {}},
    {105, 13, D105, 1, {}},
    {106, 28, D106, 1, {{1, 13}}},
    {107, 65, Core, 1, {}},
    {150, 117, D150, 1, {{6, 2}, {21, 24}, {45, 2}, {47, 30}}},
    /* D151 is sent with the core fields where the core decoder finds them. */
    {151, 126, Core, 1, {{62, 30}, {92, 24}, {116, 2}, {122, 2}}},
    {152, 126, Core, 1, {{62, 30}, {92, 24}, {116, 2}, {122, 2}}},
    {154, 130, Core, 1, {{62, 30}, {92, 24}, {116, 2}, {122, 2}}},
    {155, 131, Core, 1, {{62, 30}, {92, 24}, {116, 2}, {122, 2}}},
};

enum { IdentWidth = 6, CommentWidth = 40, MaxData = 255, D103SymbolAt = 58 };

/* Where each layout keeps its fields. */
struct Offsets {
    int ident, latitude, longitude, comment;
};
static const Offsets coreOffsets = {0, 6, 10, 18};
static const Offsets d150Offsets = {0, 9, 13, 77};

double SemicirclesToDegrees(int32_t semicircles) { return semicircles * 8.381903171539307e-08; }

int32_t DegreesToSemicircles(double degrees)
{
    double semicircles = degrees * 11930464.711111112;
    if (!(fabs(semicircles) < 9.0e18))
        return 0; /* NaN or beyond any position: nothing sensible to send */
    return (int32_t)(uint32_t)(int64_t)semicircles; /* truncated, low 32 bits */
}

void WriteNotSet(unsigned char *data) { WriteField<float>(data, 1.0e25f); }

int WaypointDataType(const ProtocolCaps *caps) { return caps ? caps->protocolSlots[SlotWaypointType] : -1; }

static const WaypointType *FindType(int type)
{
    for (const WaypointType &row : waypointTypes)
        if (row.type == type)
            return &row;
    return NULL;
}

/* A fixed-width field as received, trailing spaces kept, cut to what arrived. */
static void ReadFixedText(char *field, size_t size, const unsigned char *data, int length, int at, int width)
{
    int available = length - at < width ? length - at : width;
    if (available < 0)
        available = 0;
    if ((size_t)available >= size)
        available = (int)size - 1;
    memcpy(field, data + at, (size_t)available);
    field[available] = '\0';
}

void DecodeWaypoint(const ProtocolCaps *caps, const unsigned char *data, int length, WaypointRecord *record)
{
    if (DecodeStringWaypoint(WaypointDataType(caps), data, length, record))
        return;
    const WaypointType *row = FindType(WaypointDataType(caps));
    if (!row || !row->decodes)
        return;
    if (row->layout == D105 || row->layout == D106) {
        int base = row->layout == D105 ? 0 : 14;
        record->latitude = SemicirclesToDegrees(ReadField<int32_t>(data, length, base));
        record->longitude = SemicirclesToDegrees(ReadField<int32_t>(data, length, base + 4));
        ReadWireString(record->ident, sizeof record->ident, data, length, row->layout == D105 ? 12 : 26);
        return;
    }
    const Offsets &at = row->layout == D150 ? d150Offsets : coreOffsets;
    ReadFixedText(record->ident, sizeof record->ident, data, length, at.ident, IdentWidth);
    record->latitude = SemicirclesToDegrees(ReadField<int32_t>(data, length, at.latitude));
    record->longitude = SemicirclesToDegrees(ReadField<int32_t>(data, length, at.longitude));
    ReadFixedText(record->comment, sizeof record->comment, data, length, at.comment, CommentWidth);
    if (row->type == 103 && length >= row->size) {
        record->symbol = data[D103SymbolAt];
        record->display = data[D103SymbolAt + 1];
        record->set |= HalvexHoldsSymbol | HalvexHoldsDisplay;
    }
}

int WaypointHolds(int type)
{
    const WaypointType *row = FindType(type);
    if (!row)
        return StringWaypointHolds(type);
    if (row->layout == D105 || row->layout == D106)
        return 0;
    return type == 103 ? HalvexHoldsComment | HalvexHoldsSymbol | HalvexHoldsDisplay : HalvexHoldsComment;
}

void WaypointTextWidths(int type, int *ident, int *comment)
{
    int limit = StringWaypointLimit(type);
    const WaypointType *row = FindType(type);
    if (limit || !row) {
        *ident = limit;
        *comment = limit;
        return;
    }
    /* D105 and D106 send the ident as a string, as long as our records keep
     * it, and have no comment. */
    int named = row->layout == D105 || row->layout == D106;
    *ident = named ? WaypointIdentSize - 1 : IdentWidth;
    *comment = named ? 0 : CommentWidth;
}

int EncodeWaypointData(int type, const WaypointRecord *record, unsigned char *data)
{
    int length = EncodeStringWaypoint(type, record, data);
    if (length)
        return length;
    const WaypointType *row = FindType(type);
    if (!row)
        return 0;
    memset(data, 0, MaxData);
    for (const Spaces &run : row->spaces)
        memset(data + run.at, ' ', (size_t)run.count);
    if (row->layout == D105 || row->layout == D106) {
        /* The identifier goes as it stands, cut so the packet fits 255 bytes. */
        int base = row->layout == D105 ? 0 : 14;
        int at = row->layout == D105 ? 12 : 26;
        size_t n = strlen(record->ident);
        if (n > (size_t)(MaxData - row->size))
            n = (size_t)(MaxData - row->size);
        WriteField<int32_t>(data + base, DegreesToSemicircles(record->latitude));
        WriteField<int32_t>(data + base + 4, DegreesToSemicircles(record->longitude));
        memcpy(data + at, record->ident, n);
        return row->size + (int)n;
    }
    const Offsets &at = row->layout == D150 ? d150Offsets : coreOffsets;
    PadDeviceText((char *)data + at.ident, record->ident, IdentWidth);
    WriteField<int32_t>(data + at.latitude, DegreesToSemicircles(record->latitude));
    WriteField<int32_t>(data + at.longitude, DegreesToSemicircles(record->longitude));
    PadDeviceText((char *)data + at.comment, record->comment, CommentWidth);
    if (type == 103) {
        data[D103SymbolAt] = (record->set & HalvexHoldsSymbol) && record->symbol >= 0 ? (unsigned char)record->symbol : 0;
        data[D103SymbolAt + 1] =
            (record->set & HalvexHoldsDisplay) && record->display >= 0 ? (unsigned char)record->display : 0;
    }
    return row->size;
}

int EncodeWaypoint(PortSession *session, const WaypointRecord *record, int packetId)
{
    unsigned char data[MaxData];
    int length = EncodeWaypointData(WaypointDataType(ReceiverCaps(session)), record, data);
    if (!length)
        SetHalvexError(ERROR_NOT_SUPPORTED);
    return length && SendPacket(session, packetId, data, length);
}
