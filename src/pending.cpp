/* Exports whose operations are not built yet: each refuses. */
#include "halvex32.h"

int32_t HALVEX_CALL StartNMEA(PortSession *, SAFEARRAY **, HalvexNmeaCallback *) { return 0; }
void HALVEX_CALL StopNMEA(PortSession *) {}
int16_t HALVEX_CALL SendNMEA(PortSession *, BSTR *) { return 0; }
int16_t HALVEX_CALL SendNMEAChk(PortSession *, SAFEARRAY **) { return 0; }
int32_t HALVEX_CALL HalvexUploadWayPtInit(PortSession *, SAFEARRAY **, HalvexUploadCallback *) { return 0; }
int32_t HALVEX_CALL HalvexDownloadWayPtInit(PortSession *, HalvexWaypointCallback *) { return 0; }
int32_t HALVEX_CALL HalvexUploadRouteInit(PortSession *, SAFEARRAY **, SAFEARRAY **, HalvexUploadCallback *)
{
    return 0;
}
int32_t HALVEX_CALL HalvexDownloadRouteInit(PortSession *, HalvexRouteCallback *) { return 0; }
int32_t HALVEX_CALL HalvexUploadTrackInit(PortSession *, SAFEARRAY **, HalvexUploadCallback *) { return 0; }
int32_t HALVEX_CALL HalvexDownloadTrackInit(PortSession *, HalvexTrackCallback *) { return 0; }
