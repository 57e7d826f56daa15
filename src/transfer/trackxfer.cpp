/* Track upload and download in D300, D301 or D302 track points, with a
 * D310, D311 or D312 header before each track where the receiver heads its
 * tracks. A download hands each point to the host as it comes, and the host
 * may stop it. */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "../engine/timerqueue.h"
#include "../errlog/errlog.h"
#include "../link/link.h"
#include "../link/product.h"
#include "../port/registry.h"
#include "marshal.h"
#include "transfer.h"
#include "waypointtypes.h"

static const double DaysPerSecond = 1.1574074074074073e-05;
/* What an OLE date near today cannot tell apart: a few ulps of 45000 days. */
static const double OleDateSlackSeconds = 1.0e-5;
enum { D300Size = 16, TrackPointLimit = 25, TrackHeaderLimit = TrackNameSize + 2 };

/* Where a point type keeps its new-track flag, and its size. */
static int NewTrackAt(int type) { return type == 302 ? 24 : type == 301 ? 20 : 12; }
static int TrackPointSize(int type) { return type == 302 ? 25 : type == 301 ? 21 : D300Size; }

int TrackPointType(const ProtocolCaps *caps)
{
    int type = caps ? caps->protocolSlots[SlotTrackPointType] : -1;
    return type == 301 || type == 302 ? type : 300;
}

static int TrackHeaderType(const PortSession *session)
{
    const ProtocolCaps *caps = ReceiverCaps(session);
    return caps ? caps->trackHeaderType : -1;
}

void DecodeTrackPoint(int type, const unsigned char *data, int length, TrackPointRecord *point)
{
    memset(point, 0, sizeof *point);
    point->latitude = SemicirclesToDegrees(ReadField<int32_t>(data, length, 0));
    point->longitude = SemicirclesToDegrees(ReadField<int32_t>(data, length, 4));
    uint32_t seconds = (uint32_t)ReadField<int32_t>(data, length, 8);
    point->time = TRACK_EPOCH_DATE + seconds * DaysPerSecond;
    point->set = length >= 12 && seconds != 0xFFFFFFFF ? HalvexHoldsTime : 0;
    point->newTrack = length > NewTrackAt(type) ? data[NewTrackAt(type)] : 0;
    if (type == 300)
        return;
    ReadMeasure(data, length, 12, &point->altitude, &point->set, HalvexHoldsAltitude);
    ReadMeasure(data, length, 16, &point->depth, &point->set, HalvexHoldsDepth);
    if (type == 302)
        ReadMeasure(data, length, 20, &point->temperature, &point->set, HalvexHoldsTemperature);
}

/* The HalvexHolds... bits of the fields of those types. */
static int TrackHolds(int pointType, int headerType)
{
    int holds = HalvexHoldsTime;
    if (pointType == 301 || pointType == 302)
        holds |= HalvexHoldsAltitude | HalvexHoldsDepth;
    if (pointType == 302)
        holds |= HalvexHoldsTemperature;
    return headerType == 310 || headerType == 312 ? holds | HalvexHoldsTrackName : holds;
}

int EncodeTrackPointData(int type, const TrackPointRecord *point, unsigned char *data)
{
    int size = TrackPointSize(type);
    memset(data, 0, (size_t)size);
    WriteField<int32_t>(data, DegreesToSemicircles(point->latitude));
    WriteField<int32_t>(data + 4, DegreesToSemicircles(point->longitude));
    /* An OLE date holds a whole second only approximately (12:00:02 may be
     * 12:00:01.99999999): a time within a few microseconds of a whole second
     * is that second; any real fraction is truncated toward zero. Low 32
     * bits; a time no count can hold sends 0. */
    double seconds = (point->time - TRACK_EPOCH_DATE) * 86400.0;
    double nearest = round(seconds);
    if (fabs(seconds - nearest) < OleDateSlackSeconds)
        seconds = nearest;
    int64_t whole = fabs(seconds) < 9.0e18 ? (int64_t)seconds : 0;
    WriteField<int32_t>(data + 8, (int32_t)(uint32_t)whole);
    if (type != 300) {
        WriteMeasure(data + 12, &point->altitude, point->set, HalvexHoldsAltitude);
        WriteMeasure(data + 16, &point->depth, point->set, HalvexHoldsDepth);
    }
    if (type == 302)
        WriteMeasure(data + 20, &point->temperature, point->set, HalvexHoldsTemperature);
    data[NewTrackAt(type)] = (unsigned char)point->newTrack;
    return size;
}

