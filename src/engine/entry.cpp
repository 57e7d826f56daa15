#include "entry.h"

#include "../errlog/errlog.h"
#include "../platform/platform.h"
#include "dispatch.h"
#include "enginelock.h"
#include "timerqueue.h"
#include "waittable.h"

static HANDLE dispatchThread;

int ProcessAttach(void)
{
    InitEngineLock();
    InitErrorLog();
    InitTimerQueue();
    InitWaitTable();
    dispatchThread = StartDispatcher();
    return 1;
}

void ProcessDetach(void)
{
    /* exit() or an unload called from a host callback: what the engine holds
     * goes with the process, or with the library's mapping. */
    if (OnDispatchThread()) {
        AbandonDispatcher();
        return;
    }
    /* Woken rather than left to its wait, the thread ends by itself and never
     * runs on in code that is about to be unmapped. */
    StopDispatcher();
    if (dispatchThread)
        PlatformEndThread(dispatchThread);
    dispatchThread = NULL;
    DeleteWaitTable();
    DeleteTimerQueue();
    DeleteErrorLog();
    DeleteEngineLock();
}
