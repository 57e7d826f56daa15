#include "position.h"

#include <math.h>
#include <string.h>

#include "../host/calendar.h"

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
