#include "position.h"

#include <math.h>
#include <string.h>

#include "../host/calendar.h"
#include "portcall.h"

int PositionStreamRuns(const PortSession *session) { return session->positionCallback != NULL; }

void ClearPosition(HostPosition *position)
{
    memset(position, 0, sizeof *position);
    double *fields[] = {&position->time,  &position->latitude, &position->longitude,
                        &position->altitude, &position->speed, &position->course,
                        &position->climb, &position->eph,      &position->epv};
    for (double *field : fields)
        *field = NAN;
}

void DeliverPosition(PortSession *session, HostPosition *position)
{
    /* Binary reports and NMEA epochs alike: the time a receiver whose week
     * count rolled over gives is moved to the true date, and the record
     * says by how much. */
    position->weeksAdded = 0;
    if (position->given & HalvexGaveTime) {
        position->weeksAdded = RolloverWeeksBehind(position->time, RolloverReference(HostUtcDate()));
        position->time += (double)position->weeksAdded * DaysPerWeek;
    }
    if (session->positionCallback)
        session->positionCallback(HalvexPositionFix, position);
}

/* A mode without the hook, or no mode at all, has no reports to give. */
static DWORD SwitchReports(PortSession *session, int on)
{
    const ModeHooks *hooks = session->mode ? session->mode->hooks : NULL;
    return hooks && hooks->reports ? hooks->reports(session, on) : ERROR_NOT_READY;
}

int32_t HALVEX_CALL HalvexStartPosition(PortSession *session, HalvexPositionCallback *callback)
{
    PortCall call(session);
    if (!callback || !*callback)
        call.why = ERROR_INVALID_PARAMETER; /* whatever the handle */
    else if (call.Ok())
        call.why = SwitchReports(session, 1);
    if (!call.Ok())
        return 0;
    session->positionCallback = *callback;
    call.wake = true; /* the command's ACK time-out */
    return 1;
}

int32_t HALVEX_CALL HalvexStopPosition(PortSession *session)
{
    PortCall call(session);
    /* A stream that does not run is stopped already. */
    if (!call.Ok() || !session->positionCallback)
        return call.Ok();
    session->positionCallback = NULL;
    SwitchReports(session, 0);
    call.wake = true;
    return 1;
}
