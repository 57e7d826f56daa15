/* The DCB on termios: raw bytes, speed, framing and flow control. */
#include <errno.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "serial.h"

/* Any rate the driver takes goes through termios2, which glibc's termios
 * does not reach; declared here rather than pulled from the kernel headers,
 * which clash with <termios.h>. */
struct Termios2 {
    tcflag_t c_iflag, c_oflag, c_cflag, c_lflag;
    cc_t c_line;
    cc_t c_cc[19];
    speed_t c_ispeed, c_ospeed;
};
#ifndef BOTHER
#define BOTHER 0010000
#endif
#define HALVEX_TCGETS2 _IOR('T', 0x2A, struct Termios2)
#define HALVEX_TCSETS2 _IOW('T', 0x2B, struct Termios2)

/* Standard rates go through termios itself, which every driver knows. */
static speed_t StandardSpeed(DWORD baud)
{
    static const struct {
        DWORD baud;
        speed_t speed;
    } rates[] = {{110, B110},       {300, B300},       {600, B600},       {1200, B1200},     {2400, B2400},
                 {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},
                 {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600}};
    for (const auto &rate : rates)
        if (rate.baud == baud)
            return rate.speed;
    return B0;
}

static int SetBaud(int fd, DWORD baud)
{
    struct Termios2 settings;
    if (ioctl(fd, HALVEX_TCGETS2, &settings) != 0)
        return 0;
    settings.c_cflag &= ~(tcflag_t)(CBAUD | (CBAUD << 16));
    settings.c_cflag |= BOTHER | (BOTHER << 16);
    settings.c_ispeed = settings.c_ospeed = baud;
    return ioctl(fd, HALVEX_TCSETS2, &settings) == 0;
}

static DWORD GetBaud(int fd)
{
    struct Termios2 settings;
    return ioctl(fd, HALVEX_TCGETS2, &settings) == 0 ? settings.c_ospeed : 0;
}

static void SetModemLine(int fd, int line, int on)
{
    /* A pseudo-terminal has no modem lines; that is not an error here. */
    ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line);
}

int ApplyDcb(CommPort *port, const DCB *dcb)
{
    if (dcb->BaudRate == 0 || dcb->ByteSize < 5 || dcb->ByteSize > 8 || dcb->Parity > SPACEPARITY ||
        dcb->StopBits > TWOSTOPBITS) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    struct termios settings;
    if (tcgetattr(port->fd, &settings) != 0) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return 0;
    }
    cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    settings.c_cflag &= ~(tcflag_t)(CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS);
    static const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    settings.c_cflag |= sizes[dcb->ByteSize - 5];
    if (dcb->StopBits != ONESTOPBIT)
        settings.c_cflag |= CSTOPB;
    switch (dcb->Parity) {
    case ODDPARITY: settings.c_cflag |= PARENB | PARODD; break;
    case EVENPARITY: settings.c_cflag |= PARENB; break;
    case MARKPARITY: settings.c_cflag |= PARENB | PARODD | CMSPAR; break;
    case SPACEPARITY: settings.c_cflag |= PARENB | CMSPAR; break;
    default: break;
    }
    if (dcb->fParity)
        settings.c_iflag |= INPCK;
    if (dcb->fOutxCtsFlow || dcb->fRtsControl == RTS_CONTROL_HANDSHAKE)
        settings.c_cflag |= CRTSCTS;
    settings.c_iflag &= ~(tcflag_t)(IXON | IXOFF | IXANY);
    if (dcb->fOutX)
        settings.c_iflag |= IXON;
    if (dcb->fInX)
        settings.c_iflag |= IXOFF;
    settings.c_cc[VSTART] = dcb->XonChar ? (cc_t)dcb->XonChar : 0x11;
    settings.c_cc[VSTOP] = dcb->XoffChar ? (cc_t)dcb->XoffChar : 0x13;
    /* termios carries only the standard rates; SetBaud sets any other. */
    speed_t speed = StandardSpeed(dcb->BaudRate);
    cfsetspeed(&settings, speed != B0 ? speed : B9600);
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    if (tcsetattr(port->fd, TCSANOW, &settings) != 0 || (speed == B0 && !SetBaud(port->fd, dcb->BaudRate))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    SetModemLine(port->fd, TIOCM_DTR, dcb->fDtrControl != DTR_CONTROL_DISABLE);
    if (!(settings.c_cflag & CRTSCTS))
        SetModemLine(port->fd, TIOCM_RTS, dcb->fRtsControl != RTS_CONTROL_DISABLE);
    return 1;
}

int ReadDcb(CommPort *port, DCB *dcb)
{
    struct termios settings;
    if (tcgetattr(port->fd, &settings) != 0) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return 0;
    }
    /* termios has no place for these; they read back as they were set. */
    *dcb = port->dcb;
    dcb->DCBlength = sizeof(DCB);
    dcb->BaudRate = GetBaud(port->fd);
    dcb->fBinary = 1;
    dcb->fParity = (settings.c_iflag & INPCK) != 0;
    dcb->fOutxCtsFlow = (settings.c_cflag & CRTSCTS) != 0;
    dcb->fOutX = (settings.c_iflag & IXON) != 0;
    dcb->fInX = (settings.c_iflag & IXOFF) != 0;
    static const BYTE sizes[] = {5, 6, 7, 8};
    dcb->ByteSize = sizes[(settings.c_cflag & CSIZE) == CS5 ? 0 : (settings.c_cflag & CSIZE) == CS6 ? 1
                          : (settings.c_cflag & CSIZE) == CS7 ? 2 : 3];
    dcb->StopBits = (settings.c_cflag & CSTOPB) ? TWOSTOPBITS : ONESTOPBIT;
    if (!(settings.c_cflag & PARENB))
        dcb->Parity = NOPARITY;
    else if (settings.c_cflag & CMSPAR)
        dcb->Parity = (settings.c_cflag & PARODD) ? MARKPARITY : SPACEPARITY;
    else
        dcb->Parity = (settings.c_cflag & PARODD) ? ODDPARITY : EVENPARITY;
    dcb->XonChar = (char)settings.c_cc[VSTART];
    dcb->XoffChar = (char)settings.c_cc[VSTOP];
    return 1;
}

BOOL GetCommState(HANDLE handle, LPDCB dcb)
{
    return WithPort(handle, [&](CommPort *port) { return (BOOL)ReadDcb(port, dcb); });
}

BOOL SetCommState(HANDLE handle, LPDCB dcb)
{
    return WithPort(handle, [&](CommPort *port) {
        if (!ApplyDcb(port, dcb))
            return FALSE;
        port->dcb = *dcb; /* the event character among them */
        return TRUE;
    });
}
