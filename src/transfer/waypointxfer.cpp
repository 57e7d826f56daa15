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
    void *data;
    uint32_t count;
    if (!HostArrayElements(array, sizeof(HostWaypoint), &data, &count))
        return NULL;
    RouteRecord *work = (RouteRecord *)calloc(1, sizeof *work);
    WaypointRecord *records = (WaypointRecord *)calloc(count ? count : 1, sizeof *records);
    if (!work || !records) {
        free(work);
        free(records);
        return NULL;
    }
    const HostWaypoint *elements = (const HostWaypoint *)data;
    for (uint32_t i = 0; i < count; i++) {
        TextFieldFromBstr(records[i].ident, sizeof records[i].ident, elements[i].ident);
        records[i].latitude = elements[i].latitude;
        records[i].longitude = elements[i].longitude;
        TextFieldFromBstr(records[i].comment, sizeof records[i].comment, elements[i].comment);
    }
    work->waypointCount = (int32_t)count;
    work->waypoints = records;
    return work;
}

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

void WaypointDownloadStep(PortSession *session, int code, const unsigned char *data, int length)
{
    RouteRecord *work = (RouteRecord *)session->transferData;
    if (!NoteDownloadProgress(session, code, data, length))
        return;
    switch (code) {
    case PacketWaypoint + DispatchPacket: {
        WaypointRecord *record = work ? AppendRecord(&work->waypoints, &work->waypointCount) : NULL;
        if (!record) {
            FailDownload(session); /* a record we cannot keep is not dropped quietly */
            break;
        }
        DecodeWaypoint(session, data, length, record);
        record->repeated = session->packetRepeated;
        LogWaypoint(record);
        break;
    }
    case PacketXferComplete + DispatchPacket: {
        uint32_t operation = session->operation;
        if (work && !SettleWaypointRepeats(session, work)) {
            FailDownload(session);
            break;
        }
        if (work) {
            SAFEARRAY *array = NULL;
            BuildWaypointArray(&array, work);
            FreeRouteRecord(work);
            session->transferData = NULL;
            CallDownloadCallback(session, &array);
            FreeWaypointArray(&array);
        }
        EndTransfer(session, operation);
        ErrorLog("Xfer complete=%d\n", ReadField<uint16_t>(data, length, 0));
        break;
    }
    case DispatchAborted:
        FailDownload(session);
        break;
    default:
        break;
    }
}

static void ReleaseRouteRecord(PortSession *session) { FreeRouteRecord((RouteRecord *)session->transferData); }

static const ObjectiveEntry WaypointUploadEntry = {WaypointUploadStep, ReleaseRouteRecord};
static const ObjectiveEntry WaypointDownloadEntry = {WaypointDownloadStep, ReleaseRouteRecord};

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
