/* The library's own waypoint, route and track records, shared by every
 * transfer. Texts are NUL-terminated and cut to their field. */
#ifndef HALVEX_RECORDS_H
#define HALVEX_RECORDS_H

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "../host/calendar.h"
#include "../platform/platform.h"

/* The classic track exports date points from 1990-01-02 (their contract
 * with hosts); receivers, and the extended exports, from their epoch two
 * days earlier. All ones is a point with no time. */
#define TRACK_EPOCH_DATE 32875.0
#define TRACK_EPOCH_SKEW_DAYS (TRACK_EPOCH_DATE - RECEIVER_EPOCH_DATE)
#define TRACK_NO_TIME_DATE (TRACK_EPOCH_DATE + 4294967295.0 / 86400.0)

enum {
    WaypointIdentSize = 52, /* the 51 characters of a D108 to D110 ident and its NUL */
    CommentSize = 128,
    RouteIdentSize = 255, /* a D202 identifier of 254 characters and its NUL */
};

enum {
    FacilitySize = 32, /* a D108 to D110 facility of 31 characters and its NUL */
    CitySize = 26,
    PlaceTextSize = 52, /* address and cross road */
    TrackNameSize = 52,
};

/* A record's fields beyond ident and position are set only where `set` has
 * their HalvexHolds... bit: a zero-filled record sends the receiver's
 * defaults, and a download sets what the receiver gave. */
struct WaypointRecord {
    char ident[WaypointIdentSize];
    double latitude; /* degrees */
    double longitude;
    char comment[CommentSize];
    int32_t repeated; /* downloads: equal to the packet before it */
    int32_t set;
    double altitude, depth, proximity, temperature; /* metres, degrees Celsius */
    double time; /* OLE Automation date, UTC */
    int32_t symbol, display, colour, category, wptClass;
    char facility[FacilitySize];
    char city[CitySize];
    char address[PlaceTextSize];
    char crossRoad[PlaceTextSize];
};

struct RouteRecord {
    int32_t repeated; /* downloads: the header equals the packet before it */
    int32_t number;
    int32_t waypointCount;
    char comment[CommentSize];
    char ident[RouteIdentSize];
    WaypointRecord *waypoints; /* waypointCount of them, or null */
};

struct RouteList {
    int32_t routeCount;
    int32_t totalWaypoints;
    RouteRecord *routes; /* routeCount of them */
};

struct TrackPointRecord {
    double time; /* OLE Automation date, counted from the library's track epoch */
    double latitude;
    double longitude;
    int32_t newTrack;
    int32_t set; /* HalvexHolds... bits of the fields below, as for waypoints */
    double altitude, depth, temperature;
    /* The point starts a track under a header of its own: its name, colour
     * and display flag (HalvexHoldsTrackName). */
    int32_t startsTrack;
    int32_t trackColour, trackDisplay;
    char trackName[TrackNameSize];
};

struct TrackList {
    int32_t pointCount;
    TrackPointRecord *points;
    int32_t headers; /* downloads: track headers taken; uploads: the tracks to send */
    TrackPointRecord heading; /* downloads: the header of the track the next point starts */
};

/* Copies text into a field of size bytes, cut to fit, always terminated. */
void CopyText(char *field, size_t size, const char *text);
/* Copies the NUL-terminated string at offset at of received data into a
 * field, never reading past length nor writing past size. */
void ReadWireString(char *field, size_t size, const unsigned char *data, int length, int at);
/* Where the next string starts after the one at offset at: past its NUL, or
 * length when the data ends inside it. */
int WireStringEnd(const unsigned char *data, int length, int at);

/* Grows an array of records by one zeroed record and counts it. Null when no
 * memory was left, with the array and its count as they were. */
template <typename Record> Record *AppendRecord(Record **array, int32_t *count)
{
    Record *grown = (Record *)realloc(*array, ((size_t)*count + 1) * sizeof *grown);
    if (!grown)
        return NULL;
    *array = grown;
    Record *record = &grown[(*count)++];
    memset(record, 0, sizeof *record);
    return record;
}

/* A new zeroed record that owns a zeroed array of count records (room for
 * one at least) and counts them; null when memory ran out. */
template <typename List, typename Record>
List *NewList(Record *List::*records, int32_t List::*counted, uint32_t count)
{
    List *list = (List *)calloc(1, sizeof(List));
    Record *array = (Record *)calloc(count ? count : 1, sizeof(Record));
    if (!list || !array) {
        free(list);
        free(array);
        return NULL;
    }
    list->*records = array;
    list->*counted = (int32_t)count;
    return list;
}

void FreeRouteRecord(RouteRecord *route); /* its waypoints and itself */
void FreeRouteList(RouteList *list);      /* every route's waypoints, then the list */
void FreeTrackList(TrackList *list);

#endif
