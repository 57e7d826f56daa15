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

/* An operation starts or stops on the session. */
void BeginOperation(PortSession *session);
/* After a host callback: the session is live and still runs the operation
 * it ran when operation was read, so what follows the callback is ours to
 * do. A callback that started another operation, stopped this one or
 * closed the port leaves the session as it made it. */
int OperationContinues(const PortSession *session, uint32_t operation);
/* The operation running now: read before a host callback, for
 * OperationContinues after it. */
uint32_t CurrentOperation(const PortSession *session);

/* Dispatch thread, between waits: frees the retired sessions, once no wait
 * can be using their events. */
void ReleaseClosedSessions(void);

#endif
