// What a host does: build arrays of host records with their BSTRs, and
// read back what the library hands to its callbacks.
#ifndef HALVEX_TEST_HOST_H
#define HALVEX_TEST_HOST_H

#include <string>
#include <vector>

#include "halvex32.h"

// A wide literal as OLECHAR is on each platform (wchar_t on Windows).
#ifdef _WIN32
#define OLE(text) L##text
#else
#define OLE(text) u##text
#endif

inline BSTR Bstr(const std::string &text)
{
    std::basic_string<OLECHAR> units(text.begin(), text.end());
    return SysAllocStringLen(units.data(), static_cast<UINT>(units.size()));
}

// A string as NMEA sends take it: one byte a character.
inline BSTR ByteBstr(const std::string &text)
{
    return SysAllocStringByteLen(text.data(), static_cast<UINT>(text.size()));
}

inline std::string Text(BSTR b)
{
    std::string out;
    for (UINT i = 0; i < SysStringLen(b); i++)
        out += static_cast<char>(b[i]);
    return out;
}

struct Waypoint {
    std::string ident;
    double latitude, longitude;
    std::string comment;
};

// A host array of records; frees its strings and itself.
template <typename Element> class HostArray {
public:
    explicit HostArray(size_t count)
    {
        SafeArrayAllocDescriptor(1, &array);
        array->fFeatures = 0; // the strings are freed here, element by element
        array->cbElements = sizeof(Element);
        array->rgsabound[0].cElements = static_cast<ULONG>(count);
        SafeArrayAllocData(array);
    }
    // Each item filled into its element.
    template <typename Item> explicit HostArray(const std::vector<Item> &items) : HostArray(items.size())
    {
        for (size_t i = 0; i < items.size(); i++)
            Fill((*this)[i], items[i]);
    }
    ~HostArray()
    {
        for (size_t i = 0; i < size(); i++)
            FreeStrings((*this)[i]);
        SafeArrayDestroyData(array);
        SafeArrayDestroyDescriptor(array);
    }
    HostArray(const HostArray &) = delete;
    HostArray &operator=(const HostArray &) = delete;
    Element &operator[](size_t i) { return static_cast<Element *>(array->pvData)[i]; }
    size_t size() const { return array->rgsabound[0].cElements; }
    SAFEARRAY *array = nullptr;

private:
    static void FreeStrings(HostWaypoint &w)
    {
        SysFreeString(w.ident);
        SysFreeString(w.comment);
    }
    static void FreeStrings(HostRoute &r)
    {
        SysFreeString(r.comment);
        SysFreeString(r.ident);
    }
    static void FreeStrings(HostTrackPoint &) {}
    static void FreeStrings(HostWaypointEx &w)
    {
        for (BSTR b : {w.ident, w.comment, w.facility, w.city, w.address, w.crossRoad})
            SysFreeString(b);
    }
    static void FreeStrings(HostTrackPointEx &p) { SysFreeString(p.trackName); }
    static void FreeStrings(BSTR &b) { SysFreeString(b); }
    static void FreeStrings(NmeaTableEntry &e)
    {
        SysFreeString(e.talker);
        SysFreeString(e.sentenceId);
        SysFreeString(e.sentence);
    }
};

inline void Fill(HostWaypoint &element, const Waypoint &w)
{
    element.ident = Bstr(w.ident);
    element.latitude = w.latitude;
    element.longitude = w.longitude;
    element.comment = Bstr(w.comment);
}

inline std::vector<Waypoint> Read(SAFEARRAY *array)
{
    std::vector<Waypoint> out;
    if (!array)
        return out;
    auto *elements = static_cast<HostWaypoint *>(array->pvData);
    for (ULONG i = 0; i < array->rgsabound[0].cElements; i++)
        out.push_back({Text(elements[i].ident), elements[i].latitude, elements[i].longitude, Text(elements[i].comment)});
    return out;
}

#endif
