/* What the library asks of a Win32 serial layer, tried on a port whose far
 * end echoes each piece it hears after 100 ms (tests/wine/echo_peer.py): the
 * event character and EV_RXFLAG, modem status and a wait that names the
 * modem lines, the two read time-out settings the library uses, and a wait
 * ended by CancelIoEx. One line per check; the exit status is the number of
 * checks that failed. Under a Wine without the serial patch it must fail.
 *
 *   serial_probe COMn
 */
#include <stdio.h>
#include <string.h>
#include <windows.h>

static int failures;

static void Check(int ok, const char *what, DWORD detail)
{
    printf("%s %s", ok ? "ok" : "FAIL", what);
    if (!ok)
        printf(" (%lu)", (unsigned long)detail);
    putchar('\n');
    fflush(stdout);
    failures += !ok;
}

static HANDLE Event(void) { return CreateEventA(NULL, TRUE, FALSE, NULL); }

/* An overlapped read with the given time-outs; the bytes read, or -1. Sets
 * *ms to how long it took. */
static long TimedRead(HANDLE port, DWORD interval, DWORD multiplier, DWORD constant, char *buffer, DWORD size,
                      DWORD *ms)
{
    COMMTIMEOUTS timeouts = {interval, multiplier, constant, 0, 0};
    OVERLAPPED overlapped = {0};
    DWORD got = 0, start = GetTickCount();
    long result = -1;

    SetCommTimeouts(port, &timeouts);
    overlapped.hEvent = Event();
    if (ReadFile(port, buffer, size, &got, &overlapped))
        result = (long)got;
    else if (GetLastError() == ERROR_IO_PENDING) {
        if (WaitForSingleObject(overlapped.hEvent, 3000) == WAIT_OBJECT_0) {
            if (GetOverlappedResult(port, &overlapped, &got, FALSE))
                result = (long)got;
        } else {
            CancelIoEx(port, &overlapped);
            WaitForSingleObject(overlapped.hEvent, 1000);
        }
    }
    *ms = GetTickCount() - start;
    CloseHandle(overlapped.hEvent);
    return result;
}

static BOOL Send(HANDLE port, const char *text)
{
    OVERLAPPED overlapped = {0};
    DWORD sent = 0;
    BOOL ok;

    overlapped.hEvent = Event();
    ok = WriteFile(port, text, (DWORD)strlen(text), &sent, &overlapped) ||
         (GetLastError() == ERROR_IO_PENDING && GetOverlappedResult(port, &overlapped, &sent, TRUE));
    CloseHandle(overlapped.hEvent);
    return ok && sent == strlen(text);
}

int main(int argc, char **argv)
{
    char name[64], buffer[64];
    DCB dcb;
    DWORD mask = 0, status = 0, ms = 0, errors = 0, got = 0;
    COMSTAT queue;
    OVERLAPPED wait = {0};
    HANDLE port;
    long read;

    if (argc != 2) {
        fprintf(stderr, "usage: serial_probe COMn\n");
        return 100;
    }
    snprintf(name, sizeof name, "\\\\.\\%s", argv[1]);
    port = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, NULL);
    if (port == INVALID_HANDLE_VALUE) {
        printf("FAIL open %s (%lu)\n", argv[1], (unsigned long)GetLastError());
        return 100;
    }
    wait.hEvent = Event();

    /* The event character is kept. */
    memset(&dcb, 0, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    GetCommState(port, &dcb);
    dcb.BaudRate = 9600;
    dcb.ByteSize = 8;
    dcb.EvtChar = '\n';
    Check(SetCommState(port, &dcb), "SetCommState", GetLastError());
    memset(&dcb, 0, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    Check(GetCommState(port, &dcb) && dcb.EvtChar == '\n', "GetCommState gives the event character back",
          dcb.EvtChar);

    /* Modem status on a line without modem lines. */
    Check(GetCommModemStatus(port, &status), "GetCommModemStatus", GetLastError());

    /* A wait that names the modem lines as well ends with EV_RXFLAG once the
     * event character arrives, and the read then gives the bytes before it. */
    PurgeComm(port, PURGE_RXCLEAR | PURGE_TXCLEAR);
    SetCommMask(port, EV_RXFLAG | EV_CTS | EV_DSR | EV_ERR | EV_RING);
    if (!WaitCommEvent(port, &mask, &wait) && GetLastError() != ERROR_IO_PENDING) {
        Check(0, "WaitCommEvent for EV_RXFLAG and the modem lines", GetLastError());
    } else {
        Send(port, "fix\n");
        DWORD waited = WaitForSingleObject(wait.hEvent, 2000);
        Check(waited == WAIT_OBJECT_0 && GetOverlappedResult(port, &wait, &got, FALSE) && (mask & EV_RXFLAG),
              "EV_RXFLAG when the event character arrives", waited == WAIT_OBJECT_0 ? mask : waited);
        if (waited != WAIT_OBJECT_0) {
            CancelIoEx(port, &wait);
            WaitForSingleObject(wait.hEvent, 1000);
        }
        Check(ClearCommError(port, &errors, &queue) && queue.cbInQue == 4, "ClearCommError counts the bytes queued",
              queue.cbInQue);
        read = TimedRead(port, MAXDWORD, MAXDWORD, 1000, buffer, sizeof buffer, &ms);
        Check(read == 4 && memcmp(buffer, "fix\n", 4) == 0, "the read gives the bytes queued", (DWORD)read);
    }

    /* MAXDWORD, 0, 0: at once, even with nothing. */
    read = TimedRead(port, MAXDWORD, 0, 0, buffer, sizeof buffer, &ms);
    Check(read == 0 && ms < 200, "a read of nothing returns at once", ms);

    /* MAXDWORD, MAXDWORD, 500: nothing after 500 ms ... */
    read = TimedRead(port, MAXDWORD, MAXDWORD, 500, buffer, sizeof buffer, &ms);
    Check(read == 0 && ms >= 400 && ms < 1500, "a read of nothing ends after the constant", ms);
    /* ... or the first bytes to arrive, at once. */
    Send(port, "first");
    read = TimedRead(port, MAXDWORD, MAXDWORD, 2000, buffer, sizeof buffer, &ms);
    Check(read > 0 && ms < 1000, "a read returns with the first bytes to arrive", ms);
    Sleep(300);
    TimedRead(port, MAXDWORD, 0, 0, buffer, sizeof buffer, &ms);

    /* CancelIoEx ends a pending wait. */
    SetCommMask(port, EV_RXFLAG | EV_CTS | EV_DSR | EV_ERR | EV_RING);
    if (!WaitCommEvent(port, &mask, &wait) && GetLastError() == ERROR_IO_PENDING) {
        DWORD start = GetTickCount();
        CancelIoEx(port, NULL);
        DWORD waited = WaitForSingleObject(wait.hEvent, 2000);
        Check(waited == WAIT_OBJECT_0 && !GetOverlappedResult(port, &wait, &got, FALSE) &&
                  GetLastError() == ERROR_OPERATION_ABORTED,
              "CancelIoEx ends a pending wait", GetTickCount() - start);
    } else {
        Check(0, "a wait to cancel", GetLastError());
    }

    CloseHandle(port);
    printf("%d of the checks failed\n", failures);
    return failures;
}
