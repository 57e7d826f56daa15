/* The library's own waypoint, route and track records, shared by every
 * transfer. Texts are NUL-terminated and cut to their field. */
#ifndef HALVEX_RECORDS_H
#define HALVEX_RECORDS_H

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

enum {
    WaypointIdentSize = 52, /* the 51 characters of a D108 to D110 ident and its NUL */
    CommentSize = 128,
    RouteIdentSize = 255, /* a D202 identifier of 254 characters and its NUL */
};

struct WaypointRecord {
    char ident[WaypointIdentSize];
    double latitude; /* degrees */
    double longitude;
    char comment[CommentSize];
    int32_t repeated; /* downloads: equal to the packet before it */
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
    int32_t currentRoute; /* the route being uploaded */
    int32_t totalWaypoints;
    RouteRecord *routes; /* routeCount of them */
    int32_t links;       /* downloads: route links taken (they carry nothing we keep) */
};

struct TrackPointRecord {
    double time; /* OLE Automation date */
    double latitude;
    double longitude;
    int32_t newTrack;
};

struct TrackList {
    int32_t pointCount;
    TrackPointRecord *points;
    /* Downloads: a track header came, so the next point starts a track.
     * Uploads: the header of the next point has gone. */
    int32_t startsTrack;
    int32_t headers;    /* downloads: track headers taken; uploads: the tracks to send */
    int32_t tracksSent; /* uploads: headers sent so far */
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
