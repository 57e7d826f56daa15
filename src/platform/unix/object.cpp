#include "object.h"

#include <errno.h>
#include <stdlib.h>
#include <time.h>

pthread_mutex_t kernelLock = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t kernelChanged = PTHREAD_COND_INITIALIZER;

/* Handles are small multiples of 4, as on Windows; slot i is handle (i+1)*4.
 * The table is freed when its last object closes, so an unloaded library
 * leaves nothing behind. */
static KernelObject **objects;
static size_t objectSlots;
static size_t liveObjects;

static size_t SlotOf(HANDLE handle) { return (size_t)(uintptr_t)handle / 4 - 1; }

HANDLE InsertObject(KernelObject *object)
{
    pthread_mutex_lock(&kernelLock);
    size_t slot = 0;
    while (slot < objectSlots && objects[slot])
        slot++;
    if (slot == objectSlots) {
        size_t grown = objectSlots ? objectSlots * 2 : 64;
        KernelObject **table = (KernelObject **)realloc(objects, grown * sizeof *table);
        if (!table) {
            pthread_mutex_unlock(&kernelLock);
            object->ops->close(object);
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return NULL;
        }
        for (size_t i = objectSlots; i < grown; i++)
            table[i] = NULL;
        objects = table;
        objectSlots = grown;
    }
    objects[slot] = object;
    liveObjects++;
    pthread_mutex_unlock(&kernelLock);
    return (HANDLE)(uintptr_t)((slot + 1) * 4);
}

KernelObject *LookupObject(HANDLE handle)
{
    uintptr_t value = (uintptr_t)handle;
    if (value == 0 || value % 4 != 0 || SlotOf(handle) >= objectSlots)
        return NULL;
    return objects[SlotOf(handle)];
}

void SignalObject(KernelObject *object)
{
    object->signaled = 1;
    pthread_cond_broadcast(&kernelChanged);
}

BOOL CloseHandle(HANDLE handle)
{
    pthread_mutex_lock(&kernelLock);
    KernelObject *object = LookupObject(handle);
    if (!object) {
        pthread_mutex_unlock(&kernelLock);
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    objects[SlotOf(handle)] = NULL;
    if (--liveObjects == 0) {
        free(objects);
        objects = NULL;
        objectSlots = 0;
    }
    /* A waiter on a closed handle must see that it is gone. */
    pthread_cond_broadcast(&kernelChanged);
    pthread_mutex_unlock(&kernelLock);
    object->ops->close(object);
    return TRUE;
}

/* Index of the object the wait reports, consuming it, or count when none is
 * ready; kernelLock held. */
static DWORD TakeSignalled(KernelObject **list, DWORD count, BOOL waitAll)
{
    if (waitAll) {
        for (DWORD i = 0; i < count; i++)
            if (!list[i]->signaled)
                return count;
        for (DWORD i = 0; i < count; i++)
            if (!list[i]->manualReset)
                list[i]->signaled = 0;
        return 0;
    }
    for (DWORD i = 0; i < count; i++) {
        if (list[i]->signaled) {
            if (!list[i]->manualReset)
                list[i]->signaled = 0;
            return i;
        }
    }
    return count;
}

/* Looks every handle up again; the objects may have closed while we slept. */
static BOOL ResolveHandles(const HANDLE *handles, DWORD count, KernelObject **list)
{
    for (DWORD i = 0; i < count; i++) {
        list[i] = LookupObject(handles[i]);
        if (!list[i]) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        for (DWORD j = 0; j < i; j++) {
            if (list[j] == list[i]) {
                SetLastError(ERROR_INVALID_PARAMETER);
                return FALSE;
            }
        }
    }
    return TRUE;
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE *handles, BOOL waitAll, DWORD milliseconds)
{
    if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || !handles) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    struct timespec deadline;
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += milliseconds / 1000;
    deadline.tv_nsec += (long)(milliseconds % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec++;
        deadline.tv_nsec -= 1000000000L;
    }

    KernelObject *list[MAXIMUM_WAIT_OBJECTS];
    DWORD result;
    pthread_mutex_lock(&kernelLock);
    for (;;) {
        if (!ResolveHandles(handles, count, list)) {
            result = WAIT_FAILED;
            break;
        }
        DWORD index = TakeSignalled(list, count, waitAll);
        if (index < count) {
            result = WAIT_OBJECT_0 + index;
            break;
        }
        if (milliseconds == 0) {
            result = WAIT_TIMEOUT;
            break;
        }
        if (milliseconds == INFINITE) {
            pthread_cond_wait(&kernelChanged, &kernelLock);
        } else if (pthread_cond_clockwait(&kernelChanged, &kernelLock, CLOCK_MONOTONIC, &deadline) == ETIMEDOUT) {
            milliseconds = 0; /* one last look, then time out */
        }
    }
    pthread_mutex_unlock(&kernelLock);
    return result;
}

DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds)
{
    return WaitForMultipleObjects(1, &object, FALSE, milliseconds);
}

DWORD WaitForSingleObjectEx(HANDLE object, DWORD milliseconds, BOOL alertable)
{
    (void)alertable; /* nothing here queues asynchronous procedure calls */
    return WaitForSingleObject(object, milliseconds);
}
