/* Route upload and download: route headers in D200, D201 or D202, each
 * followed by its waypoints, with a D210 link between each two where the
 * receiver links them. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "../errlog/errlog.h"
#include "../errlog/lasterror.h"
#include "../link/link.h"
#include "../link/product.h"
#include "../port/registry.h"
#include "marshal.h"
#include "transfer.h"
#include "waypointtypes.h"

enum { D201CommentWidth = 20, D202IdentLimit = 254, D210Size = 21, LinkDirect = 3 };

static int RouteHeaderType(const ProtocolCaps *caps) { return caps ? caps->protocolSlots[SlotRouteHeaderType] : -1; }

static int RouteLinkType(const PortSession *session)
{
    const ProtocolCaps *caps = ReceiverCaps(session);
    return caps ? caps->routeLinkType : -1;
}

/* The packets that follow a route's header on the wire. */
static int PacketsAfterHeader(const PortSession *session, const RouteRecord *route)
{
    int count = route->waypointCount;
    return RouteLinkType(session) != -1 && count > 1 ? 2 * count - 1 : count;
}

/* A direct link with no ident; 0 when the link type is unknown (nothing sent). */
static int EncodeRouteLink(PortSession *session)
{
    if (RouteLinkType(session) != 210)
        return 0;
    unsigned char data[D210Size];
    WriteField<uint16_t>(data, LinkDirect);
    memset(data + 2, 0, 6); /* subclass, as for a link between user waypoints */
    memset(data + 8, 0xFF, 12);
    data[20] = 0; /* ident: none */
    return SendPacket(session, PacketRouteLink, data, D210Size);
}

/* Sends the route's header; 0 when the type is unknown (nothing sent). */
int EncodeRouteHeader(PortSession *session, const RouteRecord *route)
{
    unsigned char data[D202IdentLimit + 1];
    int length;
    switch (RouteHeaderType(ReceiverCaps(session))) {
    case 200:
        data[0] = (unsigned char)route->number;
        length = 1;
        break;
    case 201:
        data[0] = (unsigned char)route->number;
        PadDeviceText((char *)data + 1, route->comment, D201CommentWidth);
        length = 1 + D201CommentWidth;
        break;
    case 202: {
        char text[RouteIdentSize];
        if (route->ident[0])
            CopyText(text, D202IdentLimit + 1, route->ident);
        else
            snprintf(text, sizeof text, "Route %d", route->number);
        length = (int)strlen(text) + 1;
        memcpy(data, text, (size_t)length);
        break;
    }
    default:
        SetHalvexError(ERROR_NOT_SUPPORTED);
        return 0;
    }
    return SendPacket(session, PacketRouteHeader, data, length);
}

void DecodeRouteHeader(const ProtocolCaps *caps, const unsigned char *data, int length, RouteRecord *route)
{
    memset(route, 0, sizeof *route);
    switch (RouteHeaderType(caps)) {
    case 200:
    case 201:
        if (length >= 1)
            route->number = data[0];
        if (RouteHeaderType(caps) == 201 && length > 1) {
            int n = length - 1 < D201CommentWidth ? length - 1 : D201CommentWidth;
            memcpy(route->comment, data + 1, (size_t)n);
        }
        break;
    case 202:
        ReadWireString(route->ident, sizeof route->ident, data, length, 0);
        break;
    default:
        break;
    }
}

/* The host's routes and their waypoints; null when the arrays cannot be read
 * safely, a route names waypoints outside its array, or memory ran out. */
