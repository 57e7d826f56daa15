/* The line-event wait, the reads it starts and the routing of what they read.
 * All of it runs on the dispatch thread under the engine lock. */
#include "../errlog/errlog.h"
#include "../errlog/lasterror.h"
#include "port.h"
#include "registry.h"

int InitiateCommWait(PortSession *session)
{
    if (WaitCommEvent(session->portHandle, &session->eventMask, &session->waitOverlapped))
        return 1;
    DWORD error = GetLastError();
    if (error == ERROR_IO_PENDING)
        return 1;
    ErrorLog("WaitCommEvent() : error %u:\n", (unsigned)error);
    return 0;
}

/* The line is gone or cannot be waited on: the operation under way ends with
 * its failure report, as if the receiver had stopped answering, then the
 * session ends and the host hears of it, unless it closed the port itself
 * from that report. */
static void LoseSession(PortSession *session)
{
    HalvexPortCallback callback = session->portCallback;
    SetHalvexError(ERROR_DEVICE_NOT_CONNECTED);
    if (session->mode && session->mode->hooks->lose)
        session->mode->hooks->lose(session);
    if (!IsLiveSession(session))
        return;
    ClosePortSession(session);
    if (callback) {
        ErrorLog("calling callback\n");
        callback(HalvexPortLost, 0);
    }
}

/* readBuffer belongs to the read in flight until its bytes are routed; an
 * event character meanwhile asks for one more read after that. */
static int StartRead(PortSession *session)
{
    if (session->readPending) {
        session->readAgain = 1;
        return 1;
    }
    if (!ReadFile(session->portHandle, session->readBuffer, ReadChunk, NULL, &session->readOverlapped)) {
        /* Logged as pending reads always were (997); a read that fails is
         * logged with its own code. */
        DWORD error = GetLastError();
        ErrorLog("ReadFile() : error %u:\n", (unsigned)error);
        if (error != ERROR_IO_PENDING)
            return 0;
    }
    session->readPending = 1;
    return 1;
}

static void HandleCommEvents(PortSession *session, DWORD mask)
{
    ErrorLog("EvtMask=%lx\n", (unsigned long)mask);
    if (mask & EV_CTS)
        ErrorLog("The CTS (clear-to-send) signal changed state.\n");
    if (mask & EV_DSR)
        ErrorLog("The DSR (data-set-ready) signal changed state.\n");
    if (mask & EV_ERR) {
        DWORD errors = 0;
        COMSTAT status;
        ClearCommError(session->portHandle, &errors, &status);
        ErrorLog("Comm error: %lx\n", (unsigned long)errors);
        if (errors)
            CountLine(session, &HostLineCounts::lineErrors, 1);
        if (session->mode && session->mode->hooks->lineError)
            session->mode->hooks->lineError(session, errors);
        if (!IsLiveSession(session))
            return; /* the host closed the port from its callback */
    }
    if (mask & EV_RING)
        ErrorLog("A ring indicator was detected.\n");
    if (mask & EV_RXFLAG) {
        /* From the first event character on, the port reports only what that
         * first event reported. */
        if (!(session->readFlags & ReadFlagNarrowed)) {
            SetCommMask(session->portHandle, mask);
            session->readFlags |= ReadFlagNarrowed;
        }
        if (!StartRead(session))
            return;
    }
    if ((mask & (EV_CTS | EV_DSR | EV_RING)) && session->portCallback)
        session->portCallback(HalvexPortLinesChanged, (int32_t)mask);
}

void IoCompletedHandler(HANDLE handle, void *context)
{
    (void)handle;
    PortSession *session = (PortSession *)context;
    DWORD count;
    if (!GetOverlappedResult(session->portHandle, &session->waitOverlapped, &count, FALSE)) {
        DWORD error = GetLastError();
        if (error == ERROR_IO_INCOMPLETE)
            return;
        /* The device went away. Left alone the signalled event would bring
         * us back here on every pass. */
        ErrorLog("GetOverlappedResults() failed: %d\n", (int)error);
        LoseSession(session);
        return;
    }
    ErrorLog("IoCompletedEvent object %d\n", (int)count);
    HandleCommEvents(session, session->eventMask);
    if (!IsLiveSession(session))
        return;
    if (!InitiateCommWait(session)) {
        ErrorLog("InitiateCommWait() failure\n");
        LoseSession(session);
    }
}

static void RouteReceived(PortSession *session, unsigned char *bytes, DWORD count)
{
    CountLine(session, &HostLineCounts::bytesReceived, (int32_t)count);
    if (session->mode && session->mode->hooks->receive)
        session->mode->hooks->receive(session, bytes, (int)count);
}

void ReadCompletedHandler(HANDLE handle, void *context)
{
    (void)handle;
    PortSession *session = (PortSession *)context;
    DWORD count = 0;
    if (GetOverlappedResult(session->portHandle, &session->readOverlapped, &count, FALSE)) {
        ErrorLog("ReadCompletedEvent object %d\n", (int)count);
        session->readBuffer[count] = '\0';
        int last = count >= 2 ? (signed char)session->readBuffer[count - 2] : 0;
        /* The line keeps its historical format, whose 0 flag is redundant. */
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat"
        ErrorLog("cw=%ld last=%02.2x data=%s\n", (long)count, last, (const char *)session->readBuffer);
#pragma GCC diagnostic pop
        RouteReceived(session, session->readBuffer, count);
        if (!IsLiveSession(session))
            return;
    } else if (GetLastError() == ERROR_IO_INCOMPLETE) {
        return;
    } else {
        ErrorLog("GetOverlappedResults() failed: %d\n", (int)GetLastError());
    }
    ResetEvent(session->readCompletedEvent);
    session->readPending = 0;
    /* More may be queued than one read takes, or an event character came
     * while this read was being routed: read on, so that no complete
     * sentence or frame waits for a later event character. */
    if (session->readAgain || count == ReadChunk) {
        session->readAgain = 0;
        StartRead(session);
    }
}

void SendCompletedHandler(HANDLE handle, void *context)
{
    (void)handle;
    PortSession *session = (PortSession *)context;
    ResetEvent(session->sendCompletedEvent);
    ErrorLog("SendCompletedEvent object\n");
    ReapWrites(session, 0);
}