int EncodeTrackHeaderData(int type, int track, const TrackPointRecord *first, unsigned char *data)
{
    if (type == 311) {
        WriteField<uint16_t>(data, (uint16_t)track);
        return 2;
    }
    if (type != 310 && type != 312)
        return 0;
    int named = first && (first->set & HalvexHoldsTrackName);
    data[0] = named && first->trackDisplay >= 0 ? (unsigned char)(first->trackDisplay != 0) : 1;
    data[1] = named && first->trackColour >= 0 ? (unsigned char)first->trackColour : 0xFF; /* 0xFF: the default */
    if (named && first->trackName[0])
        return 2 + snprintf((char *)data + 2, TrackNameSize, "%s", first->trackName) + 1;
    return 2 + snprintf((char *)data + 2, TrackHeaderLimit - 2, "TRACK %02d", track) + 1;
}

void DecodeTrackHeader(int type, const unsigned char *data, int length, TrackPointRecord *first)
{
    if (type != 310 && type != 312)
        return;
    first->trackDisplay = ReadField<uint8_t>(data, length, 0);
    first->trackColour = ReadField<uint8_t>(data, length, 1);
    ReadWireString(first->trackName, sizeof first->trackName, data, length, 2);
    first->set |= HalvexHoldsTrackName;
}

static int EncodeTrackPoint(PortSession *session, const TrackPointRecord *point)
{
    unsigned char data[TrackPointLimit];
    int type = TrackPointType(ReceiverCaps(session));
    return SendPacket(session, PacketTrackPoint, data, EncodeTrackPointData(type, point, data));
}

/* The host's points: the first starts a track whatever it says, so that a
 * host that never set the flags still sends one track. Null when the
 * array cannot be read safely. */
static TrackList *ReadHostTrack(const TransferRequest *request)
{
    size_t size = request->extended ? sizeof(HostTrackPointEx) : sizeof(HostTrackPoint);
    void *data;
    uint32_t count;
    if (!HostArrayElements(request->records, size, &data, &count))
        return NULL;
    TrackList *list = NewList(&TrackList::points, &TrackList::pointCount, count);
    for (int32_t i = 0; list && i < list->pointCount; i++) {
        TrackPointRecord *point = &list->points[i];
        if (request->extended)
            TrackPointFromHostEx(point, (const HostTrackPointEx *)data + i);
        else
            TrackPointFromHost(point, (const HostTrackPoint *)data + i);
        if (i == 0)
            point->newTrack = point->startsTrack = 1;
        list->headers += point->startsTrack;
    }
    return list;
}

static const char TrackUploadFailed[] = "Track upload request failed\n";

/* The points, each track under a header of its own where the receiver heads
 * its tracks (headers counts the tracks). */
static int UploadRecords(const PortSession *session, const TrackList *list)
{
    return list->pointCount + (TrackHeaderType(session) != -1 ? list->headers : 0);
}

/* Records go out in order, one call each: a point that starts a track is
 * preceded by its header, startsTrack saying the header has gone. */
static int SendTrackRecord(PortSession *session, TransferState *work, int k)
{
    TrackList *list = work->records.track;
    if (TrackHeaderType(session) == -1)
        return EncodeTrackPoint(session, &list->points[k]);
    const TrackPointRecord *point = &list->points[k - work->tracksSent];
    if (!point->startsTrack || work->startsTrack) {
        work->startsTrack = 0;
        return EncodeTrackPoint(session, point);
    }
    unsigned char data[TrackHeaderLimit];
    int length = EncodeTrackHeaderData(TrackHeaderType(session), work->tracksSent + 1, point, data);
    work->tracksSent++;
    work->startsTrack = 1;
    return length && SendPacket(session, PacketTrackHeader, data, length);
}

static void TrackUploadAcked(PortSession *session, TransferState *work)
{
    SendNextRecord(session, work, UploadRecords(session, work->records.track), SendTrackRecord,
                   CommandTransferTracks, TrackUploadFailed);
}

