/* The receiver's binary link protocol: frames, acknowledgement and
 * retransmission, and the routing of packets to the running objective. */
#ifndef HALVEX_LINK_H
#define HALVEX_LINK_H

#include "../port/session.h"

enum PacketId {
    PacketAck = 6,
    PacketCommand = 10,
    PacketXferComplete = 12,
    PacketNak = 21,
    PacketRecords = 27,
    PacketRouteHeader = 29,
    PacketRouteWaypoint = 30,
    PacketTrackPoint = 34,
    PacketWaypoint = 35,
    PacketPvt = 51,
    PacketRouteLink = 98,
    PacketTrackHeader = 99,
    PacketProtocolArray = 253,
    PacketProductRequest = 254,
    PacketProductData = 255,
};

enum Command {
    CommandAbortTransfer = 0,
    CommandTransferRoutes = 4,
    CommandTransferTracks = 6,
    CommandTransferWaypoints = 7,
    CommandStartPvt = 49, /* the receiver's position reports, once a second */
    CommandStopPvt = 50,
};

/* What an objective handler is told: the first four, or a packet's id + 4. */
enum DispatchCode {
    DispatchAcked = 0,
    DispatchNaked = 1,
    DispatchTimedOut = 2,
    DispatchAborted = 3,
    DispatchPacket = 4,
};

enum { FrameLimit = 522, AckTimeoutMs = 3000, Retransmissions = 3 };

/* A new frame for the packet and its length in bytes; null when no memory. */
unsigned char *EncodeFrame(int id, const unsigned char *data, int length, int *frameLength);
/* Feeds bytes read in a binary objective to the frame decoder. */
void LinkReceive(PortSession *session, const unsigned char *bytes, int count);
/* A complete frame from the decoder, DLE to ETX with doubled DLEs stored once. */
void HandleFrame(PortSession *session, const unsigned char *frame, int count);

/* Sends a packet that needs an ACK; the session takes the frame. */
void SendFrame(PortSession *session, unsigned char *frame, int length);
/* Encodes a packet and sends it with SendFrame; 0 when no memory was left. */
int SendPacket(PortSession *session, int id, const unsigned char *data, int length);
void AckTimeout(void *session);
/* Sends the waiting frame again, or when its tries are spent ends the
 * operation with its failure report, why (a Windows error code) saying what
 * made it fail: no answer, or the receiver refusing the frame. */
void RetryOrAbort(PortSession *session, DWORD why);
/* What an objective does with the codes the link hands it, and how its
 * working record is freed when the objective is cut off (null: it has
 * none). The layers that own objectives register their entries, each as it
 * enters its objective. */
struct ObjectiveEntry {
    void (*step)(PortSession *session, int code, const unsigned char *data, int length);
    void (*release)(PortSession *session);
};
/* Registers the entry of an objective (engine lock held). */
void SetObjectiveEntry(int objective, const ObjectiveEntry *entry);
/* Hands a dispatch code to the running objective's step. */
void DispatchByObjective(PortSession *session, int code, const unsigned char *data, int length);
/* Frees the working record of the running objective, if any: an objective
 * cut off by leaving binary mode, or by another operation, ends there. */
void ReleaseObjectiveRecord(PortSession *session);
/* The frame awaiting its ACK needs it no more: no retransmission follows. */
void SettlePendingFrame(PortSession *session);
/* Gives up the exchange under way as running out of retries would: the
 * running operation ends with its failure report. */
void AbortExchange(PortSession *session);
/* A new operation starts: no packet before it can be repeated into it. */
void ForgetLastPacket(PortSession *session);

/* Takes the line for binary mode: its speed and event character, and the
 * session's mode hooks. */
int PrepareLinkPort(PortSession *session);
/* Leaves binary mode: restores the line, releases the product records. */
void StopHalvex(PortSession *session);
/* Reports line errors to the running operation's host callback. */
void HalvexErrorProc(PortSession *session, DWORD errors);

#endif
