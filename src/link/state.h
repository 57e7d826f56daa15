/* The link's own state, private to link/: the frame being assembled, the
 * frame awaiting its ACK, the repeat watch, the running objective and its
 * record, and what identification learnt. The layers above reach the link
 * through link.h alone. */
#ifndef HALVEX_LINK_STATE_H
#define HALVEX_LINK_STATE_H

#include "link.h"

/* A frame being assembled from the bytes read. */
struct FrameParser {
    int32_t state;
    int32_t count;
    unsigned char *buffer; /* null between frames */
};

/* The frame sent last, kept for retransmission until its ACK. */
struct PendingFrame {
    unsigned char *frame;
    int32_t length;
    int32_t retriesLeft;
    int32_t awaitingAck;
    void *ackTimer;
};

/* The last data packet received, its id first: one equal to it is most
 * often the receiver sending it again because our ACK was lost, and
 * packetRepeated says so while that packet is dispatched. */
struct RepeatWatch {
    unsigned char lastPacket[256];
    int32_t lastPacketLength; /* 0: none since the operation started */
    int32_t packetRepeated;
};

/* Identification's working record: made as the request goes out, freed as
 * identification ends, whether the receiver was identified, the request
 * failed, or another operation or the end of binary mode cut it off. */
struct IdentificationRecord {
    HalvexProductCallback callback;
    void *timer; /* the wait for the receiver's data */
};

struct LinkState : ModeState {
    FrameParser parser;
    PendingFrame pending;
    RepeatWatch repeats;
    int32_t objective;
    const ObjectiveEntry *entry;
    TransferState *transfer; /* the running transfer's working record */
    IdentificationRecord *identification; /* while identification runs */
    uint32_t savedBaud; /* the speed the line had before binary mode */
    ProductRecords product;
};

/* The link's state, or null when binary mode does not have the line. */
LinkState *LinkOf(const PortSession *session);
/* Frees identification's record, if any, its timer ended. */
void ReleaseIdentification(LinkState *link);

#endif
