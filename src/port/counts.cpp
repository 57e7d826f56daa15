/* What has crossed the line since the port was opened. */
#include <stdint.h>

#include "port.h"
#include "portcall.h"

void CountLine(PortSession *session, int32_t HostLineCounts::*count, int32_t by)
{
    int32_t &held = session->counts.*count;
    held = by > INT32_MAX - held ? INT32_MAX : held + by;
}

int32_t HALVEX_CALL HalvexGetLineCounts(PortSession *session, HostLineCounts *counts)
{
    PortCall call(session);
    if (call.Ok() && !counts)
        return call.Fail(ERROR_INVALID_PARAMETER);
    if (call.Ok())
        *counts = session->counts;
    return call.Ok();
}
