/* Why an export refused or failed, for the thread that called it, and why an
 * operation ended, for the dispatch thread while it calls the host's failure
 * callback. The codes are Windows error codes; on Windows they are the
 * thread's GetLastError too, so a VBA host's Err.LastDllError sees them. */
#ifndef HALVEX_LASTERROR_H
#define HALVEX_LASTERROR_H

#include "../platform/platform.h"

/* At load and unload: the threads' slot for it. */
void InitLastError(void);
void DeleteLastError(void);
void SetHalvexError(DWORD error);

/* The end of an export: its error (ERROR_SUCCESS when it did what was asked)
 * set last, so that nothing after it can change what the host reads. */
template <typename Result> Result ExportResult(Result result, DWORD error)
{
    SetHalvexError(error);
    return result;
}

#endif
