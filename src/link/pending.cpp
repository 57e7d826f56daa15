/* The link protocol's entry points until the protocol is built: received
 * bytes are dropped and there is no binary mode to leave. */
#include "link.h"

void LinkReceive(PortSession *, const unsigned char *, int) {}
int HalvexErrorProc(PortSession *, DWORD) { return 0; }
void StopHalvex(PortSession *) {}
