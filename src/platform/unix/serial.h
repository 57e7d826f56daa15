/*
 * A serial port behind a HANDLE. The kernel has no event character and no
 * overlapped I/O on ttys, so each port has a thread that moves bytes between
 * the device and queues of our own and completes the pending operations.
 */
#ifndef HALVEX_UNIX_SERIAL_H
#define HALVEX_UNIX_SERIAL_H

#include "object.h"

struct PendingIo {
    PendingIo *next;
    OVERLAPPED *overlapped;
    unsigned char *buffer;
    DWORD length;
    DWORD done;
    uint64_t deadline; /* reads: ms on the monotonic clock, 0 for none */
};

struct CommPort {
    KernelObject base; /* never signalled: the library waits on events */
    int fd;
    int isTty;
    pthread_mutex_t lock; /* everything below */
    pthread_t thread;
    int threadRunning;
    int wakeFd; /* eventfd that makes the port thread look again */
    int closing;
    int hungUp;

    DCB dcb; /* what SetCommState was given, for the fields termios has no room for */
    COMMTIMEOUTS timeouts;
    DWORD mask;
    DWORD heldEvents; /* occurred while no wait was pending */
    DWORD errors;     /* CE_ flags since the last ClearCommError */

    OVERLAPPED *waitOverlapped;
    DWORD *waitMask;

    unsigned char *input; /* ring buffer of inputSize bytes */
    DWORD inputSize;
    DWORD inputStart;
    DWORD inputCount;
    DWORD outputSize;

    PendingIo *reads; /* in the order they were started */
    PendingIo *writes;

    int haveCounters; /* the driver counts line errors (TIOCGICOUNT) */
    int frameErrors, parityErrors, overruns, breaks;
    int restoreLatency; /* we set the driver's low-latency flag, which was off */
    int haveModem; /* the driver reports modem lines */
    int modemLines; /* the modem thread's own, as it last looked */
    int ctsChanges, dsrChanges, ringChanges, carrierChanges; /* the driver's counts */
    uint64_t modemRecheck; /* when the port thread next makes the modem thread look; 0: never */
    pthread_t modemThread;
};

extern const KernelObjectOps commOps;

/* The port of a handle, or null with ERROR_INVALID_HANDLE; only a tty counts
 * as a comm device. */
CommPort *LookupPort(HANDLE handle);
/* LookupPort, and the port's lock taken when there is one. */
CommPort *LockPort(HANDLE handle);
/* Runs body(port) with the port's lock held and returns what it returns;
 * FALSE for a handle that is no comm port. */
template <typename Body> BOOL WithPort(HANDLE handle, Body body)
{
    CommPort *port = LockPort(handle);
    if (!port)
        return FALSE;
    BOOL result = body(port);
    pthread_mutex_unlock(&port->lock);
    return result;
}

/* Port thread and the operations it completes; lock held unless said. */
int StartPortThread(CommPort *port);
void StopPortThread(CommPort *port); /* lock not held */
void WakePortThread(CommPort *port);
void RaiseEvents(CommPort *port, DWORD events);
void CompleteIo(OVERLAPPED *overlapped, DWORD error, DWORD bytes);
void AbortIoList(PendingIo **list, DWORD error);
/* Ends every read, write and line-event wait pending on the port as aborted;
 * the port's lock held. */
void AbortPendingIo(CommPort *port);
/* Moves up to length queued input bytes into buffer; how many it moved. */
DWORD TakeInput(CommPort *port, unsigned char *buffer, DWORD length);
uint64_t MonotonicMilliseconds(void);

/* Line settings: termios from a DCB and back. */
int ApplyDcb(CommPort *port, const DCB *dcb);
int ReadDcb(CommPort *port, DCB *dcb);

/* Modem lines, where the driver has them (lock not held). */
void StartModemWatch(CommPort *port);
void StopModemWatch(CommPort *port);
/* Makes the modem thread look at the lines again, for a change that came
 * while it was not waiting; called by the port thread, with the lock held,
 * when modemRecheck is due. */
void RecheckModemLines(CommPort *port);
/* The modem thread is woken for closing by a signal with a no-op handler of
 * ours, installed on first need unless the host has claimed the signal; 1
 * when it is ours to use. Unloading puts back what was there before. */
int PrepareWakeSignal(void);
void RestoreWakeSignal(void);

#endif
