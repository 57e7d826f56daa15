#include "lasterror.h"

static thread_local DWORD lastError;

void SetHalvexError(DWORD error)
{
    lastError = error;
    SetLastError(error);
}

int32_t HALVEX_CALL HalvexGetLastError(void) { return (int32_t)lastError; }
