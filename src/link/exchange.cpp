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
#include "link.h"
#include "product.h"
#include "pvt.h"

enum { DumpBytesPerLine = 340 };

static void ReleasePendingFrame(PortSession *session)
{
    free(session->pendingFrame);
    session->pendingFrame = NULL;
    session->pendingLength = 0;
}

void SendFrame(PortSession *session, unsigned char *frame, int length)
{
    /* A new exchange replaces one still waiting for its ACK. */
    ReleasePendingFrame(session);
    ArmTimer(&session->ackTimer, session, AckTimeoutMs, AckTimeout);
    session->pendingFrame = frame;
    session->retriesLeft = Retransmissions;
    session->pendingLength = length;
    session->awaitingAck = 1;
    WritePort(session, frame, length);
}

int SendPacket(PortSession *session, int id, const unsigned char *data, int length)
{
    int frameLength;
    unsigned char *frame = EncodeFrame(id, data, length, &frameLength);
    if (!frame) {
        SetHalvexError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    SendFrame(session, frame, frameLength);
    return 1;
}

void RetryOrAbort(PortSession *session, DWORD why)
{
    if (session->retriesLeft == 0 || !session->awaitingAck) {
        session->awaitingAck = 0;
        ErrorLog("Halvex Transfer Aborted\n");
        SetHalvexError(why);
        DispatchByObjective(session, DispatchAborted, NULL, 0);
        return;
    }
    session->retriesLeft--;
    ErrorLog("Halvex retry\n");
    WritePort(session, session->pendingFrame, session->pendingLength);
    ArmTimer(&session->ackTimer, session, AckTimeoutMs, AckTimeout);
}

void AckTimeout(void *context)
{
    PortSession *session = (PortSession *)context;
    session->ackTimer = NULL;
    ErrorLog("Communications Timeout retry count=%d\n", session->retriesLeft);
    DispatchByObjective(session, DispatchTimedOut, NULL, 0);
    if (IsLiveSession(session))
        RetryOrAbort(session, ERROR_TIMEOUT);
}

enum { ObjectiveCount = ObjectiveTrackDownload + 1 };
static const ObjectiveEntry *objectiveEntries[ObjectiveCount]; /* engine lock */

void SetObjectiveEntry(int objective, const ObjectiveEntry *entry) { objectiveEntries[objective] = entry; }

static const ObjectiveEntry *RunningEntry(const PortSession *session)
{
    int objective = session->objective;
    return objective > ObjectiveNone && objective < ObjectiveCount ? objectiveEntries[objective] : NULL;
}

void DispatchByObjective(PortSession *session, int code, const unsigned char *data, int length)
{
    const ObjectiveEntry *entry = RunningEntry(session);
    if (entry && entry->step)
        entry->step(session, code, data, length);
    else if (session->objective != ObjectiveNone)
        ErrorLog("Unknown objective\n");
}

void ReleaseObjectiveRecord(PortSession *session)
{
    const ObjectiveEntry *entry = RunningEntry(session);
    if (entry && entry->release)
        entry->release(session);
    session->transferData = NULL;
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
static int RepeatsLastPacket(PortSession *session, const unsigned char *frame)
{
    if (frame[1] == PacketAck || frame[1] == PacketNak || frame[1] == PacketPvt)
        return 0;
    int length = 1 + frame[2];
    int same = session->lastPacketLength == length && memcmp(session->lastPacket, frame + 1, 1) == 0 &&
               memcmp(session->lastPacket + 1, frame + 3, (size_t)length - 1) == 0;
    session->lastPacket[0] = frame[1];
    memcpy(session->lastPacket + 1, frame + 3, (size_t)length - 1);
    session->lastPacketLength = length;
    return same;
}

/* An ACK settles the frame that waits for it only if it names that frame's
 * id, or names none, as some receivers send them. Anything else would move
 * an upload past a record the receiver never took. */
static int AcknowledgesPending(const PortSession *session, const unsigned char *data, int size)
{
    if (!session->awaitingAck || !session->pendingFrame) {
        ErrorLog("Ack ignored: no frame awaits one\n");
        return 0;
    }
    if (size >= 1 && data[0] != session->pendingFrame[1]) {
        ErrorLog("Ack of packet %d ignored: packet %d awaits one\n", data[0], session->pendingFrame[1]);
        return 0;
    }
    return 1;
}

void ForgetLastPacket(PortSession *session)
{
    session->lastPacketLength = 0;
    session->packetRepeated = 0;
}

void SettlePendingFrame(PortSession *session)
{
    DisarmTimer(&session->ackTimer);
    session->awaitingAck = 0;
    ReleasePendingFrame(session);
}

void AbortExchange(PortSession *session)
{
    if (session->objective < ObjectiveProduct)
        return;
    SettlePendingFrame(session);
    ErrorLog("Halvex Transfer Aborted\n");
    DispatchByObjective(session, DispatchAborted, NULL, 0);
}

void HandleFrame(PortSession *session, const unsigned char *frame, int count)
{
    if (count < 6 || !ChecksumHolds(frame, count)) {
        LogBadFrame(frame, count);
        return;
    }
    int id = frame[1];
    int size = frame[2];
    const unsigned char *data = frame + 3;
    int repeated = RepeatsLastPacket(session, frame);
    if (id == PacketAck) {
        ErrorLog("Ack received\n");
        if (!AcknowledgesPending(session, data, size))
            return;
        SettlePendingFrame(session);
        DispatchByObjective(session, DispatchAcked, data, size);
    } else if (id == PacketNak) {
        DisarmTimer(&session->ackTimer);
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
        session->packetRepeated = repeated;
        DispatchByObjective(session, id + DispatchPacket, data, size);
        if (IsLiveSession(session))
            session->packetRepeated = 0;
    }
}
