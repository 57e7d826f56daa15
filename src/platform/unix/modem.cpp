/* Modem-line events (CTS, DSR, ring, carrier). The kernel reports a change
 * only to a thread blocked in TIOCMIWAIT, so a port whose driver has modem
 * lines gets a second thread for them. A pseudo-terminal has none and gets
 * no thread. The thread is woken for closing by a signal of its own. */
#include <errno.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "serial.h"

static int WakeSignal(void) { return SIGRTMIN + 5; }

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

static DWORD ChangedLines(int before, int after)
{
    DWORD events = 0;
    if ((before ^ after) & TIOCM_CTS)
        events |= EV_CTS;
    if ((before ^ after) & TIOCM_DSR)
        events |= EV_DSR;
    if ((before ^ after) & TIOCM_CD)
        events |= EV_RLSD;
    if ((before & TIOCM_RNG) && !(after & TIOCM_RNG))
        events |= EV_RING; /* the trailing edge, as Windows reports it */
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
        int waited = ioctl(port->fd, TIOCMIWAIT, TIOCM_CTS | TIOCM_DSR | TIOCM_RNG | TIOCM_CD);
        if (waited != 0 && errno != EINTR)
            break; /* the device went away; the port thread sees that too */
        int lines;
        if (ioctl(port->fd, TIOCMGET, &lines) != 0)
            break;
        pthread_mutex_lock(&port->lock);
        RaiseEvents(port, ChangedLines(port->modemLines, lines));
        port->modemLines = lines;
        pthread_mutex_unlock(&port->lock);
    }
    return NULL;
}

void StartModemWatch(CommPort *port)
{
    int lines;
    if (ioctl(port->fd, TIOCMGET, &lines) != 0 || !PrepareWakeSignal())
        return;
    port->modemLines = lines;
    port->haveModem = pthread_create(&port->modemThread, NULL, ModemThreadMain, port) == 0;
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
