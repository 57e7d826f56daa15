#include "dispatch.h"

#include <atomic>

#include "../errlog/errlog.h"
#include "../errlog/lasterror.h"
#include "enginelock.h"
#include "timerqueue.h"
#include "waittable.h"

static std::atomic<HANDLE> commandEvent{NULL};
static std::atomic<int> stopDispatch{0};
static std::atomic<int> dispatcherFailed{0};
/* Thread ids, not thread_local: see PlatformInitThreadSlot. */
static std::atomic<DWORD> dispatchThreadId{0};
static const DispatchHooks *dispatchHooks; /* engine lock */

void SetDispatchHooks(const DispatchHooks *hooks) { dispatchHooks = hooks; }

static void BetweenWaits(void)
{
    if (dispatchHooks && dispatchHooks->betweenWaits)
        dispatchHooks->betweenWaits();
}

static void Stopping(void)
{
    if (dispatchHooks && dispatchHooks->stopping)
        dispatchHooks->stopping();
}

static void CommandEventHandler(HANDLE handle, void *context)
{
    (void)handle;
    (void)context;
    ErrorLog("Command Event\n");
}

DWORD WaitAndDispatch(DWORD timeout)
{
    WaitTable waiting;
    SnapshotWaitTable(&waiting);
    DWORD count = (DWORD)waiting.count;
    DWORD result = WaitForMultipleObjects(count, waiting.handles, FALSE, timeout);
    DWORD index;
    if (result < WAIT_OBJECT_0 + count)
        index = result - WAIT_OBJECT_0;
    else if (result >= WAIT_ABANDONED_0 && result < WAIT_ABANDONED_0 + count)
        index = result - WAIT_ABANDONED_0;
    else
        return result;

    /* The table may have changed during the wait: serve the entry only if it
     * is still the one that was signalled. */
    LockEngine();
    /* Each event starts with no error, so that a host callback that ends an
     * operation well never reads why an earlier one failed. */
    SetHalvexError(ERROR_SUCCESS);
    if (IsWaitEntryLive(waiting.handles[index], &waiting.entries[index]))
        waiting.entries[index].callback(waiting.handles[index], waiting.entries[index].context);
    UnlockEngine();
    return index;
}

static void RunExpiredTimers(void)
{
    for (;;) {
        /* Popped and run under the engine lock, so that a cancel on a host
         * thread either removes the timer or sees it already run. */
        LockEngine();
        void *context;
        TimerCallback callback;
        void *identity = PopExpiredTimer(&context, &callback);
        SetHalvexError(ERROR_SUCCESS);
        if (identity)
            callback(context);
        UnlockEngine();
        if (!identity)
            return;
    }
}

static DWORD WINAPI DispatchThreadMain(LPVOID parameter)
{
    (void)parameter;
    dispatchThreadId.store(GetCurrentThreadId());
    HANDLE event = CreateEventA(NULL, FALSE, FALSE, NULL);
    if (!event || !RegisterWaitHandle(event, event, CommandEventHandler)) {
        /* Without its event the thread could neither be woken nor wait:
         * it ends, and the exports refuse. */
        ErrorLog("CreateEvent() failure: %ld\n", (long)GetLastError());
        if (event)
            CloseHandle(event);
        dispatcherFailed.store(1);
        dispatchThreadId.store(0);
        return 1;
    }
    commandEvent.store(event);

    while (!stopDispatch.load()) {
        LockEngine();
        BetweenWaits();
        UnlockEngine();
        DWORD result = WaitAndDispatch(NextTimeout());
        if (result == WAIT_FAILED)
            ErrorLog("WaitForMultipleObjects(): WAIT_FAILED %lx\n", (unsigned long)GetLastError());
        else if (result == WAIT_TIMEOUT)
            ErrorLog("wait timeout\n");
        ExpireTimers();
        RunExpiredTimers();
    }

    /* Ports the host left open must not outlive the library's code. The
     * event is taken out under the engine lock so that a waker never sets a
     * handle that is being closed. */
    LockEngine();
    Stopping();
    BetweenWaits();
    commandEvent.store(NULL);
    UnlockEngine();
    UnregisterWaitHandle(event);
    CloseHandle(event);
    dispatchThreadId.store(0); /* Windows gives an ended thread's id to new ones */
    return 0;
}

HANDLE StartDispatcher(HANDLE left)
{
    stopDispatch.store(0);
    dispatcherFailed.store(0);
    return PlatformStartThread(DispatchThreadMain, left);
}

void WakeDispatcher(void)
{
    LockEngine();
    HANDLE event = commandEvent.load();
    if (event)
        SetEvent(event);
    UnlockEngine();
}

int DispatcherReady(void) { return commandEvent.load() != NULL; }

int DispatcherFailed(void) { return dispatcherFailed.load(); }

int OnDispatchThread(void) { return dispatchThreadId.load() == GetCurrentThreadId(); }

void AbandonDispatcher(void)
{
    stopDispatch.store(1);
    LockEngine();
    Stopping();
    UnlockEngine();
}

void StopDispatcher(void)
{
    stopDispatch.store(1);
    WakeDispatcher();
}