static void TrackUploadStep(PortSession *session, TransferState *work, int code, const unsigned char *data, int length)
{
    (void)data;
    (void)length;
    UploadStep(session, work, code, TrackUploadAcked, TrackUploadFailed);
}

static int TrackHoldsOf(const PortSession *session)
{
    return TrackHolds(TrackPointType(ReceiverCaps(session)), TrackHeaderType(session));
}

/* The host's callback with the point in the record its export hands on. */
static int16_t CallDownloadCallback(PortSession *session, TransferState *work, int32_t value,
                                    const TrackPointRecord *record)
{
    if (work->kind->extended) {
        HalvexTrackExCallback callback = work->callback.trackEx;
        HostTrackPointEx point;
        FillTrackPointEx(&point, record, TrackHoldsOf(session));
        int16_t goOn = callback ? callback(0, value, &point) : 1;
        SysFreeString(point.trackName);
        return goOn;
    }
    HalvexTrackCallback callback = work->callback.track;
    HostTrackPoint point;
    FillTrackPoint(&point, record);
    return callback ? callback(0, value, &point) : 1;
}

/* The end of the points, whether all came or not. */
static void HandOnEnd(PortSession *session, TransferState *work)
{
    DisarmTimer(&work->stallTimer);
    TrackPointRecord none;
    memset(&none, 0, sizeof none);
    CallDownloadCallback(session, work, HalvexDownloadEnd, &none);
}

/* Hands a point to the host; 0 when the host stopped the download (or left
 * it by starting something else, or closing the port, from its callback). */
static int HandOn(PortSession *session, TransferState *work, const TrackPointRecord *record)
{
    work->recordsTaken++;
    /* The host counts points: the headers the count announced are not. */
    int32_t announced = work->recordsAnnounced < 0 ? 0 : work->recordsAnnounced;
    uint32_t operation = CurrentOperation(session);
    int16_t goOn = CallDownloadCallback(session, work, announced - work->records.track->headers, record);
    if (!OperationContinues(session, operation))
        return 0;
    if (goOn != 0)
        return 1;
    ErrorLog("Aborting Track download\n");
    SendWord(session, PacketCommand, CommandAbortTransfer);
    EndTransfer(session, operation);
    return 0;
}

/* Points arrive one by one and go to the host at once, so a repeat is held
 * back: dropped when a new point follows, since a track's neighbours are
 * never the same point at the same second, and at the end kept only as far
 * as the announced count says the receiver holds it. The download
 * keeps the last point handed on. */
static void TakePoint(PortSession *session, TransferState *work, const unsigned char *data, int length)
{
    TrackList *last = work->records.track;
    if (PacketRepeated(session) && last->pointCount) {
        work->repeatsHeld++;
        return;
    }
    if (work->repeatsHeld)
        ErrorLog("Track points repeated: %d dropped\n", work->repeatsHeld);
    work->repeatsHeld = 0;
    TrackPointRecord *point = last->points;
    DecodeTrackPoint(TrackPointType(ReceiverCaps(session)), data, length, point);
    if (work->startsTrack) {
        point->newTrack = point->startsTrack = 1;
        point->set |= last->heading.set & HalvexHoldsTrackName;
        point->trackColour = last->heading.trackColour;
        point->trackDisplay = last->heading.trackDisplay;
        memcpy(point->trackName, last->heading.trackName, sizeof point->trackName);
    }
    work->startsTrack = 0;
    last->pointCount = 1;
    if (HandOn(session, work, last->points))
        ErrorLog("Track=%lf lat=%lf, lon=%lf\n", last->points->time, last->points->latitude,
                 last->points->longitude);
}

/* 0 when the host stopped the download while taking a held repeat. Points
 * missing are reported as the download's failure; the host, which has them
 * counted, can tell. */
static int TakeHeldRepeats(PortSession *session, TransferState *work)
{
    int keep = RepeatsToKeep(work, work->recordsTaken + work->repeatsHeld, work->repeatsHeld);
    work->repeatsHeld = 0;
    while (keep-- > 0)
        if (!HandOn(session, work, work->records.track->points))
            return 0;
    if (RecordsMissing(work, work->recordsTaken))
        ErrorLog("Track download request failed\n");
    return 1;
}

