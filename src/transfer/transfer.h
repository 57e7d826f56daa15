/* Waypoint, route and track transfers: the handlers that the link protocol
 * calls for their objectives, their working record, and what they share. */
#ifndef HALVEX_TRANSFER_H
#define HALVEX_TRANSFER_H

#include "../link/link.h"
#include "../port/portcall.h"
#include "../port/session.h"
#include "records.h"

void RouteDownloadStep(PortSession *session, TransferState *work, int code, const unsigned char *data, int length);

/* The host's callback of the transfer under way, by kind. */
union TransferCallback {
    HalvexUploadCallback upload;
    HalvexWaypointCallback waypoints;
    HalvexRouteCallback routes;
    HalvexTrackCallback track;
    HalvexWaypointExCallback waypointsEx;
    HalvexRouteExCallback routesEx;
    HalvexTrackExCallback trackEx;
    HalvexTimeCallback clock;
};

/* The records a transfer carries, by kind. */
union TransferRecords {
    RouteRecord *waypoints; /* waypoint transfers: the records of one list */
    RouteList *routes;
    TrackList *track; /* a download keeps only the last point handed on */
};

struct TransferKind;

/* A transfer's working record: made as the transfer starts, freed as it
 * ends or is cut off. */
struct TransferState {
    const TransferKind *kind;
    int32_t step; /* an upload's progress */
    TransferCallback callback;
    TransferRecords records;
    void *stallTimer; /* a download's wait for the receiver's next packet */
    /* A download's tally: the records the receiver announced (-1 until it
     * does), those taken, and repeats held back until the count decides. */
    int32_t recordsAnnounced;
    int32_t recordsTaken;
    int32_t repeatsHeld;
    /* Progress through the records, which hold data alone. */
    int32_t currentRoute; /* route uploads: the route being sent */
    int32_t links;        /* route downloads: route links taken (they carry nothing kept) */
    /* Track downloads: a track header came, so the next point starts a
     * track. Track uploads: the header of the next point has gone. */
    int32_t startsTrack;
    int32_t tracksSent; /* track uploads: headers sent so far */
};

/* The host's arrays of an upload: its records (waypoints, routes or track
 * points) and, for routes, their waypoints. */
struct TransferRequest {
    SAFEARRAY **records;
    SAFEARRAY **waypoints;
    int extended; /* the arrays hold the extended records */
};

/* The host's callback as the export was given it (null: none), kept as the
 * member of its kind. */
template <typename Callback> TransferCallback CallbackOf(Callback *callback, Callback TransferCallback::*member)
{
    TransferCallback call;
    call.*member = callback ? *callback : NULL;
    return call;
}

/* Why a transfer cannot start on the session now, or ERROR_SUCCESS. */
DWORD ReadyForTransfer(const PortSession *session);
/* Fills a transfer's records from the host's arrays and sets the word of
 * its first packet; 0 refuses the transfer. */
typedef int (*PrepareTransfer)(PortSession *session, const TransferRequest *request, TransferRecords *records,
                               uint16_t *word);
/* How a kind of transfer runs: its objective, its step, the packet that
 * starts it and how its records are made and freed. */
struct TransferKind {
    int objective;
    ObjectiveEntry entry;
    int packetId;
    PrepareTransfer prepare;
    void (*freeRecords)(TransferRecords *records);
    int extended; /* the host's records are the extended ones */
};
/* The kind's form of the host's waypoint records. */
const struct HostWaypointForm *WaypointFormOf(const TransferState *work);
const struct HostWaypointForm *RequestForm(const TransferRequest *request);
/* The body of every transfer export: a live and ready session prepares the
 * working record, enters the objective and sends the first packet (packetId
 * with the word), and the call wakes the dispatch thread, so that the
 * packet's time-out is honoured. 1 when started; when the packet cannot be
 * sent the record is released and the session stays ready. */
int32_t StartTransfer(PortCall &call, PortSession *session, const TransferKind *kind, TransferCallback callback,
                      const TransferRequest *request);
/* A transfer export whose only check is StartTransfer's. */
int32_t TransferExport(PortSession *session, const TransferKind *kind, TransferCallback callback,
                       const TransferRequest *request);
