/* Host arrays (SAFEARRAYs of host records) in and out, and the fixed-width
 * text form of the receiver. */
#ifndef HALVEX_MARSHAL_H
#define HALVEX_MARSHAL_H

#include "../platform/platform.h"
#include "records.h"

/* src upper-cased, unprintable bytes as spaces, space-padded or cut to
 * exactly width bytes, no NUL. */
void PadDeviceText(char *dst, const char *src, int width);

/* The elements of a host array, checked before anything is read: 1 with the
 * data and count, 0 when the array cannot be read safely (a null reference,
 * data missing for counted elements, a size that overflows). A null array
 * is empty. */
int HostArrayElements(SAFEARRAY **reference, size_t elementSize, void **data, uint32_t *count);
/* A new list (NewList) with a zeroed record for each element of a host
 * array, and the elements; null when the array cannot be read safely or
 * memory ran out. */
template <typename Element, typename List, typename Record>
List *ListForHostArray(SAFEARRAY **array, const Element **elements, Record *List::*records, int32_t List::*counted)
{
    void *data;
    uint32_t count;
    if (!HostArrayElements(array, sizeof(Element), &data, &count))
        return NULL;
    *elements = (const Element *)data;
    return NewList(records, counted, count);
}
/* Copies a host string into a field, cut to fit; a null string leaves it. */
void TextFieldFromBstr(char *field, size_t size, BSTR b);
/* A form of the host's waypoint record: the classic HostWaypoint or the
 * extended HostWaypointEx. */
struct HostWaypointForm {
    size_t elementSize;
    /* The host's elements as the library's records, texts cut to their fields. */
    void (*read)(WaypointRecord *records, const void *elements, uint32_t count);
    /* Elements (zero-filled) from records; holds: what the receiver's type holds. */
    void (*fill)(void *elements, const WaypointRecord *records, int count, int holds);
    void (*freeStrings)(void *element);
};
extern const HostWaypointForm ClassicWaypoints;
extern const HostWaypointForm ExtendedWaypoints;


void BuildWaypointArray(SAFEARRAY **handle, const RouteRecord *work, const HostWaypointForm *form, int holds);
void BuildRouteArrays(SAFEARRAY **routes, SAFEARRAY **waypoints, const RouteList *list, const HostWaypointForm *form,
                      int holds);
void FreeWaypointArray(SAFEARRAY **handle, const HostWaypointForm *form);
void FreeRouteArray(SAFEARRAY **handle);

/* Track points both ways; holds: what the receiver's track types hold. */
void TrackPointFromHost(TrackPointRecord *record, const HostTrackPoint *element);
void TrackPointFromHostEx(TrackPointRecord *record, const HostTrackPointEx *element);
void FillTrackPoint(HostTrackPoint *element, const TrackPointRecord *record);
/* The element's string is the caller's to free. */
void FillTrackPointEx(HostTrackPointEx *element, const TrackPointRecord *record, int holds);

#endif