static int TakeTrackPacket(PortSession *session, TransferState *work, int packetId, const unsigned char *data,
                           int length)
{
    if (packetId == PacketTrackPoint) {
        TakePoint(session, work, data, length);
    } else if (packetId == PacketTrackHeader && !PacketRepeated(session)) {
        /* A header counts as a record and starts a track at the next
         * point; one sent again because our ACK was lost changes nothing. */
        TrackList *last = work->records.track;
        work->recordsTaken++;
        last->headers++;
        work->startsTrack = 1;
        memset(&last->heading, 0, sizeof last->heading);
        DecodeTrackHeader(TrackHeaderType(session), data, length, &last->heading);
    }
    return 1;
}

static int FinishTrack(PortSession *session, TransferState *work)
{
    if (!TakeHeldRepeats(session, work))
        return 0;
    HandOnEnd(session, work);
    return 1;
}

static void FailTrack(PortSession *session, TransferState *work)
{
    ErrorLog("Track download request failed\n");
    uint32_t operation = CurrentOperation(session);
    HandOnEnd(session, work);
    EndTransfer(session, operation);
}

static const DownloadKind TrackDownload = {TakeTrackPacket, NULL, FinishTrack, FailTrack};

static void TrackDownloadStep(PortSession *session, TransferState *work, int code, const unsigned char *data, int length)
{
    DownloadStep(session, work, code, data, length, &TrackDownload);
}

static int PrepareUpload(PortSession *session, const TransferRequest *request, TransferRecords *records,
                         uint16_t *word)
{
    TrackList *list = ReadHostTrack(request);
    if (list && UploadRecords(session, list) > 0xFFFF) { /* more than packet 27 can announce */
        FreeTrackList(list);
        return 0;
    }
    if (list)
        *word = (uint16_t)UploadRecords(session, list);
    records->track = list;
    return list != NULL;
}

/* A download keeps only the last point handed on. */
static int PrepareDownload(PortSession *, const TransferRequest *, TransferRecords *records, uint16_t *word)
{
    *word = CommandTransferTracks;
    TrackList *last = NewList(&TrackList::points, &TrackList::pointCount, 1);
    if (last)
        last->pointCount = 0; /* no point handed on yet */
    records->track = last;
    return last != NULL;
}

static void FreeTrack(TransferRecords *records) { FreeTrackList(records->track); }

static const TransferKind TrackUploads = {ObjectiveTrackUpload, {TrackUploadStep, ReleaseTransfer}, PacketRecords,
                                         PrepareUpload, FreeTrack, 0};
static const TransferKind TrackDownloads = {ObjectiveTrackDownload, {TrackDownloadStep, ReleaseTransfer},
                                           PacketCommand, PrepareDownload, FreeTrack, 0};
static const TransferKind TrackExUploads = {ObjectiveTrackUpload, {TrackUploadStep, ReleaseTransfer}, PacketRecords,
                                           PrepareUpload, FreeTrack, 1};
static const TransferKind TrackExDownloads = {ObjectiveTrackDownload, {TrackDownloadStep, ReleaseTransfer},
                                             PacketCommand, PrepareDownload, FreeTrack, 1};

int32_t HALVEX_CALL HalvexUploadTrackInit(PortSession *session, SAFEARRAY **points, HalvexUploadCallback *callback)
{
    TransferRequest request = {points, NULL, 0};
    return TransferExport(session, &TrackUploads, CallbackOf(callback, &TransferCallback::upload), &request);
}

int32_t HALVEX_CALL HalvexDownloadTrackInit(PortSession *session, HalvexTrackCallback *callback)
{
    return TransferExport(session, &TrackDownloads, CallbackOf(callback, &TransferCallback::track), NULL);
}

int32_t HALVEX_CALL HalvexUploadTrackExInit(PortSession *session, SAFEARRAY **points, HalvexUploadCallback *callback)
{
    TransferRequest request = {points, NULL, 1};
    return TransferExport(session, &TrackExUploads, CallbackOf(callback, &TransferCallback::upload), &request);
}

int32_t HALVEX_CALL HalvexDownloadTrackExInit(PortSession *session, HalvexTrackExCallback *callback)
{
    return TransferExport(session, &TrackExDownloads, CallbackOf(callback, &TransferCallback::trackEx), NULL);
}
