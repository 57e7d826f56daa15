/* The dispatch thread: every handler and timer of the library runs on it. */
#ifndef HALVEX_DISPATCH_H
#define HALVEX_DISPATCH_H

#include "../platform/platform.h"

/* What the layer above does at two moments of the dispatch thread's life,
 * as an event loop's before-sleep hook: between two waits, when no wait can
 * still be using what it frees, and as the thread stops, to close what the
 * host left open. Both run with the engine lock held. */
struct DispatchHooks {
    void (*betweenWaits)(void);
    void (*stopping)(void);
};
/* Registers the hooks (engine lock held); the last registration holds. */
void SetDispatchHooks(const DispatchHooks *hooks);

/* Starts the dispatch thread, which creates commandEvent and serves the wait
 * table and the timers until stopped, and sets left as its last act. The thread's handle, or null when it could not
 * be created. */
HANDLE StartDispatcher(HANDLE left);

/* One wait on the table; runs the callback of the handle that fired. The
 * wait's result, or the index of the entry served. */
DWORD WaitAndDispatch(DWORD timeout);

/* Makes the dispatch thread wait again, seeing the new table and time-out. */
void WakeDispatcher(void);
/* Whether the dispatch thread is up and can be woken. */
int DispatcherReady(void);
/* Asks the dispatch thread to end and wakes it. */
void StopDispatcher(void);
/* Whether the dispatch thread ended at its start, unable to make its event. */
int DispatcherFailed(void);
/* Whether the caller is the dispatch thread: a host callback, and so also an
 * exit() or an unload from one, runs there. */
int OnDispatchThread(void);
/* The dispatch thread, unloading the library from inside a host callback,
 * cannot wait for itself to end: it closes the ports and stops here. */
void AbandonDispatcher(void);

#endif
