#include <stdlib.h>
#include <string.h>

#include "../engine/dispatch.h"
#include "../engine/enginelock.h"
#include "../engine/entry.h"
#include "../engine/waittable.h"
#include "../errlog/errlog.h"
#include "../errlog/lasterror.h"
#include "port.h"
#include "portcall.h"
#include "registry.h"

enum { QueueSize = 4096, ReadWaitMs = 3000 };

/* The events the dispatch thread serves, each with the handler of its kind.
 * ERROR_SUCCESS, or why they could not be made. */
static DWORD RegisterSessionEvents(PortSession *session)
{
    HANDLE *events[] = {&session->ioCompletedEvent, &session->sendCompletedEvent, &session->readCompletedEvent};
    WaitCallback handlers[] = {IoCompletedHandler, SendCompletedHandler, ReadCompletedHandler};
    for (int i = 0; i < 3; i++) {
        *events[i] = CreateEventA(NULL, TRUE, FALSE, NULL);
        if (!*events[i]) {
            DWORD error = GetLastError();
            ErrorLog("CreateEvent() failure: %ld\n", (long)error);
            return error;
        }
        if (!RegisterWaitHandle(*events[i], session, handlers[i])) {
            ErrorLog("RegisterWaitHandle() failure: table full\n");
            return ERROR_NOT_ENOUGH_MEMORY;
        }
    }
    return ERROR_SUCCESS;
}

static void ConfigureLineDcb(DCB *dcb, DWORD baud)
{
    /* Rebuilt from nothing: whatever the device reported is not kept. */
    memset(dcb, 0, sizeof *dcb);
    dcb->DCBlength = sizeof(DCB);
    dcb->BaudRate = baud;
    dcb->fBinary = 1;
    dcb->fRtsControl = RTS_CONTROL_ENABLE;
    dcb->ByteSize = 8;
    dcb->Parity = NOPARITY;
    dcb->StopBits = ONESTOPBIT;
    dcb->EvtChar = '\n';
}

/* ERROR_SUCCESS, or why the line could not be configured. */
static DWORD ConfigureLine(PortSession *session, DWORD baud)
{
    DCB dcb;
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(session->portHandle, &dcb)) {
        DWORD error = GetLastError();
        ErrorLog("GetCommState() failure: %ld\n", (long)error);
        return error;
    }
    ConfigureLineDcb(&dcb, baud);
    if (!SetCommState(session->portHandle, &dcb)) {
        DWORD error = GetLastError();
        ErrorLog("SetCommState() failure: %ld\n", (long)error);
        return error;
    }
    /* A read returns at once with what has arrived, or waits up to 3 s for
     * the first byte. */
    COMMTIMEOUTS timeouts;
    GetCommTimeouts(session->portHandle, &timeouts);
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = ReadWaitMs;
    SetCommTimeouts(session->portHandle, &timeouts);
    SetCommMask(session->portHandle, EV_RXFLAG | EV_CTS | EV_DSR | EV_ERR | EV_RING);
    if (!SetupComm(session->portHandle, QueueSize, QueueSize))
        ErrorLog("SetupComm() failure: %ld\n", (long)GetLastError());
    COMMPROP properties;
    if (GetCommProperties(session->portHandle, &properties))
        ErrorLog("TxBufSize=%ld RxBufSize=%ld\n", (long)properties.dwCurrentTxQueue,
                 (long)properties.dwCurrentRxQueue);
    else
        ErrorLog("GetCommProperties() failure: %ld\n", (long)GetLastError());
    return ERROR_SUCCESS;
}

/* The open session, or null with why it could not be opened (a Windows
 * error code); engine lock held. */
static PortSession *OpenPortSession(const char *name, DWORD baud, HalvexPortCallback callback, DWORD *why)
{
    PortSession *session = (PortSession *)calloc(1, sizeof *session);
    *why = ERROR_NOT_ENOUGH_MEMORY;
    if (!session)
        return NULL;
    session->portHandle = INVALID_HANDLE_VALUE;
    AddLiveSession(session);
    session->portCallback = callback;
    /* The device is opened by its full name; the record keeps what fits. */
    size_t kept = strlen(name);
    memcpy(session->portName, name, kept < PortNameSize ? kept : PortNameSize - 1);

    if ((*why = RegisterSessionEvents(session)) != ERROR_SUCCESS)
        goto failed;
    session->portHandle = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                                      FILE_FLAG_OVERLAPPED, NULL);
    if (session->portHandle == INVALID_HANDLE_VALUE) {
        *why = GetLastError();
        ErrorLog("CreateFile() failure: %ld\n", (long)*why);
        goto failed;
    }
    if ((*why = ConfigureLine(session, baud)) != ERROR_SUCCESS)
        goto failed;
    session->waitOverlapped.hEvent = session->ioCompletedEvent;
    session->readOverlapped.hEvent = session->readCompletedEvent;
    session->readBuffer = (unsigned char *)malloc(ReadBufferSize);
    *why = session->readBuffer ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_MEMORY;
    if (session->readBuffer && InitiateCommWait(session))
        return session;
    if (session->readBuffer)
        *why = GetLastError();
    ErrorLog("InitiateCommWait() failure\n");
failed:
    ClosePortSession(session);
    return NULL;
}

/* On Windows an overlapped operation may still write into its OVERLAPPED
 * and buffer after CloseHandle returns: each is cancelled and its end
 * awaited first, so that nothing it can touch is freed under it. */
static void SettlePendingIo(PortSession *session)
{
    HANDLE port = session->portHandle;
    DWORD count;
    CancelIoEx(port, NULL);
    GetOverlappedResult(port, &session->waitOverlapped, &count, TRUE);
    if (session->readPending)
        GetOverlappedResult(port, &session->readOverlapped, &count, TRUE);
    AwaitWrites(session);
}

void ClosePortSession(PortSession *session)
{
    if (!RetireSession(session))
        return;
    /* The mode ends its timers as it leaves: nothing may fire on a closed
     * session. */
    LeaveMode(session);
    if (session->portHandle != INVALID_HANDLE_VALUE) {
        SettlePendingIo(session);
        CloseHandle(session->portHandle);
    }
    session->portHandle = INVALID_HANDLE_VALUE;
    HANDLE events[] = {session->ioCompletedEvent, session->sendCompletedEvent, session->readCompletedEvent};
    for (HANDLE event : events)
        if (event)
            UnregisterWaitHandle(event);
    /* The events are closed, and the record freed, by the dispatch thread
     * once its current wait is over. */
    WakeDispatcher();
}

static PortSession *OpenExport(const char *name, int32_t baud, HalvexPortCallback callback)
{
    /* The dispatch thread is started, and waited for, before the engine is
     * locked: no export waits on the lock meanwhile. */
    int ready = name && EnsureDispatcher();
    PortCall call;
    if (!ready) {
        call.why = name ? ERROR_NOT_READY : ERROR_INVALID_PARAMETER;
        return NULL;
    }
    call.wake = true; /* the new port's events, or those of a failed open to free */
    return OpenPortSession(name, (DWORD)baud, callback, &call.why);
}

PortSession *HALVEX_CALL OpenCommPort(const char *name, int32_t baud) { return OpenExport(name, baud, NULL); }

PortSession *HALVEX_CALL OpenCommPortEx(const char *name, int32_t baud, HalvexPortCallback *callback)
{
    return OpenExport(name, baud, callback ? *callback : NULL);
}

void HALVEX_CALL CloseCommPort(PortSession *session)
{
    PortCall call(session);
    ClosePortSession(session); /* wakes the dispatch thread itself */
}
