/* Track upload and download in D300 track points. A download hands each
 * point to the host as it comes, and the host may stop it. */
#include <math.h>
#include <stdlib.h>
#include <string.h>

#include "../engine/dispatch.h"
#include "../engine/enginelock.h"
#include "../engine/timerqueue.h"
#include "../errlog/errlog.h"
#include "../link/link.h"
#include "../port/registry.h"
#include "marshal.h"
#include "transfer.h"
#include "waypointtypes.h"

static const double TrackEpoch = 32875.0; /* 1990-01-02 00:00 as an OLE date */
static const double DaysPerSecond = 1.1574074074074073e-05;
/* What an OLE date near today cannot tell apart: a few ulps of 45000 days. */
static const double OleDateSlackSeconds = 1.0e-5;
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
     * 12:00:01.99999999): a time within a few microseconds of a whole second
     * is that second; any real fraction is truncated toward zero. Low 32
     * bits; a time no count can hold sends 0. */
    double seconds = (point->time - TrackEpoch) * 86400.0;
    double nearest = round(seconds);
    if (fabs(seconds - nearest) < OleDateSlackSeconds)
        seconds = nearest;
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
    DisarmTimer(&session->modeTimer);
    ReleaseTransfer(session);
    HostTrackPoint none;
    memset(&none, 0, sizeof none);
    uint32_t operation = session->operation;
    CallDownloadCallback(session, -1, &none);
    EndTransfer(session, operation);
}

/* Hands a point to the host; 0 when the host stopped the download (or left
 * it by starting something else, or closing the port, from its callback). */
static int HandOn(PortSession *session, const TrackPointRecord *record)
{
    HostTrackPoint point;
    memset(&point, 0, sizeof point);
    point.time = record->time;
    point.latitude = record->latitude;
    point.longitude = record->longitude;
    point.newTrack = record->newTrack != 0;
    session->recordsTaken++;
    uint32_t operation = session->operation;
    int16_t goOn = CallDownloadCallback(session, session->recordCount, &point);
    if (!OperationContinues(session, operation))
        return 0;
    if (goOn != 0)
        return 1;
    ErrorLog("Aborting Track download\n");
    ReleaseTransfer(session);
    SendWord(session, PacketCommand, CommandAbortTransfer);
    EndTransfer(session, operation);
    return 0;
}

/* Points arrive one by one and go to the host at once, so a repeat is held
 * back: dropped when a new point follows, since a track's neighbours are
 * never the same point at the same second, and at the end kept only as far
 * as the announced count says the receiver holds it. The working record
 * keeps the last point handed on. */
static void TakePoint(PortSession *session, const unsigned char *data, int length)
{
    TrackList *last = (TrackList *)session->transferData;
    if (session->packetRepeated && last->pointCount) {
        session->repeatsHeld++;
        return;
    }
    if (session->repeatsHeld)
        ErrorLog("Track points repeated: %d dropped\n", session->repeatsHeld);
    session->repeatsHeld = 0;
    DecodeTrackPoint(data, length, last->points);
    last->pointCount = 1;
    if (HandOn(session, last->points))
        ErrorLog("Track=%lf lat=%lf, lon=%lf\n", last->points->time, last->points->latitude,
                 last->points->longitude);
}

/* 0 when the host stopped the download while taking a held repeat. Points
 * missing are reported as the download's failure; the host, which has them
 * counted, can tell. */
static int TakeHeldRepeats(PortSession *session)
{
    TrackList *last = (TrackList *)session->transferData;
    int keep = RepeatsToKeep(session, session->recordsTaken + session->repeatsHeld, session->repeatsHeld);
    session->repeatsHeld = 0;
    while (keep-- > 0)
        if (!HandOn(session, last->points))
            return 0;
    if (RecordsMissing(session, session->recordsTaken))
        ErrorLog("Track download request failed\n");
    return 1;
}

int TrackDownloadStep(PortSession *session, int code, const unsigned char *data, int length)
{
    if (code == PacketRecords + DispatchPacket && !session->packetRepeated)
        session->recordCount = length >= 2 ? ReadU16(data) : 0;
    if (!NoteDownloadProgress(session, code, data, length))
        return 1;
    switch (code) {
    case PacketTrackPoint + DispatchPacket:
        TakePoint(session, data, length);
        break;
    case PacketXferComplete + DispatchPacket:
        if (!TakeHeldRepeats(session))
            break;
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
    int started = 0;
    if (TransferMayStart(session)) {
        TrackList *last = (TrackList *)calloc(1, sizeof *last);
        TrackPointRecord *point = (TrackPointRecord *)calloc(1, sizeof *point);
        if (last && point) {
            last->points = point;
            started = StartTransfer(session, ObjectiveTrackDownload, callback ? (void *)*callback : NULL, last,
                                    PacketCommand, CommandTransferTracks);
        } else {
            free(last);
            free(point);
        }
    }
    UnlockEngine();
    /* Woken like an upload, so that the request's time-out is honoured. */
    if (started)
        WakeDispatcher();
    return started;
}
