#include "registry.h"

#include <stdlib.h>

#include "../engine/dispatch.h"
#include "port.h"

static void CloseAllSessions(void);

static PortSession *liveSessions;
static PortSession *retiredSessions;

void AddLiveSession(PortSession *session)
{
    /* The dispatch thread frees retired sessions between its waits and
     * closes the live ones as it stops; until a first session there is
     * nothing for it to do. */
    static const DispatchHooks hooks = {ReleaseClosedSessions, CloseAllSessions};
    SetDispatchHooks(&hooks);
    session->nextSession = liveSessions;
    liveSessions = session;
}

int IsLiveSession(const PortSession *session)
{
    for (PortSession *live = liveSessions; live; live = live->nextSession)
        if (live == session)
            return 1;
    return 0;
}

void BeginOperation(PortSession *session) { session->operation++; }

uint32_t CurrentOperation(const PortSession *session)
{
    return session->operation;
}

int OperationContinues(const PortSession *session, uint32_t operation)
{
    return IsLiveSession(session) && session->operation == operation;
}

int RetireSession(PortSession *session)
{
    for (PortSession **link = &liveSessions; *link; link = &(*link)->nextSession) {
        if (*link == session) {
            *link = session->nextSession;
            session->nextSession = retiredSessions;
            retiredSessions = session;
            return 1;
        }
    }
    return 0;
}

void ReleaseClosedSessions(void)
{
    while (PortSession *session = retiredSessions) {
        retiredSessions = session->nextSession;
        HANDLE events[] = {session->ioCompletedEvent, session->sendCompletedEvent, session->readCompletedEvent};
        for (HANDLE event : events)
            if (event)
                CloseHandle(event);
        ReapWrites(session, 1);
        free(session->readBuffer);
        free(session);
    }
}

/* Dispatch thread, as it stops: closes whatever the host left open. */
static void CloseAllSessions(void)
{
    while (liveSessions)
        ClosePortSession(liveSessions);
}
