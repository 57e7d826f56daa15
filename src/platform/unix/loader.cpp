/* The shared library's load and unload hooks. */
#include "../../engine/entry.h"
#include "serial.h"

__attribute__((constructor)) static void LibraryLoaded(void) { ProcessAttach(); }

__attribute__((destructor)) static void LibraryUnloaded(void)
{
    ProcessDetach();
    /* The handler is our code: a signal after the unmapping would jump into
     * nothing. */
    RestoreWakeSignal();
}
