/* The overlapped comm calls. Each runs under the port's lock; the port
 * thread finishes what cannot finish at once. */
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include "serial.h"

/* Starts an overlapped operation: Windows resets the event first. */
static void BeginIo(OVERLAPPED *overlapped)
{
    if (overlapped->hEvent)
        ResetEvent(overlapped->hEvent);
    overlapped->Internal = ERROR_IO_PENDING;
    overlapped->InternalHigh = 0;
}

static BOOL Refuse(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

/* The operation goes on: its OVERLAPPED's event tells when it is done. */
static BOOL Pending(void) { return Refuse(ERROR_IO_PENDING); }

/* Appends a pending operation to a list, keeping the order of arrival. */
static PendingIo *Enqueue(PendingIo **list, OVERLAPPED *overlapped, void *buffer, DWORD length)
{
    PendingIo *io = (PendingIo *)calloc(1, sizeof *io);
    if (!io)
        return NULL;
    io->overlapped = overlapped;
    io->buffer = (unsigned char *)buffer;
    io->length = length;
    while (*list)
        list = &(*list)->next;
    *list = io;
    return io;
}

BOOL WaitCommEvent(HANDLE handle, LPDWORD mask, LPOVERLAPPED overlapped)
{
    return WithPort(handle, [&](CommPort *port) {
        if (!mask || !overlapped || port->waitOverlapped)
            return Refuse(ERROR_INVALID_PARAMETER);
        if (port->hungUp)
            return Refuse(ERROR_DEVICE_NOT_CONNECTED);
        BeginIo(overlapped);
        DWORD ready = port->heldEvents & port->mask;
        if (ready) {
            port->heldEvents = 0;
            *mask = ready;
            CompleteIo(overlapped, 0, 0);
            return TRUE;
        }
        port->waitOverlapped = overlapped;
        port->waitMask = mask;
        return Pending();
    });
}

BOOL SetCommMask(HANDLE handle, DWORD mask)
{
    return WithPort(handle, [&](CommPort *port) {
        port->mask = mask;
        /* Events already seen that the new mask keeps still complete a wait. */
        port->heldEvents &= mask;
        if (port->waitOverlapped) {
            *port->waitMask = 0;
            CompleteIo(port->waitOverlapped, 0, 0);
            port->waitOverlapped = NULL;
        }
        return TRUE;
    });
}

BOOL ReadFile(HANDLE handle, LPVOID buffer, DWORD length, LPDWORD read, LPOVERLAPPED overlapped)
{
    return WithPort(handle, [&](CommPort *port) {
        if (!overlapped || (!buffer && length))
            return Refuse(ERROR_INVALID_PARAMETER);
        const COMMTIMEOUTS *t = &port->timeouts;
        int early = t->ReadIntervalTimeout == MAXDWORD;
        int noWait = early && t->ReadTotalTimeoutMultiplier == 0 && t->ReadTotalTimeoutConstant == 0;
        BeginIo(overlapped);
        DWORD taken = TakeInput(port, (unsigned char *)buffer, length);
        if (taken)
            WakePortThread(port); /* the queue has room again */
        if (taken == length || (early && taken) || noWait) {
            CompleteIo(overlapped, 0, taken);
            if (read)
                *read = taken;
            return TRUE;
        }
        if (port->hungUp)
            return Refuse(ERROR_DEVICE_NOT_CONNECTED);
        PendingIo *io = Enqueue(&port->reads, overlapped, buffer, length);
        if (!io)
            return Refuse(ERROR_NOT_ENOUGH_MEMORY);
        io->done = taken;
        uint64_t total = (early && t->ReadTotalTimeoutMultiplier == MAXDWORD)
                             ? t->ReadTotalTimeoutConstant
                             : (uint64_t)t->ReadTotalTimeoutMultiplier * length + t->ReadTotalTimeoutConstant;
        io->deadline = total ? MonotonicMilliseconds() + total : 0;
        WakePortThread(port);
        return Pending();
    });
}

BOOL WriteFile(HANDLE handle, const void *buffer, DWORD length, LPDWORD written, LPOVERLAPPED overlapped)
{
    return WithPort(handle, [&](CommPort *port) {
        if (!overlapped || (!buffer && length))
            return Refuse(ERROR_INVALID_PARAMETER);
        if (port->hungUp)
            return Refuse(ERROR_DEVICE_NOT_CONNECTED);
        BeginIo(overlapped);
        DWORD sent = 0;
        /* Straight to the device when nothing is ahead of it in the queue. */
        while (!port->writes && sent < length) {
            ssize_t n = write(port->fd, (const unsigned char *)buffer + sent, length - sent);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                break;
            sent += (DWORD)n;
        }
        if (sent == length) {
            CompleteIo(overlapped, 0, sent);
            if (written)
                *written = sent;
            return TRUE;
        }
        PendingIo *io = Enqueue(&port->writes, overlapped, (void *)buffer, length);
        if (!io)
            return Refuse(ERROR_NOT_ENOUGH_MEMORY);
        io->done = sent;
        WakePortThread(port);
        return Pending();
    });
}

BOOL GetOverlappedResult(HANDLE handle, LPOVERLAPPED overlapped, LPDWORD transferred, BOOL wait)
{
    return WithPort(handle, [&](CommPort *port) {
        while (overlapped->Internal == ERROR_IO_PENDING) {
            if (!wait || !overlapped->hEvent)
                return Refuse(ERROR_IO_INCOMPLETE);
            pthread_mutex_unlock(&port->lock);
            WaitForSingleObject(overlapped->hEvent, INFINITE);
            pthread_mutex_lock(&port->lock);
        }
        DWORD error = (DWORD)overlapped->Internal;
        if (transferred)
            *transferred = (DWORD)overlapped->InternalHigh;
        return error ? Refuse(error) : TRUE;
    });
}

void AbortPendingIo(CommPort *port)
{
    AbortIoList(&port->reads, ERROR_OPERATION_ABORTED);
    AbortIoList(&port->writes, ERROR_OPERATION_ABORTED);
    if (port->waitOverlapped) {
        *port->waitMask = 0;
        CompleteIo(port->waitOverlapped, ERROR_OPERATION_ABORTED, 0);
        port->waitOverlapped = NULL;
    }
}

BOOL CancelIoEx(HANDLE handle, LPOVERLAPPED overlapped)
{
    if (overlapped) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return WithPort(handle, [&](CommPort *port) {
        AbortPendingIo(port);
        WakePortThread(port);
        return TRUE;
    });
}

BOOL PurgeComm(HANDLE handle, DWORD flags)
{
    return WithPort(handle, [&](CommPort *port) {
        if (flags & PURGE_TXABORT)
            AbortIoList(&port->writes, ERROR_OPERATION_ABORTED);
        if (flags & PURGE_RXABORT)
            AbortIoList(&port->reads, ERROR_OPERATION_ABORTED);
        if (flags & PURGE_TXCLEAR)
            tcflush(port->fd, TCOFLUSH);
        if (flags & PURGE_RXCLEAR) {
            tcflush(port->fd, TCIFLUSH);
            port->inputStart = port->inputCount = 0;
        }
        WakePortThread(port);
        return TRUE;
    });
}

BOOL ClearCommError(HANDLE handle, LPDWORD errors, LPCOMSTAT status)
{
    return WithPort(handle, [&](CommPort *port) {
        if (errors)
            *errors = port->errors;
        port->errors = 0;
        if (status) {
            status->flags = 0;
            status->cbInQue = port->inputCount;
            status->cbOutQue = 0;
            for (PendingIo *io = port->writes; io; io = io->next)
                status->cbOutQue += io->length - io->done;
        }
        return TRUE;
    });
}

BOOL SetupComm(HANDLE handle, DWORD inQueue, DWORD outQueue)
{
    return WithPort(handle, [&](CommPort *port) {
        if (inQueue == 0 || inQueue > 0x1000000)
            return Refuse(ERROR_INVALID_PARAMETER);
        DWORD size = inQueue > port->inputCount ? inQueue : port->inputCount;
        unsigned char *input = (unsigned char *)malloc(size);
        if (!input)
            return Refuse(ERROR_NOT_ENOUGH_MEMORY);
        DWORD count = TakeInput(port, input, port->inputCount);
        free(port->input);
        port->input = input;
        port->inputSize = size;
        port->inputStart = 0;
        port->inputCount = count;
        port->outputSize = outQueue;
        WakePortThread(port);
        return TRUE;
    });
}

BOOL GetCommTimeouts(HANDLE handle, LPCOMMTIMEOUTS timeouts)
{
    return WithPort(handle, [&](CommPort *port) {
        *timeouts = port->timeouts;
        return TRUE;
    });
}

BOOL SetCommTimeouts(HANDLE handle, LPCOMMTIMEOUTS timeouts)
{
    return WithPort(handle, [&](CommPort *port) {
        port->timeouts = *timeouts;
        return TRUE;
    });
}

BOOL GetCommProperties(HANDLE handle, LPCOMMPROP properties)
{
    return WithPort(handle, [&](CommPort *port) {
        memset(properties, 0, sizeof *properties);
        properties->wPacketLength = sizeof *properties;
        properties->wPacketVersion = 2;
        properties->dwServiceMask = 1;         /* SP_SERIALCOMM */
        properties->dwMaxBaud = 0x10000000;    /* BAUD_USER: any rate the driver takes */
        properties->dwProvSubType = 1;         /* PST_RS232 */
        properties->dwCurrentTxQueue = port->outputSize;
        properties->dwCurrentRxQueue = port->inputSize;
        return TRUE;
    });
}
