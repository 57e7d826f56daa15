/* Fixes on their way to the host's position callback, from whichever mode
 * has the line. */
#ifndef HALVEX_POSITION_H
#define HALVEX_POSITION_H

#include "session.h"

/* A record with nothing given: every double NaN, the rest 0. */
void ClearPosition(HostPosition *position);
/* Hands the fix to the host's callback if a stream runs, its time moved
 * past a rollover of the receiver's week count. The callback may
 * stop the stream or close the port: the caller checks the session is
 * still live before it touches it again. */
void DeliverPosition(PortSession *session, HostPosition *position);

#endif
