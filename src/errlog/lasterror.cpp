#include "lasterror.h"

static thread_local DWORD lastError;

void SetHalvexError(DWORD error)
{
    lastError = error;
    SetLastError(error);
}

DWORD HalvexError(void) { return lastError; }

int32_t HALVEX_CALL HalvexGetLastError(void) { return (int32_t)lastError; }
