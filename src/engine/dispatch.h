/* The dispatch thread: every handler and timer of the library runs on it. */
#ifndef HALVEX_DISPATCH_H
#define HALVEX_DISPATCH_H

#include "../platform/platform.h"

/* Starts the dispatch thread, which starts the diagnostics log, creates
 * commandEvent and serves the wait table and the timers until stopped. The
 * thread's handle, or null when it could not be created. */
HANDLE StartDispatcher(void);

/* One wait on the table; runs the callback of the handle that fired. The
 * wait's result, or the index of the entry served. */
DWORD WaitAndDispatch(DWORD timeout);

/* Makes the dispatch thread wait again, seeing the new table and time-out. */
void WakeDispatcher(void);
/* Whether the dispatch thread is up and can be woken. */
int DispatcherReady(void);
/* Asks the dispatch thread to end and wakes it. */
void StopDispatcher(void);

#endif
