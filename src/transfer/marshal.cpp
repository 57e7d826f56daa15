#include "marshal.h"

#include <ctype.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>

#include "../host/strings.h"

void PadDeviceText(char *dst, const char *src, int width)
{
    memset(dst, ' ', (size_t)width);
    size_t length = strlen(src);
    if (length > (size_t)width)
        length = (size_t)width;
    for (size_t i = 0; i < length; i++) {
        unsigned char c = (unsigned char)src[i];
        dst[i] = isprint(c) ? (char)toupper(c) : ' ';
    }
}

int HostArrayElements(SAFEARRAY **reference, size_t elementSize, void **data, uint32_t *count)
{
    if (!reference)
        return 0;
    SAFEARRAY *array = *reference;
    *data = array ? array->pvData : NULL;
    *count = array ? array->rgsabound[0].cElements : 0;
    if (*count && !*data)
        return 0;
    /* Within what a host could have allocated, and what the wire can count. */
    return *count <= 0xFFFF && (uint64_t)*count * elementSize <= 0x7FFFFFFF;
}

void TextFieldFromBstr(char *field, size_t size, BSTR b)
{
    char *text = TextFromBstr(b);
    if (text)
        CopyText(field, size, text);
    free(text);
}

static void DestroyHostArray(SAFEARRAY **handle)
{
    SafeArrayDestroyData(*handle);
    SafeArrayDestroyDescriptor(*handle);
    *handle = NULL;
}

/* Every array handed to the host: one dimension from 0, zero-filled, no
 * feature flags, so the library frees the element strings itself. */
static void CreateHostArray(SAFEARRAY **handle, ULONG elementSize, int count)
{
    if (*handle)
        DestroyHostArray(handle);
    SAFEARRAY *array;
    if (SafeArrayAllocDescriptor(1, &array) != S_OK)
        return;
    array->cbElements = elementSize;
    array->rgsabound[0].lLbound = 0;
    array->rgsabound[0].cElements = (ULONG)count;
    if (SafeArrayAllocData(array) != S_OK) {
        SafeArrayDestroyDescriptor(array);
        return;
    }
    memset(array->pvData, 0, (size_t)elementSize * (size_t)count);
    *handle = array;
}

/* Text as a host string with the receiver's space padding taken off the end. */
static void BstrFromPaddedText(BSTR *slot, const char *text)
{
    size_t length = strlen(text);
    while (length && text[length - 1] == ' ')
        length--;
    char *trimmed = (char *)malloc(length + 1);
    if (!trimmed)
        return; /* the slot stays empty */
    memcpy(trimmed, text, length);
    trimmed[length] = '\0';
    BstrFromText(slot, trimmed);
    free(trimmed);
}

static void ReadClassic(WaypointRecord *records, const void *data, uint32_t count)
{
    const HostWaypoint *elements = (const HostWaypoint *)data;
    for (uint32_t i = 0; i < count; i++) {
        TextFieldFromBstr(records[i].ident, sizeof records[i].ident, elements[i].ident);
        records[i].latitude = elements[i].latitude;
        records[i].longitude = elements[i].longitude;
        TextFieldFromBstr(records[i].comment, sizeof records[i].comment, elements[i].comment);
    }
}

static void FillClassic(void *data, const WaypointRecord *records, int count, int)
{
    HostWaypoint *elements = (HostWaypoint *)data;
    for (int i = 0; i < count; i++) {
        BstrFromText(&elements[i].ident, records[i].ident);
        elements[i].latitude = records[i].latitude;
        elements[i].longitude = records[i].longitude;
        BstrFromText(&elements[i].comment, records[i].comment);
    }
}

static void FreeClassic(void *data)
{
    HostWaypoint *element = (HostWaypoint *)data;
    SysFreeString(element->ident);
    SysFreeString(element->comment);
}

/* A measure the host gives (not NaN) is set; an integer of -1 is not. */
static void MeasureFromHost(double value, double *field, int32_t *set, int bit)
{
    if (value == value) {
        *field = value;
        *set |= bit;
    }
}

static void NumberFromHost(int32_t value, int32_t *field, int32_t *set, int bit)
{
    if (value >= 0) {
        *field = value;
        *set |= bit;
    }
}

