/* What a mode asks of the line as it takes it or gives it back, so that only
 * the port touches the device: the speed and event character it reads by,
 * and emptying the queues. */
#include "port.h"

void PurgePort(PortSession *session)
{
    PurgeComm(session->portHandle, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
}

void SetLineMode(PortSession *session, DWORD baud, char eventChar, DWORD *baudBefore)
{
    DCB dcb;
    dcb.DCBlength = sizeof dcb;
    GetCommState(session->portHandle, &dcb);
    if (baudBefore)
        *baudBefore = dcb.BaudRate;
    dcb.fOutX = 0;
    dcb.BaudRate = baud;
    dcb.EvtChar = eventChar;
    SetCommState(session->portHandle, &dcb);
}
