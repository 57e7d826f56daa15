/*
 * One-shot millisecond timers without a thread of their own: the dispatch
 * thread waits with the time-out of the earliest one and fires those that
 * have run out after each wait. A repeating timer re-arms itself.
 *
 * Each timer keeps the milliseconds it has left, and every pass charges
 * the time since the last one to all of them, where ae.c keeps an absolute
 * deadline on the monotonic clock and compares. Charging walks the list at
 * each arm, cancel and wait, which a few timers per port make cheap; in
 * return no timer compares against the 32-bit tick count, so the count's
 * wrap every 49.7 days moves none of them and a test's clock need only say
 * how much time passed.
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
/* Replaces the timer a slot holds with a new one. 0 when no memory was
 * left: the slot is empty and nothing will fire, so the caller ends (or never
 * starts) whatever would have waited on it. */
[[nodiscard]] int ArmTimer(void **slot, void *context, int32_t milliseconds, TimerCallback callback);

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
/* For tests: the nth timer made from now on (1: the next) is not made, as
 * when no memory is left; 0 makes them all again. */
void FailTimerCreation(int nth);

#endif
