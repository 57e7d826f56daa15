/*
 * The engine lock serialises the library's state between the host's threads
 * and the dispatch thread.
 *
 * Every export holds it for its whole body; the dispatch thread holds it while
 * it runs a wait handler or a timer callback, host callbacks included, and
 * never while it waits. It is recursive, so a host callback may call an export
 * on the dispatch thread. A host callback must not wait for another thread
 * that is calling the library: that thread waits for the lock the callback's
 * caller holds.
 *
 * Sessions are freed only by the dispatch thread, between two waits, once
 * their events are out of the wait table: a close on a host thread unlinks
 * the session and wakes the dispatcher, which then closes the handles that no
 * wait can still be using and frees the record. Timers and handlers that
 * outlive a session look it up in the registry of live sessions first.
 *
 * The wait table, the timer queue and the log have locks of their own, taken
 * after this one and never held while anything else is called.
 */
#ifndef HALVEX_ENGINELOCK_H
#define HALVEX_ENGINELOCK_H

void InitEngineLock(void);
void DeleteEngineLock(void);
void LockEngine(void);
void UnlockEngine(void);

#endif
