/* Live position: a stream of fixes to the host, from the receiver's position
 * reports in binary mode (switched on and off by command) or from NMEA
 * sentences. The reports bypass the objectives, so a transfer may run
 * while they come. */
#include "../engine/dispatch.h"
#include "../engine/enginelock.h"
#include "../errlog/lasterror.h"
#include "../link/link.h"
#include "../nmea/nmea.h"
#include "../port/registry.h"
#include "transfer.h"

/* The command goes only to an idle receiver: sent during a transfer it
 * would take the place of the transfer's frame awaiting its ACK. */
static DWORD CommandReports(PortSession *session, uint16_t command)
{
    DWORD why = ReadyForTransfer(session);
    if (why == ERROR_SUCCESS && !SendWord(session, PacketCommand, command))
        why = ERROR_NOT_ENOUGH_MEMORY;
    return why;
}

int32_t HALVEX_CALL HalvexStartPosition(PortSession *session, HalvexPositionCallback *callback)
{
    if (!callback || !*callback)
        return ExportResult(0, ERROR_INVALID_PARAMETER);
    LockEngine();
    DWORD why = ERROR_INVALID_HANDLE;
    if (IsLiveSession(session)) {
        why = NmeaOf(session) ? ERROR_SUCCESS : CommandReports(session, CommandStartPvt);
        if (why == ERROR_SUCCESS) {
            ForgetFixEpoch(session);
            session->positionCallback = *callback;
        }
    }
    UnlockEngine();
    if (why == ERROR_SUCCESS)
        WakeDispatcher(); /* the command's ACK time-out */
    return ExportResult(why == ERROR_SUCCESS, why);
}

int32_t HALVEX_CALL HalvexStopPosition(PortSession *session)
{
    LockEngine();
    DWORD why = ERROR_INVALID_HANDLE;
    int commanded = 0;
    if (IsLiveSession(session)) {
        why = ERROR_SUCCESS; /* a stream that does not run is stopped already */
        /* An idle receiver is told to stop its reports; during a transfer
         * they go on arriving, and go nowhere. */
        commanded = session->positionCallback && LinkObjective(session) == ObjectiveReady &&
                    CommandReports(session, CommandStopPvt) == ERROR_SUCCESS;
        session->positionCallback = NULL;
        ForgetFixEpoch(session);
    }
    UnlockEngine();
    if (commanded)
        WakeDispatcher();
    return ExportResult(why == ERROR_SUCCESS, why);
}
