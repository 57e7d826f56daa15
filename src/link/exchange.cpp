/* Reliable exchange: every sent packet waits for its ACK and is sent again
 * after 3 s without one, three times at most; every valid packet received is
 * acknowledged at once and handed to the running objective. */
#include <stdlib.h>
#include <string.h>

#include "../engine/timerqueue.h"
#include "../errlog/errlog.h"
#include "../errlog/lasterror.h"
#include "../port/registry.h"
#include "../port/port.h"
#include "fields.h"
#include "link.h"
#include "state.h"
#include "product.h"
#include "pvt.h"

static void AckTimeout(void *session);

enum { DumpBytesPerLine = 340 };

static void ReleasePendingFrame(PendingFrame *pending)
{
    free(pending->frame);
    pending->frame = NULL;
    pending->length = 0;
}

/* Sends a packet that needs an ACK; the session takes the frame. 0 when its
 * time-out could not be armed: a frame sent without one could wait for its
 * ACK without end, so it is not sent. */
static int SendFrame(PortSession *session, unsigned char *frame, int length)
{
    PendingFrame *pending = &LinkOf(session)->pending;
    /* A new exchange replaces one still waiting for its ACK. */
    ReleasePendingFrame(pending);
    pending->awaitingAck = 0;
    if (!ArmTimer(&pending->ackTimer, session, AckTimeoutMs, AckTimeout)) {
        free(frame);
        return 0;
    }
    pending->frame = frame;
    pending->retriesLeft = Retransmissions;
    pending->length = length;
    pending->awaitingAck = 1;
    WritePort(session, frame, length);
    return 1;
}

