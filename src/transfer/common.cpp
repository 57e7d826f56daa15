#include <stdlib.h>

#include "../engine/dispatch.h"
#include "../engine/enginelock.h"
#include "../engine/timerqueue.h"
#include "../errlog/errlog.h"
#include "../errlog/lasterror.h"
#include "../link/fields.h"
#include "../link/link.h"
#include "../port/registry.h"
#include "records.h"
#include "marshal.h"
#include "transfer.h"

static void LogUnexpectedPacket(int code);

DWORD ReadyForTransfer(const PortSession *session)
{
    return IsLiveSession(session) ? LinkReady(session) : ERROR_INVALID_HANDLE;
}

void ReleaseTransfer(TransferState *work)
{
    DisarmTimer(&work->stallTimer);
    work->kind->freeRecords(&work->records);
    free(work);
}

/* A new working record for the host's request; null refuses the transfer. */
static TransferState *NewTransfer(PortSession *session, const TransferKind *kind, TransferCallback callback,
                                  const TransferRequest *request, uint16_t *word)
{
    TransferState *work = (TransferState *)calloc(1, sizeof *work);
    if (!work)
        return NULL;
    work->kind = kind;
    work->callback = callback;
    work->step = 1;
    work->recordsAnnounced = -1;
    if (kind->prepare(session, request, &work->records, word))
        return work;
    free(work);
    return NULL;
}

const HostWaypointForm *WaypointFormOf(const TransferState *work)
{
    return work->kind->extended ? &ExtendedWaypoints : &ClassicWaypoints;
}

const HostWaypointForm *RequestForm(const TransferRequest *request)
{
    return request->extended ? &ExtendedWaypoints : &ClassicWaypoints;
}

int32_t StartTransfer(PortCall &call, PortSession *session, const TransferKind *kind, TransferCallback callback,
                      const TransferRequest *request)
{
    if (call.Ok())
        call.why = ReadyForTransfer(session);
    if (!call.Ok())
        return 0;
    uint16_t word = 0;
    TransferState *work = NewTransfer(session, kind, callback, request, &word);
    /* An upload's arrays can be unusable (null, inconsistent, more records
     * than a transfer carries); a download's record only lacks memory. */
    if (!work)
        return call.Fail(request ? ERROR_INVALID_PARAMETER : ERROR_NOT_ENOUGH_MEMORY);
    EnterObjective(session, kind->objective, &kind->entry, work);
    if (!SendWord(session, kind->packetId, word)) {
        ReturnToReady(session);
        return call.Fail(ERROR_NOT_ENOUGH_MEMORY);
    }
    call.wake = true;
    return 1;
}

int32_t TransferExport(PortSession *session, const TransferKind *kind, TransferCallback callback,
                       const TransferRequest *request)
{
    PortCall call(session);
    return StartTransfer(call, session, kind, callback, request);
}

/* A receiver silent for as long as the library waits on its own frames
 * (the first send and every retransmission) is taken to be gone. */
enum { DownloadSilenceMs = AckTimeoutMs * (Retransmissions + 1) };

static void DownloadStalled(void *context)
{
    PortSession *session = (PortSession *)context;
    RunningTransfer(session)->stallTimer = NULL;
    ErrorLog("Nothing received for %d ms: download given up\n", DownloadSilenceMs);
    SetHalvexError(ERROR_TIMEOUT);
    DispatchByObjective(session, DispatchAborted, NULL, 0);
}

/* What every download does first with a dispatch code: a transfer
 * complete before the records count is a stale one and ignored; a packet
 * settles the command if its ACK was lost; the command's ACK and every
 * packet restart its silence timer, the end stops it, and a records packet
 * (logged here) sets the count announced. 0 when the code was a records
 * packet or a stale transfer complete and nothing is left to do with it. */
