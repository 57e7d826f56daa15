#include "records.h"

#include <stdlib.h>
#include <string.h>

void CopyText(char *field, size_t size, const char *text)
{
    size_t length = strlen(text);
    if (length >= size)
        length = size - 1;
    memcpy(field, text, length);
    field[length] = '\0';
}

void ReadWireString(char *field, size_t size, const unsigned char *data, int length, int at)
{
    size_t n = 0;
    if (at >= length) {
        field[0] = '\0';
        return;
    }
    while (at + (int)n < length && data[at + n] && n + 1 < size)
        n++;
    memcpy(field, data + at, n);
    field[n] = '\0';
}

int WireStringEnd(const unsigned char *data, int length, int at)
{
    while (at < length && data[at])
        at++;
    return at < length ? at + 1 : length;
}

void FreeRouteRecord(RouteRecord *route)
{
    if (!route)
        return;
    free(route->waypoints);
    free(route);
}

void FreeRouteList(RouteList *list)
{
    if (!list)
        return;
    for (int32_t i = 0; i < list->routeCount; i++)
        free(list->routes[i].waypoints);
    free(list->routes);
    free(list);
}

void FreeTrackList(TrackList *list)
{
    if (!list)
        return;
    free(list->points);
    free(list);
}
