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
/* Copies a host string into a field, cut to fit; a null string leaves it. */
void TextFieldFromBstr(char *field, size_t size, BSTR b);

void AllocWaypointArray(SAFEARRAY **handle, int count);
void BuildWaypointArray(SAFEARRAY **handle, const RouteRecord *work);
void BuildRouteArrays(SAFEARRAY **routes, SAFEARRAY **waypoints, const RouteList *list);
void FreeWaypointArray(SAFEARRAY **handle);
void FreeRouteArray(SAFEARRAY **handle);

#endif
