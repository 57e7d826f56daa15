/* The receiver's binary link protocol: frames, acknowledgement and
 * retransmission, and the routing of packets to the running objective. Its
 * state is a record of its own, made as binary mode takes the line and freed
 * as it leaves; the layers above reach it only through the functions here. */
#ifndef HALVEX_LINK_H
#define HALVEX_LINK_H

#include "../port/session.h"
#include "product.h"

enum PacketId {
    PacketAck = 6,
    PacketCommand = 10,
    PacketXferComplete = 12,
    PacketDateTime = 14,
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
    CommandTransferTime = 5,
    CommandTransferTracks = 6,
    CommandTransferWaypoints = 7,
    CommandStartPvt = 49, /* the receiver's position reports, once a second */
    CommandStopPvt = 50,
};

/* What the link is doing; ObjectiveNone when binary mode does not have the
 * line. */
enum Objective {
    ObjectiveNone = 0,
    ObjectiveReady = 2,
    ObjectiveProduct = 3,
    ObjectiveRouteUpload = 4,
    ObjectiveRouteDownload = 5,
    ObjectiveWaypointUpload = 6,
    ObjectiveWaypointDownload = 7,
    ObjectiveTrackUpload = 8,
    ObjectiveTrackDownload = 9,
    ObjectiveClock = 10,
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

struct TransferState; /* a transfer's working record, the transfer layer's */

/* What an objective does with the codes the link hands it, and how its
 * working record is freed when the objective ends or is cut off (null: it
 * has none). */
struct ObjectiveEntry {
    void (*step)(PortSession *session, TransferState *work, int code, const unsigned char *data, int length);
    void (*release)(TransferState *work);
};

/* The running objective; ObjectiveNone when binary mode does not have the line. */
int LinkObjective(const PortSession *session);
/* Whether the link can start a transfer or a command now: ERROR_SUCCESS;
 * ERROR_NOT_READY when the receiver is not identified (never, or the
 * identification failed) or binary mode does not have the line;
 * ERROR_BUSY while another operation runs. */
DWORD LinkReady(const PortSession *session);
/* The running objective's working record, or null. */
TransferState *RunningTransfer(const PortSession *session);
/* Whether the packet being dispatched repeats the one before it. */
int PacketRepeated(const PortSession *session);
/* Whether the frame sent last still waits for its ACK. */
int AwaitingAck(const PortSession *session);

/* A new frame for the packet and its length in bytes; null when no memory. */
unsigned char *EncodeFrame(int id, const unsigned char *data, int length, int *frameLength);
/* Feeds bytes read in binary mode to the frame decoder. */
void LinkReceive(PortSession *session, const unsigned char *bytes, int count);
/* A complete frame from the decoder, DLE to ETX with doubled DLEs stored once. */
void HandleFrame(PortSession *session, const unsigned char *frame, int count);

/* Encodes a packet and sends it with SendFrame; 0 when no memory was left. */
int SendPacket(PortSession *session, int id, const unsigned char *data, int length);
/* A packet of one 16-bit word (a command, a transfer's end), as SendPacket. */
int SendWord(PortSession *session, int id, uint16_t value);
/* Starts an objective on the link: whatever ran is cut off (its record
 * released), no packet before it can be repeated into it, and the running
 * entry and working record become these. */
void EnterObjective(PortSession *session, int objective, const ObjectiveEntry *entry, TransferState *work);
/* The objective ends: its record released, the link ready again. */
void ReturnToReady(PortSession *session);
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

/* Binary mode takes the line: its speed and event character, and a new
 * state of the link, ready for identification. 0 when no memory was left. */
int PrepareLinkPort(PortSession *session);
/* Reports line errors to the running operation's host callback. */
void HalvexErrorProc(PortSession *session, DWORD errors);

#endif
