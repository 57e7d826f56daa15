// The library's host records (BSTR texts, SAFEARRAYs of records, OLE
// Automation dates) to and from the tool's GPX data.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "terminal/errors.h"
#include "gpx/gpx.h"
#include "halvex32.h"

namespace halvex {

std::string Text(BSTR b);
// An OLE Automation date (days since 1899-12-30) as seconds since 1970.
double UnixFromOle(double date);
BSTR Bstr(const std::string &text);

std::vector<GpxPoint> ReadWaypoints(const HostWaypointEx *elements, std::size_t count);
// The routes of a download, each with its own run of the waypoint array.
std::vector<GpxRoute> ReadRoutes(const SAFEARRAY *routes, const SAFEARRAY *waypoints);
GpxTrackPoint ReadTrackPoint(const HostTrackPointEx &point);

void Fill(HostWaypointEx &element, const GpxPoint &point);
void Fill(HostTrackPointEx &element, const GpxTrackPoint &point);

// Host arrays for uploads, freed with their strings.
void FreeStrings(HostWaypointEx &w);
void FreeStrings(HostRoute &r);
void FreeStrings(HostTrackPointEx &p);

template <typename Element> struct HostArray {
    SAFEARRAY *array = nullptr;
    explicit HostArray(std::size_t count)
    {
        SafeArrayAllocDescriptor(1, &array);
        array->cbElements = sizeof(Element);
        array->rgsabound[0].cElements = static_cast<ULONG>(count);
        if (SafeArrayAllocData(array) != S_OK) {
            SafeArrayDestroyDescriptor(array);
            throw Failure(ExitFailure, "out of memory");
        }
    }
    ~HostArray()
    {
        for (ULONG i = 0; i < array->rgsabound[0].cElements; ++i)
            FreeStrings(Elements()[i]);
        SafeArrayDestroyData(array);
        SafeArrayDestroyDescriptor(array);
    }
    HostArray(const HostArray &) = delete;
    HostArray &operator=(const HostArray &) = delete;
    Element *Elements() { return static_cast<Element *>(array->pvData); }
};

} // namespace halvex
