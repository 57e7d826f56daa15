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
static RouteRecord *ReadHostWaypoints(const TransferRequest *request)
{
    const HostWaypointForm *form = RequestForm(request);
    void *data;
    uint32_t count;
    if (!HostArrayElements(request->records, form->elementSize, &data, &count))
        return NULL;
    RouteRecord *work = NewList(&RouteRecord::waypoints, &RouteRecord::waypointCount, count);
    if (work)
        form->read(work->waypoints, data, count);
    return work;
}

static const char WaypointUploadFailed[] = "Way point upload request failed\n";

static int SendWaypoint(PortSession *session, TransferState *work, int k)
{
    RouteRecord *list = work->records.waypoints;
    return EncodeWaypoint(session, &list->waypoints[k], PacketWaypoint);
}

static void WaypointUploadAcked(PortSession *session, TransferState *work)
{
    SendNextRecord(session, work, work->records.waypoints->waypointCount, SendWaypoint,
                   CommandTransferWaypoints, WaypointUploadFailed);
}

static void WaypointUploadStep(PortSession *session, TransferState *work, int code, const unsigned char *data, int length)
{
    (void)data;
    (void)length;
    UploadStep(session, work, code, WaypointUploadAcked, WaypointUploadFailed);
}

static void CallDownloadCallback(TransferState *work, SAFEARRAY **array)
{
    /* The two callbacks have the same shape; the array's records differ. */
    HalvexWaypointCallback callback =
        work->kind->extended ? (HalvexWaypointCallback)work->callback.waypointsEx : work->callback.waypoints;
    if (callback)
        callback(0, HalvexDownloadEnd, array);
}

/* Drops the repeats that the announced count does not account for; 0 when
 * records are missing. */
static int SettleWaypointRepeats(PortSession *, TransferState *work)
{
    RouteRecord *list = work->records.waypoints;
    int repeats = 0;
    for (int i = 0; i < list->waypointCount; i++)
        repeats += list->waypoints[i].repeated != 0;
    int keep = RepeatsToKeep(work, list->waypointCount, repeats);
    int kept = 0;
    for (int i = 0; i < list->waypointCount; i++) {
        if (list->waypoints[i].repeated && keep-- <= 0)
            continue;
        list->waypoints[kept] = list->waypoints[i];
        list->waypoints[kept++].repeated = 0;
    }
    list->waypointCount = kept;
    return !RecordsMissing(work, kept);
}

static void FailDownload(PortSession *session, TransferState *work)
{
    ErrorLog("WayPt download request failed\n");
    SAFEARRAY *none = NULL;
    uint32_t operation = CurrentOperation(session);
    CallDownloadCallback(work, &none);
    EndTransfer(session, operation);
}

static int TakeWaypoint(PortSession *session, TransferState *work, int packetId, const unsigned char *data, int length)
{
    if (packetId != PacketWaypoint)
        return 1;
    RouteRecord *list = work->records.waypoints;
    WaypointRecord *record = AppendRecord(&list->waypoints, &list->waypointCount);
    if (!record)
        return 0;
    DecodeWaypoint(ReceiverCaps(session), data, length, record);
    record->repeated = PacketRepeated(session);
    LogWaypoint(record);
    return 1;
}

static int FinishWaypoints(PortSession *session, TransferState *work)
{
    SAFEARRAY *array = NULL;
    const HostWaypointForm *form = WaypointFormOf(work);
    BuildWaypointArray(&array, work->records.waypoints, form, WaypointHolds(WaypointDataType(ReceiverCaps(session))));
    CallDownloadCallback(work, &array);
    FreeWaypointArray(&array, form);
    return 1;
}

static const DownloadKind WaypointDownload = {TakeWaypoint, SettleWaypointRepeats, FinishWaypoints, FailDownload};

static void WaypointDownloadStep(PortSession *session, TransferState *work, int code, const unsigned char *data, int length)
{
    DownloadStep(session, work, code, data, length, &WaypointDownload);
}

static int PrepareUpload(PortSession *, const TransferRequest *request, TransferRecords *records, uint16_t *word)
{
    records->waypoints = ReadHostWaypoints(request);
    if (records->waypoints)
        *word = (uint16_t)records->waypoints->waypointCount;
    return records->waypoints != NULL;
}

static int PrepareDownload(PortSession *, const TransferRequest *, TransferRecords *records, uint16_t *word)
{
    *word = CommandTransferWaypoints;
    records->waypoints = (RouteRecord *)calloc(1, sizeof(RouteRecord));
    return records->waypoints != NULL;
}

static void FreeWaypoints(TransferRecords *records) { FreeRouteRecord(records->waypoints); }

static const TransferKind WaypointUploads = {ObjectiveWaypointUpload, {WaypointUploadStep, ReleaseTransfer},
                                            PacketRecords, PrepareUpload, FreeWaypoints, 0};
static const TransferKind WaypointDownloads = {ObjectiveWaypointDownload, {WaypointDownloadStep, ReleaseTransfer},
                                              PacketCommand, PrepareDownload, FreeWaypoints, 0};
static const TransferKind WaypointExUploads = {ObjectiveWaypointUpload, {WaypointUploadStep, ReleaseTransfer},
                                              PacketRecords, PrepareUpload, FreeWaypoints, 1};
static const TransferKind WaypointExDownloads = {ObjectiveWaypointDownload, {WaypointDownloadStep, ReleaseTransfer},
                                                PacketCommand, PrepareDownload, FreeWaypoints, 1};

int32_t HALVEX_CALL HalvexUploadWayPtInit(PortSession *session, SAFEARRAY **waypoints, HalvexUploadCallback *callback)
{
    TransferRequest request = {waypoints, NULL, 0};
    return TransferExport(session, &WaypointUploads, CallbackOf(callback, &TransferCallback::upload), &request);
}

int32_t HALVEX_CALL HalvexDownloadWayPtInit(PortSession *session, HalvexWaypointCallback *callback)
{
    return TransferExport(session, &WaypointDownloads, CallbackOf(callback, &TransferCallback::waypoints), NULL);
}

int32_t HALVEX_CALL HalvexUploadWayPtExInit(PortSession *session, SAFEARRAY **waypoints,
                                            HalvexUploadCallback *callback)
{
    TransferRequest request = {waypoints, NULL, 1};
    return TransferExport(session, &WaypointExUploads, CallbackOf(callback, &TransferCallback::upload), &request);
}

int32_t HALVEX_CALL HalvexDownloadWayPtExInit(PortSession *session, HalvexWaypointExCallback *callback)
{
    return TransferExport(session, &WaypointExDownloads, CallbackOf(callback, &TransferCallback::waypointsEx), NULL);
}
