/* Entering and leaving binary mode, the link's state while it has the line,
 * and line errors meanwhile. */
#include <stdlib.h>

#include "../errlog/errlog.h"
#include "../port/port.h"
#include "link.h"
#include "state.h"
#include "product.h"

enum { LinkBaud = 9600, ETX = 0x03 };

static void StopHalvex(PortSession *session);
static DWORD LinkReports(PortSession *session, int on);

static const ModeHooks LinkMode = {LinkReceive, HalvexErrorProc, AbortExchange, StopHalvex, LinkReports};

LinkState *LinkOf(const PortSession *session)
{
    ModeState *mode = session->mode;
    return mode && mode->hooks == &LinkMode ? static_cast<LinkState *>(mode) : NULL;
}

int LinkObjective(const PortSession *session)
{
    LinkState *link = LinkOf(session);
    return link ? link->objective : ObjectiveNone;
}

DWORD LinkReady(const PortSession *session)
{
    int objective = LinkObjective(session);
    if (objective < ObjectiveReady || (objective == ObjectiveReady && !ReceiverCaps(session)))
        return ERROR_NOT_READY;
    return objective == ObjectiveReady ? ERROR_SUCCESS : ERROR_BUSY;
}

/* The receiver's position reports, switched by command. The command goes
 * only to an idle receiver: sent during a transfer it would take the place
 * of the transfer's frame awaiting its ACK, and the reports then go on
 * arriving, and go nowhere. */
static DWORD LinkReports(PortSession *session, int on)
{
    if (!on) {
        if (LinkObjective(session) == ObjectiveReady)
            SendWord(session, PacketCommand, CommandStopPvt);
        return ERROR_SUCCESS;
    }
    DWORD why = LinkReady(session);
    if (why == ERROR_SUCCESS && !SendWord(session, PacketCommand, CommandStartPvt))
        why = ERROR_NOT_ENOUGH_MEMORY;
    return why;
}

int PrepareLinkPort(PortSession *session)
{
    /* A partial sentence of NMEA mode goes with its state. */
    LinkState *link = (LinkState *)calloc(1, sizeof *link);
    if (!link)
        return 0;
    link->hooks = &LinkMode; /* no objective until identification starts */
    EnterMode(session, link);
    /* ETX ends every frame, so each frame brings its own read. */
    DWORD before = 0;
    SetLineMode(session, LinkBaud, ETX, &before);
    link->savedBaud = before;
    PurgePort(session);
    return 1;
}

/* Leaves binary mode: restores the line, cuts off the objective under way,
 * and frees the link's state. */
static void StopHalvex(PortSession *session)
{
    LinkState *link = LinkOf(session);
    SettlePendingFrame(session);
    SetLineMode(session, link->savedBaud, '\n', NULL);
    PurgePort(session);
    ReleaseProductRecords(session);
    ReleaseObjectiveRecord(session); /* a transfer under way is cut off here */
    ErrorLog("StopHalvex()\n");
    free(link->parser.buffer);
    free(link);
}

void HalvexErrorProc(PortSession *session, DWORD errors)
{
    /* Only identification has a callback code for a line error. The other
     * operations' callbacks would take any call for their end (an upload's
     * status 1 is its abort), so there the error is only logged. */
    LinkState *link = LinkOf(session);
    if (link->objective == ObjectiveProduct) {
        HostProductInfo zero = {0, 0, NULL};
        if (link->identification && link->identification->callback)
            link->identification->callback(HalvexProductLineError, (int32_t)errors, &zero);
        return;
    }
    if (link->objective > ObjectiveProduct) {
        ErrorLog("Line error during transfer: %lx\n", (unsigned long)errors);
        return;
    }
    ErrorLog("HalvexErrorProc(): Unknown objective\n");
}
