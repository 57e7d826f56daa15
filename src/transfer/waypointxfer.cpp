/* Waypoint upload and download. */
#include <stdlib.h>
#include <string.h>

#include "../errlog/errlog.h"
#include "../link/link.h"
#include "../port/registry.h"
#include "marshal.h"
#include "transfer.h"
#include "waypointtypes.h"

/* The host's waypoints as the library's records; null when the array cannot
 * be read safely or memory ran out. */
static RouteRecord *ReadHostWaypoints(SAFEARRAY **array)
{
    const HostWaypoint *elements;
    RouteRecord *work = ListForHostArray(array, &elements, &RouteRecord::waypoints, &RouteRecord::waypointCount);
    if (work)
        WaypointsFromHost(work->waypoints, elements, (uint32_t)work->waypointCount);
    return work;
}

static void ReleaseRouteRecord(PortSession *session) { FreeRouteRecord((RouteRecord *)session->transferData); }

static const ObjectiveEntry WaypointUploadEntry = {WaypointUploadStep, ReleaseRouteRecord};
static const ObjectiveEntry WaypointDownloadEntry = {WaypointDownloadStep, ReleaseRouteRecord};

static const char WaypointUploadFailed[] = "Way point upload request failed\n";

static int SendWaypoint(PortSession *session, int k)
{
    RouteRecord *work = (RouteRecord *)session->transferData;
    return EncodeWaypoint(session, &work->waypoints[k], PacketWaypoint);
}

static void WaypointUploadAcked(PortSession *session)
{
    SendNextRecord(session, ((RouteRecord *)session->transferData)->waypointCount, SendWaypoint,
                   CommandTransferWaypoints, WaypointUploadFailed);
}

void WaypointUploadStep(PortSession *session, int code, const unsigned char *data, int length)
{
    (void)data;
    (void)length;
    UploadStep(session, code, WaypointUploadAcked, WaypointUploadFailed);
}

static void CallDownloadCallback(PortSession *session, SAFEARRAY **array)
{
    HalvexWaypointCallback callback = (HalvexWaypointCallback)session->hostCallback;
    if (callback)
        callback(0, HalvexDownloadEnd, array);
}

/* Drops the repeats that the announced count does not account for; 0 when
 * records are missing. */
static int SettleWaypointRepeats(PortSession *session, RouteRecord *work)
{
    int repeats = 0;
    for (int i = 0; i < work->waypointCount; i++)
        repeats += work->waypoints[i].repeated != 0;
    int keep = RepeatsToKeep(session, work->waypointCount, repeats);
    int kept = 0;
    for (int i = 0; i < work->waypointCount; i++) {
        if (work->waypoints[i].repeated && keep-- <= 0)
            continue;
        work->waypoints[kept] = work->waypoints[i];
        work->waypoints[kept++].repeated = 0;
    }
    work->waypointCount = kept;
    return !RecordsMissing(session, kept);
}

static void FailDownload(PortSession *session)
{
    ErrorLog("WayPt download request failed\n");
    FreeRouteRecord((RouteRecord *)session->transferData);
    session->transferData = NULL;
    SAFEARRAY *none = NULL;
    uint32_t operation = session->operation;
    CallDownloadCallback(session, &none);
    EndTransfer(session, operation);
}

static int TakeWaypoint(PortSession *session, int packetId, const unsigned char *data, int length)
{
    if (packetId != PacketWaypoint)
        return 1;
    RouteRecord *work = (RouteRecord *)session->transferData;
    WaypointRecord *record = work ? AppendRecord(&work->waypoints, &work->waypointCount) : NULL;
    if (!record)
        return 0;
    DecodeWaypoint(session, data, length, record);
    record->repeated = session->packetRepeated;
    LogWaypoint(record);
    return 1;
}

static int FinishWaypoints(PortSession *session)
{
    RouteRecord *work = (RouteRecord *)session->transferData;
    if (work && !SettleWaypointRepeats(session, work)) {
        FailDownload(session);
        return 0;
    }
    if (work) {
        SAFEARRAY *array = NULL;
        BuildWaypointArray(&array, work);
        FreeRouteRecord(work);
        session->transferData = NULL;
        CallDownloadCallback(session, &array);
        FreeWaypointArray(&array);
    }
    return 1;
}

static const DownloadKind WaypointDownload = {TakeWaypoint, FinishWaypoints, FailDownload};

void WaypointDownloadStep(PortSession *session, int code, const unsigned char *data, int length)
{
    DownloadStep(session, code, data, length, &WaypointDownload);
}

static void *PrepareUpload(PortSession *, const void *host, uint16_t *word)
{
    RouteRecord *work = ReadHostWaypoints((SAFEARRAY **)host);
    if (work)
        *word = (uint16_t)work->waypointCount;
    return work;
}

static void *PrepareDownload(PortSession *, const void *, uint16_t *word)
{
    *word = CommandTransferWaypoints;
    return calloc(1, sizeof(RouteRecord));
}

int32_t HALVEX_CALL HalvexUploadWayPtInit(PortSession *session, SAFEARRAY **waypoints, HalvexUploadCallback *callback)
{
    return TransferExport(session, ObjectiveWaypointUpload, &WaypointUploadEntry, callback ? (void *)*callback : NULL,
                          PacketRecords, PrepareUpload, waypoints);
}

int32_t HALVEX_CALL HalvexDownloadWayPtInit(PortSession *session, HalvexWaypointCallback *callback)
{
    return TransferExport(session, ObjectiveWaypointDownload, &WaypointDownloadEntry,
                          callback ? (void *)*callback : NULL, PacketCommand, PrepareDownload, NULL);
}
