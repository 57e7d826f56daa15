#include "waittable.h"

/* Registration appends and removal closes the gaps, so the table stays dense
 * and a wait on it sees handles in the order they came. The dispatcher waits
 * on a snapshot, never on the table itself. */
static WaitTable table;
static CRITICAL_SECTION tableLock;

void InitWaitTable(void)
{
    InitializeCriticalSection(&tableLock);
    table.count = 0;
}

void DeleteWaitTable(void) { DeleteCriticalSection(&tableLock); }

int RegisterWaitHandle(HANDLE handle, void *context, WaitCallback callback)
{
    EnterCriticalSection(&tableLock);
    int entered = table.count < MAXIMUM_WAIT_OBJECTS;
    if (entered) {
        table.handles[table.count] = handle;
        table.entries[table.count].context = context;
        table.entries[table.count].callback = callback;
        table.count++;
    }
    LeaveCriticalSection(&tableLock);
    return entered;
}

int UnregisterWaitHandle(HANDLE handle)
{
    EnterCriticalSection(&tableLock);
    int kept = 0;
    for (int i = 0; i < table.count; i++) {
        if (table.handles[i] == handle)
            continue;
        table.handles[kept] = table.handles[i];
        table.entries[kept] = table.entries[i];
        kept++;
    }
    int removed = kept < table.count;
    for (int i = kept; i < table.count; i++) {
        table.handles[i] = NULL;
        table.entries[i].context = NULL;
        table.entries[i].callback = NULL;
    }
    table.count = kept;
    LeaveCriticalSection(&tableLock);
    return removed;
}

void SnapshotWaitTable(WaitTable *copy)
{
    EnterCriticalSection(&tableLock);
    copy->count = table.count;
    for (int i = 0; i < table.count; i++) {
        copy->handles[i] = table.handles[i];
        copy->entries[i] = table.entries[i];
    }
    LeaveCriticalSection(&tableLock);
}

int IsWaitEntryLive(HANDLE handle, const WaitEntry *entry)
{
    EnterCriticalSection(&tableLock);
    int live = 0;
    for (int i = 0; i < table.count && !live; i++)
        live = table.handles[i] == handle && table.entries[i].context == entry->context &&
               table.entries[i].callback == entry->callback;
    LeaveCriticalSection(&tableLock);
    return live;
}
