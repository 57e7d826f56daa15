#include "marshal.h"

#include <ctype.h>
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

void WaypointsFromHost(WaypointRecord *records, const HostWaypoint *elements, uint32_t count)
{
    for (uint32_t i = 0; i < count; i++) {
        TextFieldFromBstr(records[i].ident, sizeof records[i].ident, elements[i].ident);
        records[i].latitude = elements[i].latitude;
        records[i].longitude = elements[i].longitude;
        TextFieldFromBstr(records[i].comment, sizeof records[i].comment, elements[i].comment);
    }
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

void AllocWaypointArray(SAFEARRAY **handle, int count) { CreateHostArray(handle, sizeof(HostWaypoint), count); }

static void FillWaypointElements(HostWaypoint *elements, const WaypointRecord *records, int count)
{
    for (int i = 0; i < count; i++) {
        BstrFromText(&elements[i].ident, records[i].ident);
        elements[i].latitude = records[i].latitude;
        elements[i].longitude = records[i].longitude;
        BstrFromText(&elements[i].comment, records[i].comment);
    }
}

void BuildWaypointArray(SAFEARRAY **handle, const RouteRecord *work)
{
    AllocWaypointArray(handle, work->waypointCount);
    if (*handle)
        FillWaypointElements((HostWaypoint *)(*handle)->pvData, work->waypoints, work->waypointCount);
}

static void FillRouteElement(HostRoute *element, const RouteRecord *route)
{
    memset(element, 0, sizeof *element);
    element->waypointCount = (int16_t)route->waypointCount;
    element->number = (int16_t)route->number;
    BstrFromText(&element->comment, route->comment);
    BstrFromText(&element->ident, route->ident);
}

void BuildRouteArrays(SAFEARRAY **routes, SAFEARRAY **waypoints, const RouteList *list)
{
    CreateHostArray(routes, sizeof(HostRoute), list->routeCount);
    if (!*routes)
        return;
    AllocWaypointArray(waypoints, list->totalWaypoints);
    if (!*waypoints) {
        DestroyHostArray(routes);
        return;
    }
    HostRoute *routeElements = (HostRoute *)(*routes)->pvData;
    HostWaypoint *cursor = (HostWaypoint *)(*waypoints)->pvData;
    int32_t first = 0;
    for (int32_t i = 0; i < list->routeCount; i++) {
        const RouteRecord *route = &list->routes[i];
        FillRouteElement(&routeElements[i], route);
        routeElements[i].firstWaypoint = first;
        FillWaypointElements(cursor, route->waypoints, route->waypointCount);
        cursor += route->waypointCount;
        first += route->waypointCount;
    }
}

/* Frees the two strings of every element, then the array. */
template <typename Element> static void FreeHostArray(SAFEARRAY **handle, BSTR Element::*first, BSTR Element::*second)
{
    if (!*handle)
        return;
    Element *elements = (Element *)(*handle)->pvData;
    for (ULONG i = 0; i < (*handle)->rgsabound[0].cElements; i++) {
        SysFreeString(elements[i].*first);
        SysFreeString(elements[i].*second);
    }
    DestroyHostArray(handle);
}

void FreeWaypointArray(SAFEARRAY **handle) { FreeHostArray(handle, &HostWaypoint::ident, &HostWaypoint::comment); }

void FreeRouteArray(SAFEARRAY **handle) { FreeHostArray(handle, &HostRoute::comment, &HostRoute::ident); }
