/* Process attach and detach, called by the platform's load and unload hooks. */
#ifndef HALVEX_ENTRY_H
#define HALVEX_ENTRY_H

/* Prepares the engine and starts the log when it is on; always 1. */
int ProcessAttach(void);
/* Stops the dispatch thread, if it was started, and releases the engine. */
void ProcessDetach(void);

/* Starts the dispatch thread unless it runs, and waits a bounded time until
 * it serves: 1 when it does. For exports on the host's threads: on Windows a
 * thread started at load, under the loader lock, could not enter the
 * library's code until the load returned, and an unload that came first
 * would have to end it by force. */
int EnsureDispatcher(void);

#endif
