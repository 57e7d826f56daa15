#include "portcall.h"

#include "../engine/dispatch.h"
#include "../engine/enginelock.h"
#include "../errlog/lasterror.h"
#include "registry.h"

PortCall::PortCall() : why(ERROR_SUCCESS), wake(false) { LockEngine(); }

PortCall::PortCall(const PortSession *session) : PortCall()
{
    if (!IsLiveSession(session))
        why = ERROR_INVALID_HANDLE;
}

PortCall::~PortCall()
{
    UnlockEngine();
    if (wake)
        WakeDispatcher();
    SetHalvexError(why);
}
