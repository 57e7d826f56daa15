#include "lasterror.h"

void InitLastError(void) { PlatformInitThreadSlot(); }

void DeleteLastError(void) { PlatformDeleteThreadSlot(); }

void SetHalvexError(DWORD error)
{
    PlatformSetThreadSlot(error);
    SetLastError(error);
}

int32_t HALVEX_CALL HalvexGetLastError(void) { return (int32_t)PlatformThreadSlot(); }
