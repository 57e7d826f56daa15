/* Process attach and detach, called by the platform's load and unload hooks. */
#ifndef HALVEX_ENTRY_H
#define HALVEX_ENTRY_H

/* Prepares the engine and starts the dispatch thread; always 1. */
int ProcessAttach(void);
/* Stops the dispatch thread and releases the engine. */
void ProcessDetach(void);

#endif
