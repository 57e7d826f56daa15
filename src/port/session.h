/* PortSession: one open serial port, as the port layer owns it. The mode in
 * charge of the line (NMEA or the binary link) keeps its own state in a
 * record of its own, which the session points to; the port layer reads only
 * that record's hooks. Every layer touches the session under the engine
 * lock. */
#ifndef HALVEX_SESSION_H
#define HALVEX_SESSION_H

#include "../platform/platform.h"

enum {
    PortNameSize = 20,
    ReadBufferSize = 1024, /* a read takes one byte less, so a NUL can follow */
    ReadChunk = ReadBufferSize - 1,
};

struct PortSession;
struct PortWrite;

/* What the mode in charge of the line does with it. The port layer calls
 * the hooks and knows nothing else of the modes. A null hook is nothing to
 * do. */
struct ModeHooks {
    void (*receive)(PortSession *session, const unsigned char *bytes, int count);
    void (*lineError)(PortSession *session, DWORD errors);
    /* The device went away: the operation under way ends with its report. */
    void (*lose)(PortSession *session);
    /* The mode gives the line back and frees its state, its timers ended and
     * whatever it had under way cut off without a report. */
    void (*leave)(PortSession *session);
    /* The live position stream starts (on) or stops: the mode switches its
     * reports to match. ERROR_SUCCESS, or why the stream cannot start in
     * this mode now; what an "off" returns is not read. */
    DWORD (*reports)(PortSession *session, int on);
};

/* The head of each mode's state record: the mode's own layer reaches the
 * rest, and tells its record from another mode's by the hooks. */
struct ModeState {
    const ModeHooks *hooks;
};

/* Fields are the port layer's own unless marked: as libuv's handles, a
 * "read by" field may be read by the layers named and written only here,
 * unless said. */
struct PortSession {
    /* private: the device, its overlapped operations and the read buffer */
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
    /* A read has been started and its bytes not yet routed; until they are,
     * readBuffer is theirs and an event character only sets readAgain. */
    int readPending;
    int readAgain;
    PortWrite *writesInFlight; /* each write with its own bytes and OVERLAPPED */
    HalvexPortCallback portCallback;
    /* private, read through registry.h: counts the operations started or
     * stopped on the session, and the changes of mode, so that code that
     * called a host callback can tell whether the host moved on. */
    uint32_t operation;
    HostLineCounts counts; /* private: kept by CountLine, for HalvexGetLineCounts */
    PortSession *nextSession; /* private: in the registry, then in the list to free */

    /* read by link/ and nmea/, each to find its own record: null when no
     * mode has the line; set by EnterMode and LeaveMode alone */
    ModeState *mode;
    /* private, read through position.h: the live position's host callback,
     * null when no stream runs. The stream outlives a change of mode; each
     * mode feeds it its own fixes. */
    HalvexPositionCallback positionCallback;
};

enum { ReadFlagNarrowed = 1 };

#endif