static RouteList *ReadHostRoutes(const TransferRequest *request)
{
    const HostWaypointForm *form = RequestForm(request);
    void *routeData, *waypointData;
    uint32_t routeCount, waypointCount;
    if (!HostArrayElements(request->records, sizeof(HostRoute), &routeData, &routeCount) ||
        !HostArrayElements(request->waypoints, form->elementSize, &waypointData, &waypointCount))
        return NULL;
    const HostRoute *routes = (const HostRoute *)routeData;
    const unsigned char *waypoints = (const unsigned char *)waypointData;
    uint32_t records = routeCount;
    for (uint32_t i = 0; i < routeCount; i++) {
        uint16_t count = (uint16_t)routes[i].waypointCount;
        /* A route without waypoints reads none, wherever it says they start. */
        if (count && (routes[i].firstWaypoint < 0 || (uint64_t)routes[i].firstWaypoint + count > waypointCount))
            return NULL;
        records += count;
    }
    if (records > 0xFFFF)
        return NULL; /* more than packet 27 can announce */

    RouteList *list = NewList(&RouteList::routes, &RouteList::routeCount, routeCount);
    if (!list)
        return NULL;
    for (uint32_t i = 0; i < routeCount; i++) {
        RouteRecord *route = &list->routes[i];
        uint16_t count = (uint16_t)routes[i].waypointCount;
        route->waypoints = (WaypointRecord *)calloc(count ? count : 1, sizeof *route->waypoints);
        if (!route->waypoints) {
            FreeRouteList(list);
            return NULL;
        }
        route->number = (uint16_t)routes[i].number;
        TextFieldFromBstr(route->comment, sizeof route->comment, routes[i].comment);
        TextFieldFromBstr(route->ident, sizeof route->ident, routes[i].ident);
        route->waypointCount = count;
        if (count) /* else firstWaypoint may point anywhere */
            form->read(route->waypoints, waypoints + (size_t)routes[i].firstWaypoint * form->elementSize, count);
        list->totalWaypoints += count;
    }
    return list;
}

/* Headers, waypoints and links: what the records packet announces. */
static uint32_t RecordsOnWire(const PortSession *session, const RouteList *list)
{
    uint32_t records = 0;
    for (int r = 0; r < list->routeCount; r++)
        records += 1 + (uint32_t)PacketsAfterHeader(session, &list->routes[r]);
    return records;
}

static const char RouteUploadFailed[] = "Route upload request failed\n";

static void FinishUpload(PortSession *session, TransferState *work, int32_t status)
{
    EndUpload(session, work, status, RouteUploadFailed);
}

/* step 1: between routes; step 2 + k: the current route's header and k of
 * the packets after it (waypoints, and links between them) are out. The next packet goes on the ACK of the last one.
 * A route without waypoints is passed on its header's ACK, so the count
 * that packet 27 announced holds. */
static void SendNextRoutePacket(PortSession *session, TransferState *work)
{
    RouteList *list = work->records.routes;
    if (work->step >= 2) {
        RouteRecord *route = &list->routes[work->currentRoute];
        int k = work->step - 2;
        if (k < PacketsAfterHeader(session, route)) {
            int linked = RouteLinkType(session) != -1;
            int sent = linked && k % 2 ? EncodeRouteLink(session)
                                       : EncodeWaypoint(session, &route->waypoints[linked ? k / 2 : k], PacketRouteWaypoint);
            if (sent)
                work->step++;
            else
                FinishUpload(session, work, HalvexUploadAborted); /* a type we cannot send would stall */
            return;
        }
        work->currentRoute++;
        work->step = 1;
    }
    if (work->currentRoute < list->routeCount) {
        if (EncodeRouteHeader(session, &list->routes[work->currentRoute]))
            work->step = 2;
        else
            FinishUpload(session, work, HalvexUploadAborted); /* likewise a header type we cannot send */
    } else if (work->currentRoute == list->routeCount) {
        if (SendWord(session, PacketXferComplete, CommandTransferRoutes))
            work->currentRoute++;
        else
            FinishUpload(session, work, HalvexUploadAborted);
    } else {
        FinishUpload(session, work, HalvexTransferDone); /* that was the ACK of the transfer complete */
    }
}

static void RouteUploadStep(PortSession *session, TransferState *work, int code, const unsigned char *data, int length)
{
    (void)data;
    (void)length;
    UploadStep(session, work, code, SendNextRoutePacket, RouteUploadFailed);
}

