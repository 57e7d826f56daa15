/* Opening and closing serial devices. */
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "serial.h"

enum { DefaultQueue = 4096 };

static DWORD ErrorFromErrno(int error)
{
    switch (error) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
        return ERROR_FILE_NOT_FOUND;
    case EISDIR:
        return ERROR_INVALID_FUNCTION; /* a folder: no serial device */
    case ENOTDIR:
    case ENAMETOOLONG:
        return ERROR_PATH_NOT_FOUND;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case EACCES:
    case EPERM:
        /* Windows has no such case for a port; kept apart from a port in
         * use, so that a host can say which of the two it is. */
        return ERROR_PRIVILEGE_NOT_HELD;
    default:
        return ERROR_ACCESS_DENIED; /* EBUSY (a tty held exclusively) and the rest, as for a port in use */
    }
}

/* A USB serial adapter holds received bytes up to its latency timer (16 ms
 * on common chips) before passing them on; in a stop-and-wait exchange that
 * is paid on every frame. Drivers that know the low-latency flag are asked
 * for it; others (a pseudo-terminal) refuse the call, and nothing changes. */
static void RequestLowLatency(CommPort *port)
{
    struct serial_struct settings;
    if (ioctl(port->fd, TIOCGSERIAL, &settings) != 0 || (settings.flags & ASYNC_LOW_LATENCY))
        return;
    settings.flags |= ASYNC_LOW_LATENCY;
    port->restoreLatency = ioctl(port->fd, TIOCSSERIAL, &settings) == 0;
}

static void RestoreLatency(CommPort *port)
{
    struct serial_struct settings;
    if (port->restoreLatency && ioctl(port->fd, TIOCGSERIAL, &settings) == 0) {
        settings.flags &= ~ASYNC_LOW_LATENCY;
        ioctl(port->fd, TIOCSSERIAL, &settings);
    }
    port->restoreLatency = 0;
}

static void FreePort(CommPort *port)
{
    if (port->wakeFd >= 0)
        close(port->wakeFd);
    if (port->fd >= 0) {
        RestoreLatency(port);
        /* Another holder of the device (a simulator, say) keeps the tty
         * open past our close: leave it open to the next user. */
        if (port->isTty)
            ioctl(port->fd, TIOCNXCL);
        close(port->fd); /* also drops the exclusive lock */
    }
    pthread_mutex_destroy(&port->lock);
    free(port->input);
    free(port);
}

static void ClosePort(KernelObject *object)
{
    CommPort *port = (CommPort *)object;
    if (port->isTty) {
        StopModemWatch(port);
        StopPortThread(port);
        /* Closing a handle cancels what is still pending on it, and here
         * every cancelled operation has ended when CloseHandle returns. */
        pthread_mutex_lock(&port->lock);
        AbortPendingIo(port);
        pthread_mutex_unlock(&port->lock);
    }
    FreePort(port);
}

const KernelObjectOps commOps = {ClosePort};

static int PrepareTty(CommPort *port)
{
    /* Exclusive for other users; the flock taken before keeps out root too. */
    ioctl(port->fd, TIOCEXCL);
    /* What the device took in before this open went through the terminal's
     * cooked processing (a CR turned into LF), which a Windows port never
     * applies: it is not what the far end sent, so it goes. */
    tcflush(port->fd, TCIFLUSH);
    RequestLowLatency(port);
    port->input = (unsigned char *)malloc(DefaultQueue);
    port->wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (!port->input || port->wakeFd < 0 || !ReadDcb(port, &port->dcb))
        return 0;
    port->inputSize = DefaultQueue;
    port->outputSize = DefaultQueue;
    port->dcb.EvtChar = 0;
    return StartPortThread(port);
}

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                   DWORD flags, HANDLE templateFile)
{
    (void)security;
    (void)flags; /* serial I/O here is always overlapped */
    (void)templateFile;
    if (!name || disposition != OPEN_EXISTING) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    int mode = (access & GENERIC_WRITE) ? ((access & GENERIC_READ) ? O_RDWR : O_WRONLY) : O_RDONLY;
    int fd = open(name, mode | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        SetLastError(ErrorFromErrno(errno));
        return INVALID_HANDLE_VALUE;
    }
    if (shareMode == 0 && flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    CommPort *port = (CommPort *)calloc(1, sizeof *port);
    if (!port) {
        close(fd);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    port->base.ops = &commOps;
    port->fd = fd;
    port->wakeFd = -1;
    port->isTty = isatty(fd);
    pthread_mutex_init(&port->lock, NULL);
    if (port->isTty && !PrepareTty(port)) {
        FreePort(port);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE handle = InsertObject(&port->base);
    if (!handle)
        return INVALID_HANDLE_VALUE;
    if (port->isTty)
        StartModemWatch(port);
    return handle;
}

CommPort *LookupPort(HANDLE handle)
{
    pthread_mutex_lock(&kernelLock);
    KernelObject *object = LookupObject(handle);
    pthread_mutex_unlock(&kernelLock);
    if (!object || object->ops != &commOps) {
        SetLastError(ERROR_INVALID_HANDLE);
        return NULL;
    }
    CommPort *port = (CommPort *)object;
    if (!port->isTty) {
        SetLastError(ERROR_INVALID_FUNCTION); /* a file, not a comm device */
        return NULL;
    }
    return port;
}

CommPort *LockPort(HANDLE handle)
{
    CommPort *port = LookupPort(handle);
    if (port)
        pthread_mutex_lock(&port->lock);
    return port;
}
