// libFuzzer: short and odd packets into the record decoders: waypoints of
// every data type, route headers, track points of each type and position
// reports. The first byte picks the decoder (its low two bits) and the type
// (the rest, so that every decoder meets every type).
#include <cstdint>
#include <cstdlib>

#include "engine.h"
#include "link/link.h"
#include "link/product.h"
#include "link/pvt.h"
#include "transfer/records.h"
#include "transfer/transfer.h"
#include "transfer/waypointtypes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const int16_t waypointTypes[] = {100, 102, 103, 104, 105, 106, 107, 108, 109,
                                            110, 150, 151, 152, 154, 155, 101, -1};
    static const int16_t routeTypes[] = {200, 201, 202, 299};
    static const int trackTypes[] = {300, 301, 302};
    StartEngineOnce();
    static PortSession *session = [] {
        auto *linked = static_cast<PortSession *>(calloc(1, sizeof(PortSession)));
        linked->portHandle = INVALID_HANDLE_VALUE;
        PrepareLinkPort(linked); /* position reports come in binary mode (there is no line) */
        return linked;
    }();
    if (size == 0)
        return 0;
    uint8_t pick = data[0];
    unsigned variant = pick / 4u;
    const unsigned char *packet = data + 1;
    int length = static_cast<int>(size - 1);

    // Exactly the received bytes, so the sanitizer sees any read past them.
    unsigned char *copy = static_cast<unsigned char *>(malloc(length ? length : 1));
    for (int i = 0; i < length; i++)
        copy[i] = packet[i];
    ProtocolCaps caps = {};
    caps.protocolSlots[SlotWaypointType] = waypointTypes[variant % (sizeof waypointTypes / sizeof *waypointTypes)];
    caps.protocolSlots[SlotRouteHeaderType] = routeTypes[variant % 4];
    switch (pick % 4) {
    case 0: {
        WaypointRecord record = {};
        DecodeWaypoint(&caps, copy, length, &record);
        break;
    }
    case 1: {
        RouteRecord route;
        DecodeRouteHeader(&caps, copy, length, &route);
        break;
    }
    case 2: {
        TrackPointRecord point;
        DecodeTrackPoint(trackTypes[variant % 3], copy, length, &point);
        DecodeTrackHeader(variant % 2 ? 310 : 312, copy, length, &point);
        break;
    }
    default:
        PvtHandler(session, 55, copy, length);
        break;
    }
    free(copy);
    return 0;
}