static void CallDownloadCallback(TransferState *work, int32_t status, int32_t value, SAFEARRAY **routes,
                                 SAFEARRAY **waypoints)
{
    /* The two callbacks have the same shape; the arrays' records differ. */
    HalvexRouteCallback callback =
        work->kind->extended ? (HalvexRouteCallback)work->callback.routesEx : work->callback.routes;
    if (callback)
        callback(status, value, routes, waypoints);
}

static void FailDownload(PortSession *session, TransferState *work)
{
    SAFEARRAY *routes = NULL, *waypoints = NULL;
    uint32_t operation = CurrentOperation(session);
    CallDownloadCallback(work, HalvexRouteFailed, 0, &routes, &waypoints);
    EndTransfer(session, operation);
    ErrorLog("Route download request failed\n");
}

static int AddRoute(PortSession *session, RouteList *list, const unsigned char *data, int length)
{
    RouteRecord *route = AppendRecord(&list->routes, &list->routeCount);
    if (!route)
        return 0;
    DecodeRouteHeader(ReceiverCaps(session), data, length, route);
    route->repeated = PacketRepeated(session);
    ErrorLog("number=%d cmnt=%s ident=%s\n", route->number, route->comment, route->ident);
    return 1;
}

static int AddRouteWaypoint(PortSession *session, RouteList *list, const unsigned char *data, int length)
{
    if (list->routeCount == 0)
        return 1; /* no header to belong to */
    RouteRecord *route = &list->routes[list->routeCount - 1];
    WaypointRecord *record = AppendRecord(&route->waypoints, &route->waypointCount);
    if (!record)
        return 0;
    DecodeWaypoint(ReceiverCaps(session), data, length, record);
    record->repeated = PacketRepeated(session);
    list->totalWaypoints++;
    LogWaypoint(record);
    return 1;
}

/* Drops the repeats, headers and waypoints alike in the order they came,
 * that the announced count does not account for; 0 when records are
 * missing. A header sent again came
 * right after the one it repeats, before any of that route's waypoints, so
 * the waypoints that follow it belong to the route it repeats. */
static int SettleRouteRepeats(PortSession *, TransferState *work)
{
    RouteList *list = work->records.routes;
    int repeats = 0;
    for (int r = 0; r < list->routeCount; r++) {
        repeats += list->routes[r].repeated != 0;
        for (int k = 0; k < list->routes[r].waypointCount; k++)
            repeats += list->routes[r].waypoints[k].repeated != 0;
    }
    int keep = RepeatsToKeep(work, list->routeCount + list->totalWaypoints + work->links, repeats);
    int routes = 0;
    list->totalWaypoints = 0;
    for (int r = 0; r < list->routeCount; r++) {
        RouteRecord route = list->routes[r];
        int dropHeader = route.repeated && keep-- <= 0;
        route.repeated = 0;
        int kept = 0;
        for (int k = 0; k < route.waypointCount; k++) {
            if (route.waypoints[k].repeated && keep-- <= 0)
                continue;
            route.waypoints[kept] = route.waypoints[k];
            route.waypoints[kept++].repeated = 0;
        }
        route.waypointCount = kept;
        RouteRecord *previous = routes > 0 ? &list->routes[routes - 1] : NULL;
        if (dropHeader && previous && previous->waypointCount == 0) {
            free(previous->waypoints);
            previous->waypoints = route.waypoints;
            previous->waypointCount = route.waypointCount;
        } else {
            list->routes[routes++] = route;
        }
        list->totalWaypoints += kept;
    }
    list->routeCount = routes;
    return !RecordsMissing(work, list->routeCount + list->totalWaypoints + work->links);
}

static int TakeRoutePacket(PortSession *session, TransferState *work, int packetId, const unsigned char *data,
                           int length)
{
    RouteList *list = work->records.routes;
    switch (packetId) {
    case PacketRouteHeader:
        return AddRoute(session, list, data, length);
    case PacketRouteWaypoint:
        return AddRouteWaypoint(session, list, data, length);
    case PacketRouteLink:
        /* Links between route waypoints count as records; one sent again
         * (a waypoint always comes between two real ones) does not. */
        work->links += !PacketRepeated(session);
        return 1;
    default:
        return 1;
    }
}

