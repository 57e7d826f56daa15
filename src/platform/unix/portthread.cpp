/* The port thread: moves bytes between the device and the port's queues and
 * completes pending operations. It sleeps in poll() until the device or the
 * library has something for it; only a pending read with a time-out bounds
 * the sleep. */
#include <errno.h>
#include <linux/serial.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include "serial.h"

uint64_t MonotonicMilliseconds(void)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (uint64_t)now.tv_sec * 1000u + (uint64_t)now.tv_nsec / 1000000u;
}

void CompleteIo(OVERLAPPED *overlapped, DWORD error, DWORD bytes)
{
    overlapped->InternalHigh = bytes;
    overlapped->Internal = error;
    if (overlapped->hEvent)
        SetEvent(overlapped->hEvent);
}

void AbortIoList(PendingIo **list, DWORD error)
{
    while (PendingIo *io = *list) {
        *list = io->next;
        CompleteIo(io->overlapped, error, io->done);
        free(io);
    }
}

void WakePortThread(CommPort *port)
{
    uint64_t one = 1;
    if (write(port->wakeFd, &one, sizeof one) < 0) {
        /* the counter is already non-zero: the thread will look anyway */
    }
}

void RaiseEvents(CommPort *port, DWORD events)
{
    events &= port->mask;
    if (!events)
        return;
    if (port->waitOverlapped) {
        *port->waitMask = events;
        CompleteIo(port->waitOverlapped, 0, 0);
        port->waitOverlapped = NULL;
    } else {
        port->heldEvents |= events;
    }
}

DWORD TakeInput(CommPort *port, unsigned char *buffer, DWORD length)
{
    DWORD taken = 0;
    while (taken < length && port->inputCount > 0) {
        DWORD run = port->inputSize - port->inputStart;
        DWORD take = length - taken;
        if (take > port->inputCount)
            take = port->inputCount;
        if (take > run)
            take = run;
        memcpy(buffer + taken, port->input + port->inputStart, take);
        taken += take;
        port->inputStart = (port->inputStart + take) % port->inputSize;
        port->inputCount -= take;
    }
    return taken;
}

/* Moves queued input into the pending reads, oldest first. A read in the
 * library's mode returns with whatever there is; others wait to be full. */
static void SatisfyReads(CommPort *port)
{
    int early = port->timeouts.ReadIntervalTimeout == MAXDWORD;
    while (port->reads && port->inputCount > 0) {
        PendingIo *read = port->reads;
        read->done += TakeInput(port, read->buffer + read->done, read->length - read->done);
        if (read->done < read->length && !early)
            return;
        port->reads = read->next;
        CompleteIo(read->overlapped, 0, read->done);
        free(read);
    }
}

static void HangUp(CommPort *port)
{
    port->hungUp = 1;
    SatisfyReads(port);
    AbortIoList(&port->reads, ERROR_DEVICE_NOT_CONNECTED);
    AbortIoList(&port->writes, ERROR_DEVICE_NOT_CONNECTED);
    if (port->waitOverlapped) {
        *port->waitMask = 0;
        CompleteIo(port->waitOverlapped, ERROR_DEVICE_NOT_CONNECTED, 0);
        port->waitOverlapped = NULL;
    }
}

/* Line errors, where the driver counts them. */
static DWORD CheckLineErrors(CommPort *port)
{
    struct serial_icounter_struct counts;
    if (!port->haveCounters || ioctl(port->fd, TIOCGICOUNT, &counts) != 0)
        return 0;
    DWORD events = 0;
    if (counts.frame != port->frameErrors)
        port->errors |= CE_FRAME, events |= EV_ERR;
    if (counts.parity != port->parityErrors)
        port->errors |= CE_RXPARITY, events |= EV_ERR;
    if (counts.overrun != port->overruns)
        port->errors |= CE_OVERRUN, events |= EV_ERR;
    if (counts.brk != port->breaks)
        port->errors |= CE_BREAK, events |= EV_BREAK;
    port->frameErrors = counts.frame;
    port->parityErrors = counts.parity;
    port->overruns = counts.overrun;
    port->breaks = counts.brk;
    return events;
}

