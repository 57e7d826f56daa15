/* The shared library's load and unload hooks. */
#include "../../engine/entry.h"

__attribute__((constructor)) static void LibraryLoaded(void) { ProcessAttach(); }

__attribute__((destructor)) static void LibraryUnloaded(void) { ProcessDetach(); }
