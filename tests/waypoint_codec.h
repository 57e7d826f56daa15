// Waypoint records in and out of the library's converters, for the tests
// that pin them byte for byte.
#ifndef HALVEX_TEST_WAYPOINT_CODEC_H
#define HALVEX_TEST_WAYPOINT_CODEC_H

#include <vector>

#include "transfer/records.h"
#include "transfer/waypointtypes.h"

using Bytes = std::vector<unsigned char>;

inline WaypointRecord Record(const char *ident, double latitude, double longitude, const char *comment)
{
    WaypointRecord record{};
    CopyText(record.ident, sizeof record.ident, ident);
    record.latitude = latitude;
    record.longitude = longitude;
    CopyText(record.comment, sizeof record.comment, comment);
    return record;
}

inline TrackPointRecord TrackPoint(double time, double latitude, double longitude, int newTrack)
{
    TrackPointRecord point{};
    point.time = time;
    point.latitude = latitude;
    point.longitude = longitude;
    point.newTrack = newTrack;
    return point;
}

inline Bytes Encoded(int type, const WaypointRecord &record)
{
    unsigned char data[255];
    int length = EncodeWaypointData(type, &record, data);
    return Bytes(data, data + length);
}

#endif
