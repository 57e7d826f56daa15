/* The handles the dispatch thread waits on, each with its callback. */
#ifndef HALVEX_WAITTABLE_H
#define HALVEX_WAITTABLE_H

#include "../platform/platform.h"

typedef void (*WaitCallback)(HANDLE handle, void *context);

struct WaitEntry {
    void *context;
    WaitCallback callback;
};

/* A copy of the live part of the table, taken in one piece. */
struct WaitTable {
    HANDLE handles[MAXIMUM_WAIT_OBJECTS];
    WaitEntry entries[MAXIMUM_WAIT_OBJECTS];
    int count;
};

void InitWaitTable(void);
void DeleteWaitTable(void);

/* 1 when entered; 0 when the platform wait could take no more handles. */
int RegisterWaitHandle(HANDLE handle, void *context, WaitCallback callback);
/* Removes every entry of the handle; 1 when there was one, else 0. */
int UnregisterWaitHandle(HANDLE handle);

void SnapshotWaitTable(WaitTable *copy);
/* Whether this handle is still registered with this entry. */
int IsWaitEntryLive(HANDLE handle, const WaitEntry *entry);

#endif
