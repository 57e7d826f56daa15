/* The binary link protocol, as the port session sees it. */
#ifndef HALVEX_LINK_H
#define HALVEX_LINK_H

#include "../port/session.h"

/* Feeds bytes read in a binary objective to the frame decoder. C linkage, so
 * that a test of the port session can stand in for it (ld --wrap). */
extern "C" void LinkReceive(PortSession *session, const unsigned char *bytes, int count);
/* Reports line errors to the running operation's host callback. */
int HalvexErrorProc(PortSession *session, DWORD errors);
/* Leaves binary mode: restores the line, releases the product records. */
void StopHalvex(PortSession *session);

#endif
