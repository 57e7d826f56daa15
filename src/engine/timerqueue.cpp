#include "timerqueue.h"

#include <stdlib.h>

struct TimerList;

struct Timer {
    Timer *next;
    Timer *prev;
    TimerList *owner;
    int32_t remaining; /* run out at 0 or less */
    void *identity;    /* the entry's own address */
    void *context;
    TimerCallback callback;
};

struct TimerList {
    Timer *head;
    Timer *tail;
    int16_t count;
};

/* Active timers in arming order; expired ones in the order they ran out. */
static TimerList activeTimers;
static TimerList expiredTimers;
static DWORD nextTimeout = INFINITE;
static int clockStarted;
static DWORD lastTick;
static TickSource tickSource;
static int creationsBeforeFailure; /* 0: none fails */
/* Host threads arm and cancel timers while the dispatch thread expires them.
 * Never held while a callback runs: callbacks arm and cancel timers. */
static CRITICAL_SECTION queueLock;

static void Append(TimerList *list, Timer *timer)
{
    timer->next = NULL;
    timer->prev = list->tail;
    if (list->tail)
        list->tail->next = timer;
    else
        list->head = timer;
    list->tail = timer;
    timer->owner = list;
    list->count++;
}

static int Remove(TimerList *list, Timer *timer)
{
    if (timer->owner != list)
        return 0;
    if (timer->prev)
        timer->prev->next = timer->next;
    else
        list->head = timer->next;
    if (timer->next)
        timer->next->prev = timer->prev;
    else
        list->tail = timer->prev;
    timer->next = timer->prev = NULL;
    timer->owner = NULL;
    list->count--;
    return 1;
}

static void FreeList(TimerList *list)
{
    while (Timer *timer = list->head) {
        Remove(list, timer);
        free(timer);
    }
}

void InitTimerQueue(void)
{
    InitializeCriticalSection(&queueLock);
    nextTimeout = INFINITE;
    clockStarted = 0;
}

void DeleteTimerQueue(void)
{
    FreeList(&activeTimers);
    FreeList(&expiredTimers);
    tickSource = NULL;
    creationsBeforeFailure = 0;
    DeleteCriticalSection(&queueLock);
}

void SetTimerTickSource(TickSource source)
{
    EnterCriticalSection(&queueLock);
    tickSource = source;
    clockStarted = 0;
    LeaveCriticalSection(&queueLock);
}

/* Hands out the time since the previous call exactly once, so no millisecond
 * is charged twice or lost; unsigned arithmetic carries it across the wrap. */
static DWORD ElapsedTicksLocked(void)
{
    DWORD now = tickSource ? tickSource() : GetTickCount();
    if (!clockStarted) {
        clockStarted = 1;
        lastTick = now;
    }
    DWORD elapsed = now - lastTick;
    lastTick = now;
    return elapsed;
}

DWORD ElapsedTicks(void)
{
    EnterCriticalSection(&queueLock);
    DWORD elapsed = ElapsedTicksLocked();
    LeaveCriticalSection(&queueLock);
    return elapsed;
}

/* Charges elapsed time to every active timer except the one with identity
 * skip, which is freed instead, and recomputes nextTimeout. */
static void ChargeActiveTimers(void *skip)
{
    DWORD elapsed = ElapsedTicksLocked();
    int32_t charge = elapsed > 0x7FFFFFFFu ? 0x7FFFFFFF : (int32_t)elapsed;
    int32_t smallest = 0x7FFFFFFF;
    Timer *timer = activeTimers.head;
    while (timer) {
        Timer *next = timer->next;
        if (skip && timer->identity == skip) {
            Remove(&activeTimers, timer);
            free(timer);
        } else if (timer->remaining <= charge) {
            timer->remaining = 0;
            Remove(&activeTimers, timer);
            Append(&expiredTimers, timer);
        } else {
            timer->remaining -= charge;
            if (timer->remaining < smallest)
                smallest = timer->remaining;
        }
        timer = next;
    }
    nextTimeout = activeTimers.head ? (DWORD)smallest : INFINITE;
}

void ExpireTimers(void)
{
    EnterCriticalSection(&queueLock);
    ChargeActiveTimers(NULL);
    LeaveCriticalSection(&queueLock);
}

void FailTimerCreation(int nth)
{
    EnterCriticalSection(&queueLock);
    creationsBeforeFailure = nth;
    LeaveCriticalSection(&queueLock);
}

/* A timer entry, or null when no memory was left (or a test said so). */
static Timer *NewTimer(void)
{
    EnterCriticalSection(&queueLock);
    int fail = creationsBeforeFailure > 0 && --creationsBeforeFailure == 0;
    LeaveCriticalSection(&queueLock);
    return fail ? NULL : (Timer *)calloc(1, sizeof(Timer));
}

void *CreateTimer(void *context, int32_t milliseconds, TimerCallback callback)
{
    Timer *timer = NewTimer();
    if (!timer)
        return NULL;
    timer->remaining = milliseconds;
    timer->identity = timer;
    timer->context = context;
    timer->callback = callback;
    EnterCriticalSection(&queueLock);
    /* Bring the others up to now first: the new timer owes nothing to the
     * time that passed before it was armed. */
    ChargeActiveTimers(NULL);
    Append(&activeTimers, timer);
    if ((DWORD)milliseconds < nextTimeout)
        nextTimeout = (DWORD)milliseconds;
    LeaveCriticalSection(&queueLock);
    return timer;
}

void CancelTimer(void *identity)
{
    EnterCriticalSection(&queueLock);
    Timer *timer = expiredTimers.head;
    while (timer) {
        Timer *next = timer->next;
        if (timer->identity == identity) {
            Remove(&expiredTimers, timer);
            free(timer);
        }
        timer = next;
    }
    ChargeActiveTimers(identity);
    LeaveCriticalSection(&queueLock);
}

void DisarmTimer(void **slot)
{
    if (*slot)
        CancelTimer(*slot);
    *slot = NULL;
}

int ArmTimer(void **slot, void *context, int32_t milliseconds, TimerCallback callback)
{
    DisarmTimer(slot);
    *slot = CreateTimer(context, milliseconds, callback);
    return *slot != NULL;
}

void *PopExpiredTimer(void **context, TimerCallback *callback)
{
    EnterCriticalSection(&queueLock);
    Timer *timer = expiredTimers.head;
    if (timer) {
        Remove(&expiredTimers, timer);
        if (context)
            *context = timer->context;
        if (callback)
            *callback = timer->callback;
    }
    LeaveCriticalSection(&queueLock);
    void *identity = timer ? timer->identity : NULL;
    free(timer);
    return identity;
}

DWORD NextTimeout(void)
{
    EnterCriticalSection(&queueLock);
    DWORD timeout = nextTimeout;
    LeaveCriticalSection(&queueLock);
    return timeout;
}
