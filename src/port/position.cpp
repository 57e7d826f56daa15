#include "position.h"

#include <math.h>
#include <string.h>

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
    if (session->positionCallback)
        session->positionCallback(HalvexPositionFix, position);
}
