#include <stdlib.h>

#include "object.h"

static void CloseEvent(KernelObject *object) { free(object); }

static const KernelObjectOps eventOps = {CloseEvent};

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL initialState, LPCSTR name)
{
    (void)security;
    (void)name; /* unnamed events are all the library creates */
    KernelObject *event = (KernelObject *)calloc(1, sizeof *event);
    if (!event) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return NULL;
    }
    event->ops = &eventOps;
    event->manualReset = manualReset ? 1 : 0;
    event->signaled = initialState ? 1 : 0;
    return InsertObject(event);
}

static BOOL SetEventState(HANDLE handle, int signaled)
{
    pthread_mutex_lock(&kernelLock);
    KernelObject *event = LookupObject(handle);
    BOOL isEvent = event && event->ops == &eventOps;
    if (isEvent) {
        if (signaled)
            SignalObject(event);
        else
            event->signaled = 0;
    }
    pthread_mutex_unlock(&kernelLock);
    if (!isEvent) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

BOOL SetEvent(HANDLE event) { return SetEventState(event, 1); }

BOOL ResetEvent(HANDLE event) { return SetEventState(event, 0); }
