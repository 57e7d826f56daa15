/* Position, velocity and time packets, which the receiver sends unasked. */
#ifndef HALVEX_PVT_H
#define HALVEX_PVT_H

#include "../port/session.h"

void PvtHandler(PortSession *session, int code, const unsigned char *data, int length);
/* The report as a host's fix; 0 when the packet is too short to be one. */
int PvtFix(const unsigned char *data, int length, HostPosition *fix);
/* Seconds since 1970 UTC, or -1 when the time lies outside 0 to 2^32 - 1. */
int64_t PvtTime(double seconds, int32_t leapSeconds, int32_t days);
double GroundSpeed(float east, float north);
double GroundCourse(float east, float north);

#endif