/* Frees a working record, its records by kind and its timer ended. */
void ReleaseTransfer(TransferState *work);
/* How a download takes its records and ends. */
struct DownloadKind {
    /* Takes a data packet of the download; 0 when its record could not be
     * kept. Packets of other kinds are passed over. */
    int (*take)(PortSession *session, TransferState *work, int packetId, const unsigned char *data, int length);
    /* On the transfer complete, first: drops the repeats the announced
     * count does not account for; 0 when records are missing, which fails
     * the download. Null: nothing to settle. */
    int (*settle)(PortSession *session, TransferState *work);
    /* Then hands the records to the host; 0 when the host stopped the
     * download. */
    int (*finish)(PortSession *session, TransferState *work);
    /* Ends the download with its failure report. */
    void (*fail)(PortSession *session, TransferState *work);
};
/* A download's handler: its progress noted, data packets taken, the end
 * logged with the count the transfer complete gives; an abort, or a record
 * that could not be kept (never dropped quietly), fails the download. */
void DownloadStep(PortSession *session, TransferState *work, int code, const unsigned char *data, int length,
                  const DownloadKind *kind);
/* Of the repeats of a download (packets equal to the one before, most often
 * sent again because our ACK was lost), how many the announced count says
 * are real records: received counts every packet taken, repeats included. */
int RepeatsToKeep(const TransferState *work, int received, int repeats);
/* Logs a download whose record count differs from the one announced; 1
 * when records are missing, which makes the download a failure: a frame
 * lost on the line must never pass for a complete transfer. */
int RecordsMissing(const TransferState *work, int records);
/* Back to ready once the host has been called, unless the host moved on
 * from its callback: operation is the session's, read before the call. */
void EndTransfer(PortSession *session, uint32_t operation);
/* Ends an upload: the host told (status 0 done, 1 aborted), the session
 * ready; an abort is logged with failureLine. */
void EndUpload(PortSession *session, TransferState *work, int32_t status, const char *failureLine);
/* An upload's handler: onAck sends what follows the acknowledged packet;
 * an abort ends the upload; NAKs and time-outs are the link's to retry;
 * data packets are only logged. */
void UploadStep(PortSession *session, TransferState *work, int code, void (*onAck)(PortSession *session, TransferState *work),
                const char *failureLine);
/* On an ACK of an upload of count records: record step - 1 (sendRecord),
 * then the transfer complete with command, then, on its ACK, the end. A
 * record that cannot be sent (no encoder for the type) ends the upload as
 * aborted, since no ACK would ever come. */
void SendNextRecord(PortSession *session, TransferState *work, int count,
                    int (*sendRecord)(PortSession *session, TransferState *work, int k),
                    uint16_t command, const char *failureLine);

/* Route headers in the receiver's type (200, 201, 202); 0 when the type is
 * unknown and nothing was sent. */
int EncodeRouteHeader(PortSession *session, const RouteRecord *route);
void DecodeRouteHeader(const ProtocolCaps *caps, const unsigned char *data, int length, RouteRecord *route);
/* The receiver's track point type: 301 or 302 where it says so, else 300. */
int TrackPointType(const ProtocolCaps *caps);
/* Track points of that type (D300 16 bytes, D301 21, D302 25), never read
 * past length; the encoder gives the length written (room for 25 bytes). */
void DecodeTrackPoint(int type, const unsigned char *data, int length, TrackPointRecord *point);
int EncodeTrackPointData(int type, const TrackPointRecord *point, unsigned char *data);
/* The header of the track-th track in type 310, 311 or 312 (room for 64
 * bytes): its length, or 0 for another type. */
int EncodeTrackHeaderData(int type, int track, const TrackPointRecord *first, unsigned char *data);
/* A D310 or D312 header's name, colour and display into first. */
void DecodeTrackHeader(int type, const unsigned char *data, int length, TrackPointRecord *first);

/* The receiver's date-and-time record (8 bytes: month, day, year, hour,
 * minute, second, UTC) as an OLE date; 0 when it is short or no date. */
int DecodeDateTime(const unsigned char *data, int length, double *date);

void LogWaypoint(const WaypointRecord *record);

#endif