int SendPacket(PortSession *session, int id, const unsigned char *data, int length)
{
    int frameLength;
    unsigned char *frame = EncodeFrame(id, data, length, &frameLength);
    if (!frame || !SendFrame(session, frame, frameLength)) {
        SetHalvexError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    return 1;
}

int SendWord(PortSession *session, int id, uint16_t value)
{
    unsigned char data[2];
    WriteField<uint16_t>(data, value);
    return SendPacket(session, id, data, 2);
}

/* Sends the waiting frame again, or when its tries are spent ends the
 * operation with its failure report, why (a Windows error code) saying what
 * made it fail: no answer, or the receiver refusing the frame. */
static void RetryOrAbort(PortSession *session, DWORD why)
{
    PendingFrame *pending = &LinkOf(session)->pending;
    int retry = pending->retriesLeft > 0 && pending->awaitingAck;
    /* A retry whose time-out cannot be armed would wait without end. */
    if (retry && !ArmTimer(&pending->ackTimer, session, AckTimeoutMs, AckTimeout)) {
        retry = 0;
        why = ERROR_NOT_ENOUGH_MEMORY;
    }
    if (!retry) {
        pending->awaitingAck = 0;
        ErrorLog("Halvex Transfer Aborted\n");
        SetHalvexError(why);
        DispatchByObjective(session, DispatchAborted, NULL, 0);
        return;
    }
    pending->retriesLeft--;
    ErrorLog("Halvex retry\n");
    WritePort(session, pending->frame, pending->length);
}

static void AckTimeout(void *context)
{
    PortSession *session = (PortSession *)context;
    PendingFrame *pending = &LinkOf(session)->pending;
    pending->ackTimer = NULL;
    ErrorLog("Communications Timeout retry count=%d\n", pending->retriesLeft);
    uint32_t operation = CurrentOperation(session);
    DispatchByObjective(session, DispatchTimedOut, NULL, 0);
    if (OperationContinues(session, operation))
        RetryOrAbort(session, ERROR_TIMEOUT);
}

TransferState *RunningTransfer(const PortSession *session)
{
    LinkState *link = LinkOf(session);
    return link ? link->transfer : NULL;
}

int PacketRepeated(const PortSession *session) { return LinkOf(session)->repeats.packetRepeated; }

int AwaitingAck(const PortSession *session) { return LinkOf(session)->pending.awaitingAck; }

/* A new operation starts: no packet before it can be repeated into it. */
static void ForgetLastPacket(RepeatWatch *repeats)
{
    repeats->lastPacketLength = 0;
    repeats->packetRepeated = 0;
}

void EnterObjective(PortSession *session, int objective, const ObjectiveEntry *entry, TransferState *work)
{
    ReleaseObjectiveRecord(session);
    BeginOperation(session);
    LinkState *link = LinkOf(session);
    ForgetLastPacket(&link->repeats);
    link->objective = objective;
    link->entry = entry;
    link->transfer = work;
}

void ReturnToReady(PortSession *session)
{
    ReleaseObjectiveRecord(session);
    LinkState *link = LinkOf(session);
    link->entry = NULL;
    link->objective = ObjectiveReady;
}

void DispatchByObjective(PortSession *session, int code, const unsigned char *data, int length)
{
    LinkState *link = LinkOf(session);
    const ObjectiveEntry *entry = link ? link->entry : NULL;
    /* Nothing to say while no mode has the line, or before identification. */
    if (entry && entry->step)
        entry->step(session, link->transfer, code, data, length);
    else if (link ? link->objective != ObjectiveNone : session->mode != NULL)
        ErrorLog("Unknown objective\n");
}

void ReleaseObjectiveRecord(PortSession *session)
{
    LinkState *link = LinkOf(session);
    ReleaseIdentification(link);
    TransferState *work = link->transfer;
    link->transfer = NULL;
    if (work && link->entry && link->entry->release)
        link->entry->release(work);
}

static int ChecksumHolds(const unsigned char *frame, int count)
{
    int size = frame[2];
    /* The checksum sits where the size byte puts it; a frame too short to
     * hold it there fails rather than being read past its end. */
    if (count < size + 6)
        return 0;
    unsigned sum = 0;
    for (int i = 1; i <= 2 + size; i++)
        sum += frame[i];
    return (unsigned char)(0u - sum) == frame[3 + size];
}

static void LogBadFrame(const unsigned char *frame, int count)
{
    ErrorLog("Invalid message received: Check sum failure\n");
    char line[3 * DumpBytesPerLine + 2];
    for (int start = 0; start < count; start += DumpBytesPerLine) {
        int at = 0;
        for (int i = start; i < count && i < start + DumpBytesPerLine; i++)
            at += snprintf(line + at, sizeof line - (size_t)at, "%02x ", frame[i]);
        ErrorLog("%s\n", line);
    }
}

/* Remembers a data packet (its id and data) and says whether it equals the
 * data packet received just before it. ACKs, NAKs and position reports are
 * not part of the stream of records: one may come between a record and the
 * same record sent again. */
static int RepeatsLastPacket(RepeatWatch *repeats, const unsigned char *frame)
{
    if (frame[1] == PacketAck || frame[1] == PacketNak || frame[1] == PacketPvt)
        return 0;
    int length = 1 + frame[2];
    int same = repeats->lastPacketLength == length && memcmp(repeats->lastPacket, frame + 1, 1) == 0 &&
               memcmp(repeats->lastPacket + 1, frame + 3, (size_t)length - 1) == 0;
    repeats->lastPacket[0] = frame[1];
    memcpy(repeats->lastPacket + 1, frame + 3, (size_t)length - 1);
    repeats->lastPacketLength = length;
    return same;
}

/* An ACK settles the frame that waits for it only if it names that frame's
 * id, or names none, as some receivers send them. Anything else would move
 * an upload past a record the receiver never took. */
static int AcknowledgesPending(const PendingFrame *pending, const unsigned char *data, int size)
{
    if (!pending->awaitingAck || !pending->frame) {
        ErrorLog("Ack ignored: no frame awaits one\n");
        return 0;
    }
    if (size >= 1 && data[0] != pending->frame[1]) {
        ErrorLog("Ack of packet %d ignored: packet %d awaits one\n", data[0], pending->frame[1]);
        return 0;
    }
    return 1;
}

void SettlePendingFrame(PortSession *session)
{
    PendingFrame *pending = &LinkOf(session)->pending;
    DisarmTimer(&pending->ackTimer);
    pending->awaitingAck = 0;
    ReleasePendingFrame(pending);
}

void AbortExchange(PortSession *session)
{
    if (LinkObjective(session) < ObjectiveProduct)
        return;
    SettlePendingFrame(session);
    ErrorLog("Halvex Transfer Aborted\n");
    DispatchByObjective(session, DispatchAborted, NULL, 0);
}

void HandleFrame(PortSession *session, const unsigned char *frame, int count)
{
    if (count < 6 || !ChecksumHolds(frame, count)) {
        CountLine(session, &HostLineCounts::badFrames, 1);
        LogBadFrame(frame, count);
        return;
    }
    CountLine(session, &HostLineCounts::frames, 1);
    int id = frame[1];
    int size = frame[2];
    const unsigned char *data = frame + 3;
    LinkState *link = LinkOf(session);
    int repeated = RepeatsLastPacket(&link->repeats, frame);
    if (id == PacketAck) {
        ErrorLog("Ack received\n");
        if (!AcknowledgesPending(&link->pending, data, size))
            return;
        CountLine(session, &HostLineCounts::acks, 1);
        SettlePendingFrame(session);
        DispatchByObjective(session, DispatchAcked, data, size);
    } else if (id == PacketNak) {
        DisarmTimer(&link->pending.ackTimer);
        RetryOrAbort(session, ERROR_CRC);
        ErrorLog("Nak received\n");
        if (IsLiveSession(session))
            DispatchByObjective(session, DispatchNaked, data, size);
    } else {
        unsigned char ack[2] = {(unsigned char)id, 0};
        int length;
        unsigned char *reply = EncodeFrame(PacketAck, ack, 2, &length);
        if (reply) {
            WritePort(session, reply, length);
            free(reply);
        }
        if (id == PacketPvt) {
            PvtHandler(session, PacketPvt + DispatchPacket, data, size);
            return;
        }
        link->repeats.packetRepeated = repeated;
        uint32_t operation = CurrentOperation(session);
        DispatchByObjective(session, id + DispatchPacket, data, size);
        if (OperationContinues(session, operation))
            link->repeats.packetRepeated = 0;
    }
}
