/* Modem-line events (CTS, DSR, ring, carrier). The kernel reports a change
 * only to a thread blocked in TIOCMIWAIT, so a port whose driver has modem
 * lines gets a second thread for them; what changed while it was not
 * blocked there it learns from the driver's counts of changes. A
 * pseudo-terminal has no modem lines and gets no thread. The thread is woken
 * for closing by a signal of its own. */
#include <errno.h>
#include <linux/serial.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "serial.h"

static int WakeSignal(void) { return SIGRTMIN + 5; }

/* How soon after reporting a change the thread looks again. */
enum { RecheckMs = 20 };

static void IgnoreWake(int) {}

static pthread_mutex_t wakeLock = PTHREAD_MUTEX_INITIALIZER;
static int wakeInstalled;
static struct sigaction wakeBefore;

int PrepareWakeSignal(void)
{
    pthread_mutex_lock(&wakeLock);
    if (!wakeInstalled) {
        struct sigaction action = {};
        action.sa_handler = IgnoreWake; /* no SA_RESTART: the wait must end */
        sigemptyset(&action.sa_mask);
        struct sigaction current;
        sigaction(WakeSignal(), NULL, &current);
        /* A host that has claimed the signal keeps it, and then there is
         * nothing to wake the thread with. */
        if (current.sa_handler == SIG_DFL && sigaction(WakeSignal(), &action, &wakeBefore) == 0)
            wakeInstalled = 1;
    }
    int usable = wakeInstalled;
    pthread_mutex_unlock(&wakeLock);
    return usable;
}

void RestoreWakeSignal(void)
{
    pthread_mutex_lock(&wakeLock);
    struct sigaction current;
    /* Only our own handler is taken back: it lives in code about to go. */
    if (wakeInstalled && sigaction(WakeSignal(), NULL, &current) == 0 && current.sa_handler == IgnoreWake)
        sigaction(WakeSignal(), &wakeBefore, NULL);
    wakeInstalled = 0;
    pthread_mutex_unlock(&wakeLock);
}

/* The lines, and the driver's counts of their changes, read so that the two
 * agree (no change came between the reads) unless the lines never keep
 * still. 0 when the lines cannot be read. A driver that keeps no counts
 * gives the counts kept before, so that they show no change. */
static int ReadLines(const CommPort *port, int *lines, struct serial_icounter_struct *counts)
{
    for (int tries = 0; tries < 3; tries++) {
        struct serial_icounter_struct after;
        if (ioctl(port->fd, TIOCGICOUNT, counts) != 0) {
            counts->cts = port->ctsChanges;
            counts->dsr = port->dsrChanges;
            counts->rng = port->ringChanges;
            counts->dcd = port->carrierChanges;
            return ioctl(port->fd, TIOCMGET, lines) == 0;
        }
        if (ioctl(port->fd, TIOCMGET, lines) != 0)
            return 0;
        if (ioctl(port->fd, TIOCGICOUNT, &after) != 0 ||
            (after.cts == counts->cts && after.dsr == counts->dsr && after.rng == counts->rng &&
             after.dcd == counts->dcd))
            break;
    }
    return 1;
}

static void KeepLines(CommPort *port, int lines, const struct serial_icounter_struct *counts)
{
    port->modemLines = lines;
    port->ctsChanges = counts->cts;
    port->dsrChanges = counts->dsr;
    port->ringChanges = counts->rng;
    port->carrierChanges = counts->dcd;
}

/* What changed since the lines were last kept. A line that changed and came
 * back between two looks, or while the thread was not yet waiting, shows in
 * the driver's counts though the lines look the same. */
static DWORD ChangedLines(const CommPort *port, int lines, const struct serial_icounter_struct *counts)
{
    int before = port->modemLines;
    DWORD events = 0;
    if (((before ^ lines) & TIOCM_CTS) || counts->cts != port->ctsChanges)
        events |= EV_CTS;
    if (((before ^ lines) & TIOCM_DSR) || counts->dsr != port->dsrChanges)
        events |= EV_DSR;
    if (((before ^ lines) & TIOCM_CD) || counts->dcd != port->carrierChanges)
        events |= EV_RLSD;
    /* Ring on its trailing edge, as Windows reports it: it was on and went
     * off, or went on and off again in between. */
    int ringChanges = counts->rng - port->ringChanges;
    if (((before & TIOCM_RNG) && !(lines & TIOCM_RNG)) || ringChanges >= 2 ||
        (ringChanges == 1 && (before & TIOCM_RNG)))
        events |= EV_RING;
    return events;
}

static void *ModemThreadMain(void *parameter)
{
    CommPort *port = (CommPort *)parameter;
    for (;;) {
        pthread_mutex_lock(&port->lock);
        int closing = port->closing || port->hungUp;
        pthread_mutex_unlock(&port->lock);
        if (closing)
            break;
        /* First what changed since the last look (the lines and counts are
         * this thread's own), then wait for more. A change between the last
         * look and the wait does not end the wait: after a report, which a
         * host may answer at once with a change of its own, the port thread
         * makes us look again until we have. */
        int lines;
        struct serial_icounter_struct counts;
        if (ReadLines(port, &lines, &counts)) {
            DWORD events = ChangedLines(port, lines, &counts);
            KeepLines(port, lines, &counts);
            pthread_mutex_lock(&port->lock);
            RaiseEvents(port, events);
            port->modemRecheck = events ? MonotonicMilliseconds() + RecheckMs : 0;
            if (events)
                WakePortThread(port);
            pthread_mutex_unlock(&port->lock);
        }
        int waited = ioctl(port->fd, TIOCMIWAIT, TIOCM_CTS | TIOCM_DSR | TIOCM_RNG | TIOCM_CD);
        if (waited != 0 && errno != EINTR)
            break; /* the device went away; the port thread sees that too */
    }
    pthread_mutex_lock(&port->lock);
    port->modemRecheck = 0; /* nothing is to signal a thread that has gone */
    pthread_mutex_unlock(&port->lock);
    return NULL;
}

void StartModemWatch(CommPort *port)
{
    int lines;
    struct serial_icounter_struct counts = {};
    if (!ReadLines(port, &lines, &counts) || !PrepareWakeSignal())
        return;
    KeepLines(port, lines, &counts);
    port->haveModem = pthread_create(&port->modemThread, NULL, ModemThreadMain, port) == 0;
}

void RecheckModemLines(CommPort *port)
{
    /* Sent again every RecheckMs until the thread has looked: one that comes
     * before the thread is back in its wait is lost. */
    port->modemRecheck = MonotonicMilliseconds() + RecheckMs;
    pthread_kill(port->modemThread, WakeSignal());
}

void StopModemWatch(CommPort *port)
{
    if (!port->haveModem)
        return;
    pthread_mutex_lock(&port->lock);
    port->closing = 1;
    pthread_mutex_unlock(&port->lock);
    /* A signal sent just before the thread blocks is lost, so keep sending
     * until it has gone. */
    struct timespec wait;
    do {
        pthread_kill(port->modemThread, WakeSignal());
        clock_gettime(CLOCK_REALTIME, &wait);
        wait.tv_nsec += 10000000L;
        if (wait.tv_nsec >= 1000000000L) {
            wait.tv_sec++;
            wait.tv_nsec -= 1000000000L;
        }
    } while (pthread_timedjoin_np(port->modemThread, NULL, &wait) == ETIMEDOUT);
    port->haveModem = 0;
}
