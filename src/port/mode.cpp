/* The one way a mode takes the line and gives it back. Either is a change of
 * operation: code that called a host callback sees that the host moved on,
 * and so never touches the state of a mode that has left. */
#include "port.h"
#include "registry.h"

void EnterMode(PortSession *session, ModeState *state)
{
    LeaveMode(session);
    session->mode = state;
    BeginOperation(session);
}

void LeaveMode(PortSession *session)
{
    ModeState *state = session->mode;
    if (!state)
        return;
    BeginOperation(session);
    if (state->hooks->leave)
        state->hooks->leave(session); /* frees state */
    session->mode = NULL;
}
