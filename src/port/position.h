/* The live position stream: the port keeps it, as it outlives a change of
 * mode, and the mode in charge switches its reports on and off through its
 * hook and feeds the stream its fixes. */
#ifndef HALVEX_POSITION_H
#define HALVEX_POSITION_H

#include "session.h"

/* Whether a stream runs: the modes merge and report fixes only for one. */
int PositionStreamRuns(const PortSession *session);
/* A record with nothing given: every double NaN, the rest 0. */
void ClearPosition(HostPosition *position);
/* Hands the fix to the host's callback if a stream runs, its time moved
 * past a rollover of the receiver's week count. The callback may
 * stop the stream or close the port: the caller checks the session is
 * still live before it touches it again. */
void DeliverPosition(PortSession *session, HostPosition *position);

#endif
