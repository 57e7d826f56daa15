/* PortSession: one open serial port and everything known about the
 * conversation on it. Every subsystem reads and writes it under the engine
 * lock. */
#ifndef HALVEX_SESSION_H
#define HALVEX_SESSION_H

#include "../platform/platform.h"

enum {
    PortNameSize = 20,
    ReadBufferSize = 1024, /* a read takes one byte less, so a NUL can follow */
    ReadChunk = ReadBufferSize - 1,
};

/* What the session is doing, and so where received bytes go. */
enum Objective {
    ObjectiveNone = 0,
    ObjectiveNmea = 1,
    ObjectiveReady = 2,
    ObjectiveProduct = 3,
    ObjectiveRouteUpload = 4,
    ObjectiveRouteDownload = 5,
    ObjectiveWaypointUpload = 6,
    ObjectiveWaypointDownload = 7,
    ObjectiveTrackUpload = 8,
    ObjectiveTrackDownload = 9,
};

struct ProtocolCaps;
struct FixEpoch;
struct PortSession;

/* What the mode in charge of the line (NMEA or the binary link) does with
 * it. The mode sets its hooks as it takes the line and clears them as it
 * leaves; the port layer calls them and knows nothing of the modes. A null
 * hook is nothing to do. */
struct ModeHooks {
    void (*receive)(PortSession *session, const unsigned char *bytes, int count);
    void (*lineError)(PortSession *session, DWORD errors);
    /* The device went away: the operation under way ends with its report. */
    void (*lose)(PortSession *session);
    /* The port closes under the mode. */
    void (*stop)(PortSession *session);
};

struct PortSession {
    char portName[PortNameSize];
    HANDLE portHandle;
    OVERLAPPED waitOverlapped;
    HANDLE ioCompletedEvent;
    OVERLAPPED readOverlapped;
    HANDLE sendCompletedEvent;
    HANDLE readCompletedEvent;
    DWORD eventMask;
    uint32_t readFlags; /* ReadFlagNarrowed once the event mask has been narrowed */
    unsigned char *readBuffer;
    int32_t parseState;
    int32_t parseCount;
    unsigned char *frameBuffer;
    void *ackTimer;
    void *modeTimer;
    int32_t objective;
    const ModeHooks *mode; /* null when no mode has the line */
    int32_t step;
    int32_t nmeaTimeout;
    uint32_t savedBaud;
    HalvexPortCallback portCallback;
    void *hostCallback;
    SAFEARRAY **nmeaTable;
    unsigned char *productData;
    ProtocolCaps *protocolCaps;
    unsigned char *protocolArray; /* as received, or made from the table row */
    int32_t protocolArrayLength;
    int32_t typesFromTable; /* the types came from the table, not the receiver */
    void *transferData;
    int32_t recordCount;
    int32_t awaitingAck;
    unsigned char *pendingFrame;
    int32_t pendingLength;
    int32_t retriesLeft;

    /* The last data packet received, its id first: one equal to it is most
     * often the receiver sending it again because our ACK was lost, and
     * packetRepeated says so while that packet is dispatched. */
    unsigned char lastPacket[256];
    int32_t lastPacketLength; /* 0: none since the operation started */
    int32_t packetRepeated;
    /* A download's tally: the records the receiver announced (-1 until it
     * does), those taken, and repeats held back until the count decides. */
    int32_t recordsAnnounced;
    int32_t recordsTaken;
    int32_t repeatsHeld;
    /* Counts the operations started or stopped on the session, so that code
     * that called a host callback can tell whether the host moved on. */
    uint32_t operation;

    /* A read has been started and its bytes not yet routed; until they are,
     * readBuffer is theirs and an event character only sets readAgain. */
    int readPending;
    int readAgain;
    /* Live position: the host's callback, null when no stream runs, and the
     * NMEA fix epoch being merged (plain memory, freed with the session). */
    HalvexPositionCallback positionCallback;
    FixEpoch *fixEpoch;
    void *writesInFlight; /* each write with its own bytes and OVERLAPPED */
    PortSession *nextSession; /* in the registry, then in the list to free */
};

enum { ReadFlagNarrowed = 1 };

#endif