static int NoteDownloadProgress(PortSession *session, TransferState *work, int code, const unsigned char *data,
                                int length)
{
    /* Every download announces its records first, so a transfer complete
     * before that is left over from the transfer before: the receiver sent
     * it again because our ACK of it was lost. Acknowledged by the link, it
     * neither settles the command nor ends this download. */
    if (code == PacketXferComplete + DispatchPacket && work->recordsAnnounced < 0) {
        ErrorLog("Xfer complete before the records count ignored\n");
        return 0;
    }
    /* A packet of the download shows that the receiver took the command,
     * even if its ACK was lost: sent again, the command would start the
     * download anew in the middle of this one. */
    if (code >= DispatchPacket && AwaitingAck(session)) {
        ErrorLog("Command taken as acknowledged by the download's first packet\n");
        SettlePendingFrame(session);
    }
    if (code == PacketXferComplete + DispatchPacket || code == DispatchAborted) {
        DisarmTimer(&work->stallTimer);
    } else if ((code == DispatchAcked || code >= DispatchPacket) &&
               !ArmTimer(&work->stallTimer, session, DownloadSilenceMs, DownloadStalled)) {
        /* Without its silence timer the download could wait without end. */
        SetHalvexError(ERROR_NOT_ENOUGH_MEMORY);
        DispatchByObjective(session, DispatchAborted, NULL, 0);
        return 0;
    }
    if (code != PacketRecords + DispatchPacket)
        return 1;
    if (!PacketRepeated(session)) {
        work->recordsAnnounced = ReadField<uint16_t>(data, length, 0);
        ErrorLog("Records=%d\n", work->recordsAnnounced);
    }
    return 0;
}

void DownloadStep(PortSession *session, TransferState *work, int code, const unsigned char *data, int length,
                  const DownloadKind *kind)
{
    if (!NoteDownloadProgress(session, work, code, data, length))
        return;
    if (code == DispatchAborted) {
        kind->fail(session, work);
    } else if (code == PacketXferComplete + DispatchPacket) {
        if (kind->settle && !kind->settle(session, work)) {
            kind->fail(session, work);
            return;
        }
        uint32_t operation = CurrentOperation(session);
        if (kind->finish(session, work)) {
            EndTransfer(session, operation);
            ErrorLog("Xfer complete=%d\n", ReadField<uint16_t>(data, length, 0));
        }
    } else if (code >= DispatchPacket && !kind->take(session, work, code - DispatchPacket, data, length)) {
        SetHalvexError(ERROR_NOT_ENOUGH_MEMORY);
        kind->fail(session, work);
    }
}

int RepeatsToKeep(const TransferState *work, int received, int repeats)
{
    if (work->recordsAnnounced < 0)
        return 0;
    int keep = work->recordsAnnounced - (received - repeats);
    return keep < 0 ? 0 : keep > repeats ? repeats : keep;
}

int RecordsMissing(const TransferState *work, int records)
{
    if (work->recordsAnnounced < 0 || work->recordsAnnounced == records)
        return 0;
    ErrorLog("Records announced %d, received %d\n", work->recordsAnnounced, records);
    if (records > work->recordsAnnounced)
        return 0;
    SetHalvexError(ERROR_INVALID_DATA);
    return 1;
}

void EndTransfer(PortSession *session, uint32_t operation)
{
    if (!OperationContinues(session, operation))
        return;
    ReturnToReady(session); /* the working record goes with the objective */
}

void EndUpload(PortSession *session, TransferState *work, int32_t status, const char *failureLine)
{
    uint32_t operation = CurrentOperation(session);
    HalvexUploadCallback callback = work->callback.upload;
    if (callback)
        callback(status, 0);
    EndTransfer(session, operation);
    if (status)
        ErrorLog("%s", failureLine);
}

void UploadStep(PortSession *session, TransferState *work, int code, void (*onAck)(PortSession *session, TransferState *work),
                const char *failureLine)
{
    switch (code) {
    case DispatchAcked:
        onAck(session, work);
        break;
    case DispatchAborted:
        EndUpload(session, work, HalvexUploadAborted, failureLine);
        break;
    case DispatchNaked:
    case DispatchTimedOut:
        break;
    default:
        LogUnexpectedPacket(code);
        break;
    }
}

void SendNextRecord(PortSession *session, TransferState *work, int count,
                    int (*sendRecord)(PortSession *session, TransferState *work, int k), uint16_t command,
                    const char *failureLine)
{
    int k = work->step - 1;
    if (k > count) {
        EndUpload(session, work, HalvexTransferDone, failureLine); /* that was the ACK of the transfer complete */
        return;
    }
    int sent = k < count ? sendRecord(session, work, k) : SendWord(session, PacketXferComplete, command);
    if (sent)
        work->step++;
    else
        EndUpload(session, work, HalvexUploadAborted, failureLine);
}

void LogWaypoint(const WaypointRecord *record)
{
    ErrorLog("WayPt=%-6.6s lat=%lf, lon=%lf cmnt=%-40.40s\n", record->ident, record->latitude, record->longitude,
             record->comment);
}

/* An upload only logs the data packets that come its way. */
static void LogUnexpectedPacket(int code)
{
    /* The line keeps its historical format, whose 0 flag is redundant. */
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat"
    ErrorLog("Packet received: %02.2x\n", code - DispatchPacket);
#pragma GCC diagnostic pop
}