static int FinishRoutes(PortSession *session, TransferState *work)
{
    SAFEARRAY *routes = NULL, *waypoints = NULL;
    const HostWaypointForm *form = WaypointFormOf(work);
    const ProtocolCaps *caps = ReceiverCaps(session);
    BuildRouteArrays(&routes, &waypoints, work->records.routes, form, WaypointHolds(WaypointDataType(caps)));
    /* A D202 header holds no number: the extended records say so. */
    if (routes && work->kind->extended && RouteHeaderType(caps) == 202)
        for (ULONG i = 0; i < routes->rgsabound[0].cElements; i++)
            ((HostRoute *)routes->pvData)[i].number = -1;
    CallDownloadCallback(work, HalvexTransferDone, HalvexDownloadEnd, &routes, &waypoints);
    FreeRouteArray(&routes);
    FreeWaypointArray(&waypoints, form);
    return 1;
}

static const DownloadKind RouteDownload = {TakeRoutePacket, SettleRouteRepeats, FinishRoutes, FailDownload};

void RouteDownloadStep(PortSession *session, TransferState *work, int code, const unsigned char *data, int length)
{
    DownloadStep(session, work, code, data, length, &RouteDownload);
}

static int PrepareUpload(PortSession *session, const TransferRequest *request, TransferRecords *records,
                         uint16_t *word)
{
    RouteList *list = ReadHostRoutes(request);
    uint32_t count = list ? RecordsOnWire(session, list) : 0;
    if (count > 0xFFFF) { /* more than packet 27 can announce */
        FreeRouteList(list);
        return 0;
    }
    *word = (uint16_t)count;
    records->routes = list;
    return list != NULL;
}

static int PrepareDownload(PortSession *, const TransferRequest *, TransferRecords *records, uint16_t *word)
{
    *word = CommandTransferRoutes;
    records->routes = (RouteList *)calloc(1, sizeof(RouteList));
    return records->routes != NULL;
}

static void FreeRoutes(TransferRecords *records) { FreeRouteList(records->routes); }

static const TransferKind RouteUploads = {ObjectiveRouteUpload, {RouteUploadStep, ReleaseTransfer}, PacketRecords,
                                         PrepareUpload, FreeRoutes, 0};
static const TransferKind RouteDownloads = {ObjectiveRouteDownload, {RouteDownloadStep, ReleaseTransfer},
                                           PacketCommand, PrepareDownload, FreeRoutes, 0};
static const TransferKind RouteExUploads = {ObjectiveRouteUpload, {RouteUploadStep, ReleaseTransfer}, PacketRecords,
                                           PrepareUpload, FreeRoutes, 1};
static const TransferKind RouteExDownloads = {ObjectiveRouteDownload, {RouteDownloadStep, ReleaseTransfer},
                                             PacketCommand, PrepareDownload, FreeRoutes, 1};

int32_t HALVEX_CALL HalvexUploadRouteInit(PortSession *session, SAFEARRAY **routes, SAFEARRAY **waypoints,
                                          HalvexUploadCallback *callback)
{
    TransferRequest request = {routes, waypoints, 0};
    return TransferExport(session, &RouteUploads, CallbackOf(callback, &TransferCallback::upload), &request);
}

int32_t HALVEX_CALL HalvexDownloadRouteInit(PortSession *session, HalvexRouteCallback *callback)
{
    return TransferExport(session, &RouteDownloads, CallbackOf(callback, &TransferCallback::routes), NULL);
}

int32_t HALVEX_CALL HalvexUploadRouteExInit(PortSession *session, SAFEARRAY **routes, SAFEARRAY **waypoints,
                                            HalvexUploadCallback *callback)
{
    TransferRequest request = {routes, waypoints, 1};
    return TransferExport(session, &RouteExUploads, CallbackOf(callback, &TransferCallback::upload), &request);
}

int32_t HALVEX_CALL HalvexDownloadRouteExInit(PortSession *session, HalvexRouteExCallback *callback)
{
    return TransferExport(session, &RouteExDownloads, CallbackOf(callback, &TransferCallback::routesEx), NULL);
}
