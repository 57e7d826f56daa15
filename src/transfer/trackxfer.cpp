/* Track upload and download in D300 track points. A download hands each
 * point to the host as it comes, and the host may stop it. */
#include <math.h>
#include <stdlib.h>
#include <string.h>

#include "../engine/dispatch.h"
#include "../engine/enginelock.h"
#include "../errlog/errlog.h"
#include "../link/link.h"
#include "../port/registry.h"
#include "marshal.h"
#include "transfer.h"
#include "waypointtypes.h"

static const double TrackEpoch = 32875.0; /* 1990-01-02 00:00 as an OLE date */
static const double DaysPerSecond = 1.1574074074074073e-05;
enum { D300Size = 16, D300Read = 13 };

void DecodeTrackPoint(const unsigned char *data, int length, TrackPointRecord *point)
{
    memset(point, 0, sizeof *point);
    point->latitude = SemicirclesToDegrees(ReadI32(data, length, 0));
    point->longitude = SemicirclesToDegrees(ReadI32(data, length, 4));
    point->time = TrackEpoch + (uint32_t)ReadI32(data, length, 8) * DaysPerSecond;
    point->newTrack = length >= D300Read ? data[12] : 0;
}

void EncodeTrackPointData(const TrackPointRecord *point, unsigned char *data)
{
    memset(data, 0, D300Size);
    WriteI32(data, DegreesToSemicircles(point->latitude));
    WriteI32(data + 4, DegreesToSemicircles(point->longitude));
    /* An OLE date holds a whole second only approximately (12:00:02 may be
     * 12:00:01.99999999): snapped to the millisecond first, so truncation
     * toward zero drops real fractions and not a second. Low 32 bits; a time
     * no count can hold sends 0. */
    double seconds = round((point->time - TrackEpoch) * 86400000.0) / 1000.0;
    int64_t whole = fabs(seconds) < 9.0e18 ? (int64_t)seconds : 0;
    WriteI32(data + 8, (int32_t)(uint32_t)whole);
    data[12] = (unsigned char)point->newTrack;
}

static int EncodeTrackPoint(PortSession *session, const TrackPointRecord *point)
{
    unsigned char data[D300Size];
    EncodeTrackPointData(point, data);
    return SendPacket(session, PacketTrackPoint, data, D300Size);
}

/* The host's points as one track: the first starts it, whatever the host's
 * newTrack fields say. Null when the array cannot be read safely. */
static TrackList *ReadHostTrack(SAFEARRAY **array)
{
    void *data;
    uint32_t count;
    if (!HostArrayElements(array, sizeof(HostTrackPoint), &data, &count))
        return NULL;
    TrackList *list = (TrackList *)calloc(1, sizeof *list);
    TrackPointRecord *points = (TrackPointRecord *)calloc(count ? count : 1, sizeof *points);
    if (!list || !points) {
        free(list);
        free(points);
        return NULL;
    }
    const HostTrackPoint *elements = (const HostTrackPoint *)data;
    for (uint32_t i = 0; i < count; i++) {
        points[i].time = elements[i].time;
        points[i].latitude = elements[i].latitude;
        points[i].longitude = elements[i].longitude;
        points[i].newTrack = i == 0;
    }
    list->pointCount = (int32_t)count;
    list->points = points;
    return list;
}

static const char TrackUploadFailed[] = "Track upload request failed\n";

static int SendTrackPoint(PortSession *session, int k)
{
    return EncodeTrackPoint(session, &((TrackList *)session->transferData)->points[k]);
}

static void TrackUploadAcked(PortSession *session)
{
    SendNextRecord(session, ((TrackList *)session->transferData)->pointCount, SendTrackPoint, CommandTransferTracks,
                   TrackUploadFailed);
}

int TrackUploadStep(PortSession *session, int code, const unsigned char *data, int length)
{
    (void)data;
    (void)length;
    return UploadStep(session, code, TrackUploadAcked, TrackUploadFailed);
}

static int16_t CallDownloadCallback(PortSession *session, int32_t value, HostTrackPoint *point)
{
    HalvexTrackCallback callback = (HalvexTrackCallback)session->hostCallback;
    return callback ? callback(0, value, point) : 1;
}

static void EndDownload(PortSession *session)
{
    HostTrackPoint none;
    memset(&none, 0, sizeof none);
    CallDownloadCallback(session, -1, &none);
    EndTransfer(session);
}

int TrackDownloadStep(PortSession *session, int code, const unsigned char *data, int length)
{
    switch (code) {
    case PacketRecords + DispatchPacket:
        session->recordCount = length >= 2 ? ReadU16(data) : 0;
        ErrorLog("Records=%d\n", session->recordCount);
        break;
    case PacketTrackPoint + DispatchPacket: {
        TrackPointRecord record;
        DecodeTrackPoint(data, length, &record);
        HostTrackPoint point;
        memset(&point, 0, sizeof point);
        point.time = record.time;
        point.latitude = record.latitude;
        point.longitude = record.longitude;
        point.newTrack = record.newTrack != 0;
        if (CallDownloadCallback(session, session->recordCount, &point) == 0) {
            if (!IsLiveSession(session))
                break;
            ErrorLog("Aborting Track download\n");
            SendWord(session, PacketCommand, CommandAbortTransfer);
            EndTransfer(session);
        } else {
            ErrorLog("Track=%lf lat=%lf, lon=%lf\n", record.time, record.latitude, record.longitude);
        }
        break;
    }
    case PacketXferComplete + DispatchPacket:
        EndDownload(session);
        ErrorLog("Xfer complete=%d\n", length >= 2 ? ReadU16(data) : 0);
        break;
    case DispatchAborted:
        ErrorLog("Track download request failed\n");
        EndDownload(session);
        break;
    default:
        break;
    }
    return 1;
}

int32_t HALVEX_CALL HalvexUploadTrackInit(PortSession *session, SAFEARRAY **points, HalvexUploadCallback *callback)
{
    LockEngine();
    int started = 0;
    if (TransferMayStart(session)) {
        TrackList *list = ReadHostTrack(points);
        started = list && StartTransfer(session, ObjectiveTrackUpload, callback ? (void *)*callback : NULL, list,
                                        PacketRecords, (uint16_t)list->pointCount);
    }
    UnlockEngine();
    if (started)
        WakeDispatcher();
    return started;
}

int32_t HALVEX_CALL HalvexDownloadTrackInit(PortSession *session, HalvexTrackCallback *callback)
{
    LockEngine();
    int started = TransferMayStart(session) &&
                  StartTransfer(session, ObjectiveTrackDownload, callback ? (void *)*callback : NULL, NULL,
                                PacketCommand, CommandTransferTracks);
    UnlockEngine();
    /* Woken like an upload, so that the request's time-out is honoured. */
    if (started)
        WakeDispatcher();
    return started;
}
