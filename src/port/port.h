/* The port session: opening and configuring the line, the line-event wait,
 * reads started by the event character, and the routing of what was read. */
#ifndef HALVEX_PORT_H
#define HALVEX_PORT_H

#include "session.h"

/* Closes a live session; anything else is ignored. Engine lock held. */
void ClosePortSession(PortSession *session);

/* Empties both queues of the line and ends what is under way on them. */
void PurgePort(PortSession *session);
/* The line's speed and event character for a mode (no output flow
 * control); the speed it had before in *baudBefore, unless null. */
void SetLineMode(PortSession *session, DWORD baud, char eventChar, DWORD *baudBefore);

/* Hands the line to a mode, whose state the session keeps until the mode
 * leaves: the mode in charge leaves first. */
void EnterMode(PortSession *session, ModeState *state);
/* The mode in charge, if any, leaves: its leave hook frees its state. */
void LeaveMode(PortSession *session);

/* Adds to one of the session's line counts, which stop at their limit. */
void CountLine(PortSession *session, int32_t HostLineCounts::*count, int32_t by);

/* Writes bytes to the port without waiting; the write keeps its own copy.
 * 1 when the write was started. */
int WritePort(PortSession *session, const unsigned char *bytes, int length);
/* Frees the writes the port has finished with; all of them once the port is
 * closed. */
void ReapWrites(PortSession *session, int all);
/* Waits until the port has finished with every write in flight (cancelled
 * ones included), the port still open. */
void AwaitWrites(PortSession *session);

int InitiateCommWait(PortSession *session);
void IoCompletedHandler(HANDLE handle, void *session);
void SendCompletedHandler(HANDLE handle, void *session);
void ReadCompletedHandler(HANDLE handle, void *session);

#endif
