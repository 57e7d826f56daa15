/* Writes to the port. Each keeps its own copy of the bytes and its own
 * OVERLAPPED until the port has finished with it, so that no later write,
 * and no frame released on its ACK, can pull bytes from under it. */
#include <stdlib.h>
#include <string.h>

#include "port.h"

/* A write in flight: its own bytes and OVERLAPPED until the port is done. */
struct PortWrite {
    OVERLAPPED overlapped;
    PortWrite *next;
    int length;
    unsigned char bytes[1];
};

int WritePort(PortSession *session, const unsigned char *bytes, int length)
{
    PortWrite *write = (PortWrite *)calloc(1, sizeof(PortWrite) + (size_t)length);
    if (!write) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY); /* so that the caller's log line says why */
        return 0;
    }
    memcpy(write->bytes, bytes, (size_t)length);
    write->length = length;
    write->overlapped.hEvent = session->sendCompletedEvent;
    if (!WriteFile(session->portHandle, write->bytes, (DWORD)length, NULL, &write->overlapped) &&
        GetLastError() != ERROR_IO_PENDING) {
        free(write);
        return 0;
    }
    CountLine(session, &HostLineCounts::bytesSent, length);
    /* Done at once or not, the completion event says when to free it. */
    write->next = session->writesInFlight;
    session->writesInFlight = write;
    return 1;
}

void ReapWrites(PortSession *session, int all)
{
    PortWrite **link = &session->writesInFlight;
    while (PortWrite *write = *link) {
        DWORD sent;
        if (!all && !GetOverlappedResult(session->portHandle, &write->overlapped, &sent, FALSE) &&
            GetLastError() == ERROR_IO_INCOMPLETE) {
            link = &write->next;
            continue;
        }
        *link = write->next;
        free(write);
    }
}

void AwaitWrites(PortSession *session)
{
    DWORD sent;
    for (PortWrite *write = session->writesInFlight; write; write = write->next)
        GetOverlappedResult(session->portHandle, &write->overlapped, &sent, TRUE);
}
