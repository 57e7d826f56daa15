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

static const ModeHooks LinkMode = {LinkReceive, HalvexErrorProc, AbortExchange, StopHalvex};

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
