// libFuzzer: arbitrary bytes into the frame decoder and everything behind it.
// The first byte picks the objective the session is in.
#include <cstdint>
#include <cstdlib>

#include "engine/enginelock.h"
#include "engine/timerqueue.h"
#include "errlog/errlog.h"
#include "link/link.h"
#include "port/port.h"
#include "port/registry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static bool ready = [] {
        InitEngineLock();
        InitErrorLog();
        InitTimerQueue();
        return true;
    }();
    (void)ready;
    if (size == 0)
        return 0;
    PortSession *session = static_cast<PortSession *>(calloc(1, sizeof(PortSession)));
    session->portHandle = INVALID_HANDLE_VALUE;
    session->objective = ObjectiveReady + data[0] % 8;
    AddLiveSession(session);
    LinkReceive(session, data + 1, static_cast<int>(size - 1));
    ClosePortSession(session);
    ReleaseClosedSessions();
    return 0;
}
