/* Entering and leaving binary mode, and line errors while it runs. */
#include <stdlib.h>

#include "../errlog/errlog.h"
#include "link.h"
#include "product.h"

enum { LinkBaud = 9600, ETX = 0x03 };

static void PurgePort(PortSession *session)
{
    PurgeComm(session->portHandle, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
}

static const ModeHooks LinkMode = {LinkReceive, HalvexErrorProc, AbortExchange, StopHalvex};

int PrepareLinkPort(PortSession *session)
{
    session->mode = &LinkMode;
    free(session->frameBuffer); /* a partial frame or sentence is discarded */
    session->frameBuffer = NULL;
    session->parseState = 0;
    session->parseCount = 0;
    DCB dcb;
    dcb.DCBlength = sizeof dcb;
    GetCommState(session->portHandle, &dcb);
    session->savedBaud = dcb.BaudRate;
    /* ETX ends every frame, so each frame brings its own read. */
    dcb.BaudRate = LinkBaud;
    dcb.EvtChar = ETX;
    SetCommState(session->portHandle, &dcb);
    PurgePort(session);
    return 1;
}

void StopHalvex(PortSession *session)
{
    SettlePendingFrame(session);
    DCB dcb;
    dcb.DCBlength = sizeof dcb;
    GetCommState(session->portHandle, &dcb);
    dcb.fOutX = 0;
    dcb.BaudRate = session->savedBaud;
    dcb.EvtChar = '\n';
    SetCommState(session->portHandle, &dcb);
    PurgePort(session);
    ReleaseProductRecords(session);
    ReleaseObjectiveRecord(session); /* a transfer under way is cut off here */
    session->mode = NULL;
    ErrorLog("StopHalvex()\n");
}

void HalvexErrorProc(PortSession *session, DWORD errors)
{
    /* Only identification has a callback code for a line error. The other
     * operations' callbacks would take any call for their end (an upload's
     * status 1 is its abort), so there the error is only logged. */
    if (session->objective == ObjectiveProduct) {
        HalvexProductCallback callback = (HalvexProductCallback)session->hostCallback;
        HostProductInfo zero = {0, 0, NULL};
        if (callback)
            callback(HalvexProductLineError, (int32_t)errors, &zero);
        return;
    }
    if (session->objective > ObjectiveProduct && session->objective <= ObjectiveTrackDownload) {
        ErrorLog("Line error during transfer: %lx\n", (unsigned long)errors);
        return;
    }
    ErrorLog("HalvexErrorProc(): Unknown objective\n");
}
