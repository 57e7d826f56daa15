/* The one shape of every export that works on a port, as libserialport's
 * CHECK_OPEN_PORT and RETURN_* give its calls one shape. Declared first in
 * the export's body, a PortCall locks the engine and checks the host's
 * handle; as the export returns, it unlocks, wakes the dispatch thread if the
 * export asked for it, and sets the export's error last, so that nothing
 * after it can change what the host reads. An export cannot forget either. */
#ifndef HALVEX_PORTCALL_H
#define HALVEX_PORTCALL_H

#include "session.h"

class PortCall {
public:
    /* An export on an open port: ERROR_INVALID_HANDLE unless the session
     * is live. */
    explicit PortCall(const PortSession *session);
    /* An export that has no port yet (the opens). */
    PortCall();
    ~PortCall();
    PortCall(const PortCall &) = delete;
    PortCall &operator=(const PortCall &) = delete;

    /* No error so far: the export goes on. */
    bool Ok() const { return why == ERROR_SUCCESS; }
    /* The export fails with error, unless it failed already; 0, so that
     * "return call.Fail(...)" is an export's refusal. */
    int Fail(DWORD error)
    {
        if (why == ERROR_SUCCESS)
            why = error;
        return 0;
    }

    /* public: the export's error, ERROR_SUCCESS when it did what was asked */
    DWORD why;
    /* public: set when the export changed what the dispatch thread waits on
     * (a frame's time-out, a new port, a mode's timer), so that it waits
     * again with the new table and time-out */
    bool wake;
};

#endif
