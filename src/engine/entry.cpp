#include "entry.h"

#include "../errlog/errlog.h"
#include "../platform/platform.h"
#include "dispatch.h"
#include "enginelock.h"
#include "timerqueue.h"
#include "waittable.h"

enum { DispatcherWaitMs = 5000 };

static HANDLE dispatchThread; /* engine lock */
static HANDLE dispatchLeft;   /* set by the thread as it leaves our code */

int ProcessAttach(void)
{
    InitEngineLock();
    InitErrorLog();
    InitTimerQueue();
    InitWaitTable();
    StartErrorLog("halvex32", "halvex32.log");
    return 1;
}

int EnsureDispatcher(void)
{
    LockEngine();
    if (!dispatchThread) {
        dispatchLeft = CreateEventA(NULL, TRUE, FALSE, NULL);
        dispatchThread = StartDispatcher(dispatchLeft);
        if (!dispatchThread && dispatchLeft) {
            CloseHandle(dispatchLeft);
            dispatchLeft = NULL;
        }
    }
    int started = dispatchThread != NULL;
    UnlockEngine();
    for (int waited = 0; started && !DispatcherReady(); waited++) {
        if (waited >= DispatcherWaitMs || DispatcherFailed())
            return 0;
        Sleep(1);
    }
    return started;
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
    if (dispatchThread && PlatformEndThread(dispatchThread, dispatchLeft))
        ErrorLog("Dispatch thread terminated at unload\n");
    if (dispatchLeft)
        CloseHandle(dispatchLeft);
    dispatchThread = NULL;
    dispatchLeft = NULL;
    DeleteWaitTable();
    DeleteTimerQueue();
    DeleteErrorLog();
    DeleteEngineLock();
}
