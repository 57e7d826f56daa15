/*
 * One-shot millisecond timers without a thread of their own: the dispatch
 * thread waits with the time-out of the earliest one and fires those that
 * have run out after each wait. A repeating timer re-arms itself.
 */
#ifndef HALVEX_TIMERQUEUE_H
#define HALVEX_TIMERQUEUE_H

#include "../platform/platform.h"

typedef void (*TimerCallback)(void *context);
typedef DWORD(WINAPI *TickSource)(void);

void InitTimerQueue(void);
/* Frees every timer left and forgets the clock. */
void DeleteTimerQueue(void);

/* The timer's identity, or null when no memory was left. */
void *CreateTimer(void *context, int32_t milliseconds, TimerCallback callback);
/* The timer will never fire, whether or not it has already run out. */
void CancelTimer(void *identity);
/* Cancels the timer a slot holds, if any, and clears the slot. */
void DisarmTimer(void **slot);
/* Replaces the timer a slot holds with a new one. */
void ArmTimer(void **slot, void *context, int32_t milliseconds, TimerCallback callback);

/* Charges the time since the last call to every active timer and moves those
 * that ran out to the expired list. */
void ExpireTimers(void);
/* The identity of the next expired timer, whose entry is gone by now, or null. */
void *PopExpiredTimer(void **context, TimerCallback *callback);
/* Time-out for the next wait: the earliest remaining time, or INFINITE. */
DWORD NextTimeout(void);

/* Milliseconds since the previous call; 0 on the first. */
DWORD ElapsedTicks(void);
/* Replaces the millisecond clock, for tests; null restores GetTickCount. */
void SetTimerTickSource(TickSource source);

#endif
