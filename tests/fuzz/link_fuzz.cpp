// libFuzzer: arbitrary bytes into the frame decoder and everything behind it.
// The first byte picks the operation under way, started through its export
// as a host starts it, so that every objective has the record it works on;
// the second picks the receiver's waypoint and route header types.
#include <cstdint>
#include <cstdlib>

#include "engine.h"
#include "link/fields.h"
#include "link/link.h"
#include "link/product.h"
#include "link/state.h"
#include "port/port.h"
#include "port/registry.h"

namespace {

void HALVEX_CALL OnProduct(int32_t, int32_t, HostProductInfo *) {}
void HALVEX_CALL OnUpload(int32_t, int32_t) {}
void HALVEX_CALL OnWaypoints(int32_t, int32_t, SAFEARRAY **) {}
void HALVEX_CALL OnRoutes(int32_t, int32_t, SAFEARRAY **, SAFEARRAY **) {}
int16_t HALVEX_CALL OnPoint(int32_t, int32_t, HostTrackPoint *) { return -1; }

HalvexProductCallback product = OnProduct;
HalvexUploadCallback upload = OnUpload;
HalvexWaypointCallback waypoints = OnWaypoints;
HalvexRouteCallback routes = OnRoutes;
HalvexTrackCallback points = OnPoint;

template <typename Element, int Count> struct Array {
    Element elements[Count] = {};
    SAFEARRAY array = {};
    SAFEARRAY *handle = &array;
    Array()
    {
        array.cDims = 1;
        array.cbElements = sizeof(Element);
        array.pvData = elements;
        array.rgsabound[0].cElements = Count;
    }
};

void Identified(PortSession *session, uint8_t types)
{
    static const uint16_t waypointTypes[] = {100, 103, 105, 108, 109, 110, 150, 155};
    const uint16_t numbers[] = {100, waypointTypes[types % 8], 201, static_cast<uint16_t>(200 + (types >> 3) % 3), 300};
    const char tags[] = {'A', 'D', 'A', 'D', 'A'};
    unsigned char array[3 * 5];
    for (int i = 0; i < 5; i++) {
        array[3 * i] = static_cast<unsigned char>(tags[i]);
        WriteField<uint16_t>(array + 3 * i + 1, numbers[i]);
    }
    PrepareLinkPort(session); /* binary mode takes the line (there is none) */
    LinkOf(session)->product.caps = ParseProtocolArray(array, sizeof array);
    LinkOf(session)->objective = ObjectiveReady;
}

void Start(PortSession *session, uint8_t which)
{
    Array<HostWaypoint, 3> places;
    Array<HostRoute, 2> routeList;
    routeList.elements[0].waypointCount = 2;
    routeList.elements[1].firstWaypoint = 2;
    routeList.elements[1].waypointCount = 1;
    Array<HostTrackPoint, 3> track;
    switch (which % 8) {
    case 0: HalvexGetProductInfoInit(session, &product); break;
    case 1: HalvexUploadWayPtInit(session, &places.handle, &upload); break;
    case 2: HalvexDownloadWayPtInit(session, &waypoints); break;
    case 3: HalvexUploadRouteInit(session, &routeList.handle, &places.handle, &upload); break;
    case 4: HalvexDownloadRouteInit(session, &routes); break;
    case 5: HalvexUploadTrackInit(session, &track.handle, &upload); break;
    case 6: HalvexDownloadTrackInit(session, &points); break;
    default: break; /* ready, nothing under way */
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    StartEngineOnce();
    if (size < 2)
        return 0;
    PortSession *session = static_cast<PortSession *>(calloc(1, sizeof(PortSession)));
    session->portHandle = INVALID_HANDLE_VALUE;
    AddLiveSession(session);
    Identified(session, data[1]);
    Start(session, data[0]);
    LinkReceive(session, data + 2, static_cast<int>(size - 2));
    ClosePortSession(session);
    ReleaseClosedSessions();
    return 0;
}
