/* NMEA mode, as the port session sees it. */
#ifndef HALVEX_NMEA_H
#define HALVEX_NMEA_H

#include "../port/session.h"

/* Feeds bytes read in NMEA mode to the sentence assembler. C linkage, so
 * that a test of the port session can stand in for it (ld --wrap). */
extern "C" void NmeaReceive(PortSession *session, const unsigned char *bytes, int count);
/* Reports line errors to the host's NMEA callback. */
int NmeaLineError(PortSession *session, DWORD errors);

#endif