static void ReadExtended(WaypointRecord *records, const void *data, uint32_t count)
{
    const HostWaypointEx *elements = (const HostWaypointEx *)data;
    for (uint32_t i = 0; i < count; i++) {
        /* By value: the host's records are 4-byte packed on 32-bit targets. */
        HostWaypointEx e = elements[i];
        WaypointRecord *r = &records[i];
        TextFieldFromBstr(r->ident, sizeof r->ident, e.ident);
        TextFieldFromBstr(r->comment, sizeof r->comment, e.comment);
        r->latitude = e.latitude;
        r->longitude = e.longitude;
        MeasureFromHost(e.altitude, &r->altitude, &r->set, HalvexHoldsAltitude);
        MeasureFromHost(e.depth, &r->depth, &r->set, HalvexHoldsDepth);
        MeasureFromHost(e.proximity, &r->proximity, &r->set, HalvexHoldsProximity);
        MeasureFromHost(e.time, &r->time, &r->set, HalvexHoldsTime);
        MeasureFromHost(e.temperature, &r->temperature, &r->set, HalvexHoldsTemperature);
        NumberFromHost(e.symbol, &r->symbol, &r->set, HalvexHoldsSymbol);
        NumberFromHost(e.display, &r->display, &r->set, HalvexHoldsDisplay);
        NumberFromHost(e.colour, &r->colour, &r->set, HalvexHoldsColour);
        NumberFromHost(e.category, &r->category, &r->set, HalvexHoldsCategory);
        NumberFromHost(e.wptClass, &r->wptClass, &r->set, HalvexHoldsClass);
        TextFieldFromBstr(r->facility, sizeof r->facility, e.facility);
        TextFieldFromBstr(r->city, sizeof r->city, e.city);
        TextFieldFromBstr(r->address, sizeof r->address, e.address);
        TextFieldFromBstr(r->crossRoad, sizeof r->crossRoad, e.crossRoad);
    }
}

static double MeasureForHost(double value, int set, int bit) { return set & bit ? value : NAN; }
static int32_t NumberForHost(int32_t value, int set, int bit) { return set & bit ? value : -1; }

static void FillExtended(void *data, const WaypointRecord *records, int count, int holds)
{
    HostWaypointEx *elements = (HostWaypointEx *)data;
    for (int i = 0; i < count; i++) {
        const WaypointRecord *r = &records[i];
        HostWaypointEx e;
        memset(&e, 0, sizeof e);
        e.latitude = r->latitude;
        e.longitude = r->longitude;
        e.altitude = MeasureForHost(r->altitude, r->set, HalvexHoldsAltitude);
        e.depth = MeasureForHost(r->depth, r->set, HalvexHoldsDepth);
        e.proximity = MeasureForHost(r->proximity, r->set, HalvexHoldsProximity);
        e.time = MeasureForHost(r->time, r->set, HalvexHoldsTime);
        e.temperature = MeasureForHost(r->temperature, r->set, HalvexHoldsTemperature);
        e.symbol = NumberForHost(r->symbol, r->set, HalvexHoldsSymbol);
        e.display = NumberForHost(r->display, r->set, HalvexHoldsDisplay);
        e.colour = NumberForHost(r->colour, r->set, HalvexHoldsColour);
        e.category = NumberForHost(r->category, r->set, HalvexHoldsCategory);
        e.wptClass = NumberForHost(r->wptClass, r->set, HalvexHoldsClass);
        e.given = holds;
        BstrFromPaddedText(&e.ident, r->ident);
        BstrFromPaddedText(&e.comment, r->comment);
        BstrFromText(&e.facility, r->facility);
        BstrFromText(&e.city, r->city);
        BstrFromText(&e.address, r->address);
        BstrFromText(&e.crossRoad, r->crossRoad);
        elements[i] = e;
    }
}

static void FreeExtended(void *data)
{
    HostWaypointEx *element = (HostWaypointEx *)data;
    BSTR strings[] = {element->ident, element->comment, element->facility,
                      element->city,  element->address, element->crossRoad};
    for (BSTR b : strings)
        SysFreeString(b);
}

const HostWaypointForm ClassicWaypoints = {sizeof(HostWaypoint), ReadClassic, FillClassic, FreeClassic};
const HostWaypointForm ExtendedWaypoints = {sizeof(HostWaypointEx), ReadExtended, FillExtended, FreeExtended};

void BuildWaypointArray(SAFEARRAY **handle, const RouteRecord *work, const HostWaypointForm *form, int holds)
{
    CreateHostArray(handle, (ULONG)form->elementSize, work->waypointCount);
    if (*handle)
        form->fill((*handle)->pvData, work->waypoints, work->waypointCount, holds);
}

static void FillRouteElement(HostRoute *element, const RouteRecord *route)
{
    memset(element, 0, sizeof *element);
    element->waypointCount = (int16_t)route->waypointCount;
    element->number = (int16_t)route->number;
    BstrFromText(&element->comment, route->comment);
    BstrFromText(&element->ident, route->ident);
}

