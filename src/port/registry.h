/* The live sessions. A handle the host passes in is used only if it is here,
 * so a session closed by the host or by the library is refused, not touched.
 * A closed session is freed by the dispatch thread between two waits, once
 * no wait can still be using its events. Engine lock held throughout. */
#ifndef HALVEX_REGISTRY_H
#define HALVEX_REGISTRY_H

#include "session.h"

void AddLiveSession(PortSession *session);
int IsLiveSession(const PortSession *session);
/* Takes the session out of the registry and queues it to be freed; 0 when it
 * was not live. */
int RetireSession(PortSession *session);

/* Dispatch thread, between waits: frees the retired sessions. */
void ReleaseClosedSessions(void);
/* Dispatch thread, as it stops: closes whatever the host left open. */
void CloseAllSessions(void);

#endif