static void ReadDevice(CommPort *port)
{
    DWORD events = 0;
    while (port->inputCount < port->inputSize) {
        DWORD end = (port->inputStart + port->inputCount) % port->inputSize;
        DWORD room = end >= port->inputStart ? port->inputSize - end : port->inputStart - end;
        ssize_t got = read(port->fd, port->input + end, room);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && errno == EAGAIN)
            break;
        if (got <= 0) {
            HangUp(port); /* EIO from a pty whose master closed, 0 after a modem hang-up */
            break;
        }
        events |= EV_RXCHAR;
        if (memchr(port->input + end, port->dcb.EvtChar, (size_t)got))
            events |= EV_RXFLAG;
        port->inputCount += (DWORD)got;
    }
    if (!events)
        return;
    events |= CheckLineErrors(port);
    SatisfyReads(port);
    RaiseEvents(port, events);
}

static void WriteDevice(CommPort *port)
{
    while (PendingIo *io = port->writes) {
        ssize_t sent = write(port->fd, io->buffer + io->done, io->length - io->done);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent < 0 && errno == EAGAIN)
            return;
        if (sent < 0) {
            HangUp(port);
            return;
        }
        io->done += (DWORD)sent;
        if (io->done < io->length)
            return;
        port->writes = io->next;
        CompleteIo(io->overlapped, 0, io->done);
        free(io);
    }
}

/* Completes reads whose time is up; the milliseconds to the next deadline, or -1. */
static int ExpireReads(CommPort *port)
{
    uint64_t now = MonotonicMilliseconds();
    int next = -1;
    PendingIo **link = &port->reads;
    while (PendingIo *read = *link) {
        if (read->deadline && read->deadline <= now) {
            *link = read->next;
            CompleteIo(read->overlapped, 0, read->done);
            free(read);
            continue;
        }
        if (read->deadline && (next < 0 || read->deadline - now < (uint64_t)next))
            next = (int)(read->deadline - now);
        link = &read->next;
    }
    return next;
}

static void *PortThreadMain(void *parameter)
{
    CommPort *port = (CommPort *)parameter;
    pthread_mutex_lock(&port->lock);
    while (!port->closing) {
        struct pollfd watched[2] = {{port->wakeFd, POLLIN, 0}, {port->fd, 0, 0}};
        if (!port->hungUp) {
            if (port->inputCount < port->inputSize)
                watched[1].events |= POLLIN; /* a full queue holds the device back */
            if (port->writes)
                watched[1].events |= POLLOUT;
        }
        /* A device with nothing asked of it is left out: a hang-up would
         * otherwise wake us for ever while the queue is full. */
        nfds_t count = watched[1].events ? 2 : 1;
        int timeout = ExpireReads(port);
        if (port->modemRecheck) {
            uint64_t now = MonotonicMilliseconds();
            if (port->modemRecheck <= now)
                RecheckModemLines(port);
            int recheck = (int)(port->modemRecheck - now);
            if (timeout < 0 || recheck < timeout)
                timeout = recheck;
        }
        pthread_mutex_unlock(&port->lock);
        int ready = poll(watched, count, timeout);
        pthread_mutex_lock(&port->lock);
        if (ready < 0)
            continue;
        if (watched[0].revents) {
            uint64_t drained;
            if (read(port->wakeFd, &drained, sizeof drained) < 0) {
                /* nothing was pending after all */
            }
        }
        if (!port->hungUp && (watched[1].revents & (POLLIN | POLLHUP | POLLERR)))
            ReadDevice(port);
        if (!port->hungUp && (watched[1].revents & POLLOUT))
            WriteDevice(port);
    }
    pthread_mutex_unlock(&port->lock);
    return NULL;
}

int StartPortThread(CommPort *port)
{
    struct serial_icounter_struct counts;
    if (ioctl(port->fd, TIOCGICOUNT, &counts) == 0) {
        port->haveCounters = 1;
        port->frameErrors = counts.frame;
        port->parityErrors = counts.parity;
        port->overruns = counts.overrun;
        port->breaks = counts.brk;
    }
    port->threadRunning = pthread_create(&port->thread, NULL, PortThreadMain, port) == 0;
    return port->threadRunning;
}

void StopPortThread(CommPort *port)
{
    if (!port->threadRunning)
        return;
    pthread_mutex_lock(&port->lock);
    port->closing = 1;
    WakePortThread(port);
    pthread_mutex_unlock(&port->lock);
    pthread_join(port->thread, NULL);
    port->threadRunning = 0;
}