void BuildRouteArrays(SAFEARRAY **routes, SAFEARRAY **waypoints, const RouteList *list, const HostWaypointForm *form,
                      int holds)
{
    CreateHostArray(routes, sizeof(HostRoute), list->routeCount);
    if (!*routes)
        return;
    CreateHostArray(waypoints, (ULONG)form->elementSize, list->totalWaypoints);
    if (!*waypoints) {
        DestroyHostArray(routes);
        return;
    }
    HostRoute *routeElements = (HostRoute *)(*routes)->pvData;
    unsigned char *cursor = (unsigned char *)(*waypoints)->pvData;
    int32_t first = 0;
    for (int32_t i = 0; i < list->routeCount; i++) {
        const RouteRecord *route = &list->routes[i];
        FillRouteElement(&routeElements[i], route);
        routeElements[i].firstWaypoint = first;
        form->fill(cursor, route->waypoints, route->waypointCount, holds);
        cursor += form->elementSize * (size_t)route->waypointCount;
        first += route->waypointCount;
    }
}

void FreeWaypointArray(SAFEARRAY **handle, const HostWaypointForm *form)
{
    if (!*handle)
        return;
    unsigned char *elements = (unsigned char *)(*handle)->pvData;
    for (ULONG i = 0; i < (*handle)->rgsabound[0].cElements; i++)
        form->freeStrings(elements + i * form->elementSize);
    DestroyHostArray(handle);
}

void FreeRouteArray(SAFEARRAY **handle)
{
    if (!*handle)
        return;
    HostRoute *elements = (HostRoute *)(*handle)->pvData;
    for (ULONG i = 0; i < (*handle)->rgsabound[0].cElements; i++) {
        SysFreeString(elements[i].comment);
        SysFreeString(elements[i].ident);
    }
    DestroyHostArray(handle);
}

void TrackPointFromHost(TrackPointRecord *record, const HostTrackPoint *element)
{
    record->time = element->time;
    record->latitude = element->latitude;
    record->longitude = element->longitude;
    record->newTrack = element->newTrack != 0;
    record->startsTrack = record->newTrack;
}

void TrackPointFromHostEx(TrackPointRecord *record, const HostTrackPointEx *element)
{
    HostTrackPointEx e = *element; /* by value: 4-byte packed on 32-bit targets */
    /* No time is the receiver's all ones, one second past its last. */
    record->time = e.time == e.time ? e.time + TRACK_EPOCH_SKEW_DAYS : TRACK_NO_TIME_DATE;
    record->latitude = e.latitude;
    record->longitude = e.longitude;
    record->newTrack = e.newTrack != 0 || e.trackStart != 0;
    record->startsTrack = e.trackStart != 0;
    MeasureFromHost(e.altitude, &record->altitude, &record->set, HalvexHoldsAltitude);
    MeasureFromHost(e.depth, &record->depth, &record->set, HalvexHoldsDepth);
    MeasureFromHost(e.temperature, &record->temperature, &record->set, HalvexHoldsTemperature);
    if (e.trackStart) {
        record->set |= HalvexHoldsTrackName;
        record->trackColour = e.trackColour;
        record->trackDisplay = e.trackDisplay;
        TextFieldFromBstr(record->trackName, sizeof record->trackName, e.trackName);
    }
}

void FillTrackPoint(HostTrackPoint *element, const TrackPointRecord *record)
{
    memset(element, 0, sizeof *element);
    element->time = record->time;
    element->latitude = record->latitude;
    element->longitude = record->longitude;
    element->newTrack = record->newTrack != 0;
}

void FillTrackPointEx(HostTrackPointEx *element, const TrackPointRecord *record, int holds)
{
    HostTrackPointEx e;
    memset(&e, 0, sizeof e);
    e.time = record->set & HalvexHoldsTime ? record->time - TRACK_EPOCH_SKEW_DAYS : NAN;
    e.latitude = record->latitude;
    e.longitude = record->longitude;
    e.altitude = MeasureForHost(record->altitude, record->set, HalvexHoldsAltitude);
    e.depth = MeasureForHost(record->depth, record->set, HalvexHoldsDepth);
    e.temperature = MeasureForHost(record->temperature, record->set, HalvexHoldsTemperature);
    e.newTrack = record->newTrack != 0;
    e.trackStart = record->startsTrack != 0;
    int named = record->startsTrack && (record->set & HalvexHoldsTrackName);
    e.trackColour = named ? record->trackColour : -1;
    e.trackDisplay = named ? record->trackDisplay : -1;
    e.given = holds;
    BstrFromText(&e.trackName, named ? record->trackName : "");
    *element = e;
}
