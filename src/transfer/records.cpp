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
