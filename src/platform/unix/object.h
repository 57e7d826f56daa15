/*
 * Kernel objects behind HANDLEs: one table and one lock for all of them, so
 * that a wait can look at several objects at once and every change that may
 * end a wait wakes the waiters through one condition variable.
 */
#ifndef HALVEX_UNIX_OBJECT_H
#define HALVEX_UNIX_OBJECT_H

#include "win32.h"

struct KernelObject;

struct KernelObjectOps {
    /* Called once the handle is out of the table, without the lock held. */
    void (*close)(KernelObject *object);
};

struct KernelObject {
    const KernelObjectOps *ops;
    int manualReset; /* a wait that reports the object leaves it signalled */
    int signaled;
};

extern pthread_mutex_t kernelLock;

/* The handle of a new object, or null (ERROR_NOT_ENOUGH_MEMORY) once the
 * object is closed. */
HANDLE InsertObject(KernelObject *object);
/* The live object of a handle, or null; kernelLock held. */
KernelObject *LookupObject(HANDLE handle);
/* Sets the signalled state and wakes every waiter; kernelLock held. */
void SignalObject(KernelObject *object);

#endif
