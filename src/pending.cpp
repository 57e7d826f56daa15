/* Exports whose operations are not built yet: each refuses. */
#include "halvex32.h"

int32_t HALVEX_CALL StartNMEA(PortSession *, SAFEARRAY **, HalvexNmeaCallback *) { return 0; }
void HALVEX_CALL StopNMEA(PortSession *) {}
int16_t HALVEX_CALL SendNMEA(PortSession *, BSTR *) { return 0; }
int16_t HALVEX_CALL SendNMEAChk(PortSession *, SAFEARRAY **) { return 0; }

