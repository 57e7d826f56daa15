#include "enginelock.h"

#include "../platform/platform.h"

static CRITICAL_SECTION engineLock;

void InitEngineLock(void) { InitializeCriticalSection(&engineLock); }

void DeleteEngineLock(void) { DeleteCriticalSection(&engineLock); }

void LockEngine(void) { EnterCriticalSection(&engineLock); }

void UnlockEngine(void) { LeaveCriticalSection(&engineLock); }
