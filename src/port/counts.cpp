/* What has crossed the line since the port was opened. */
#include <stdint.h>

#include "../engine/enginelock.h"
#include "../errlog/lasterror.h"
#include "port.h"
#include "registry.h"

void CountLine(PortSession *session, int32_t HostLineCounts::*count, int32_t by)
{
    int32_t &held = session->counts.*count;
    held = by > INT32_MAX - held ? INT32_MAX : held + by;
}

int32_t HALVEX_CALL HalvexGetLineCounts(PortSession *session, HostLineCounts *counts)
{
    LockEngine();
    DWORD why = ERROR_SUCCESS;
    if (!IsLiveSession(session))
        why = ERROR_INVALID_HANDLE;
    else if (!counts)
        why = ERROR_INVALID_PARAMETER;
    else
        *counts = session->counts;
    UnlockEngine();
    return ExportResult(why == ERROR_SUCCESS, why);
}
