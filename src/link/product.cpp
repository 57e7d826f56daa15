#include "product.h"

#include <stdlib.h>
#include <string.h>

#include "../engine/timerqueue.h"
#include "../errlog/errlog.h"
#include "../errlog/lasterror.h"
#include "../port/port.h"
#include "../port/portcall.h"
#include "../port/registry.h"
#include "../host/strings.h"
#include "fields.h"
#include "link.h"
#include "state.h"

static void SynthesizeProtocolArray(PortSession *session, const ProtocolCaps *row);

static void ProductTimeout(void *session);

enum { ModeTimeoutMs = 3000, SynthesizedEntries = 21 };

static void ReportProductFailure(PortSession *session);

/* The wait for the receiver's data; without its time-out it could last
 * without end, so identification fails at once instead. */
static void ArmProductTimer(PortSession *session)
{
    if (!ArmTimer(&LinkOf(session)->identification->timer, session, ModeTimeoutMs, ProductTimeout)) {
        SetHalvexError(ERROR_NOT_ENOUGH_MEMORY);
        ReportProductFailure(session);
        return;
    }
    ErrorLog("Product timer started\n");
}

const ProductRecords *ReceiverProduct(const PortSession *session)
{
    LinkState *link = LinkOf(session);
    return link ? &link->product : NULL;
}

const ProtocolCaps *ReceiverCaps(const PortSession *session)
{
    const ProductRecords *product = ReceiverProduct(session);
    return product ? product->caps : NULL;
}

void ReleaseProductRecords(PortSession *session)
{
    ProductRecords *product = &LinkOf(session)->product;
    free(product->caps);
    free(product->productData);
    free(product->protocolArray);
    memset(product, 0, sizeof *product);
}

/* The protocol array as the receiver sent it, or as its table row gives it,
 * for hosts that show it; 0 when no memory was left. */
static int KeepProtocolArray(ProductRecords *product, const unsigned char *data, int length)
{
    free(product->protocolArray);
    product->protocolArray = (unsigned char *)malloc(length > 0 ? (size_t)length : 1);
    product->protocolArrayLength = product->protocolArray ? length : 0;
    if (product->protocolArray && length > 0)
        memcpy(product->protocolArray, data, (size_t)length);
    return product->protocolArray != NULL;
}

void ReleaseIdentification(LinkState *link)
{
    IdentificationRecord *identification = link->identification;
    if (!identification)
        return;
    link->identification = NULL;
    DisarmTimer(&identification->timer);
    free(identification);
}

/* The one failure report of an identification: it ends there, so neither a
 * timer still armed nor product data that comes late reports again, and the
 * link is left ready but with no receiver known, which the transfers read as
 * "not identified". */
static void ReportProductFailure(PortSession *session)
{
    HalvexProductCallback callback = LinkOf(session)->identification->callback;
    ReleaseProductRecords(session);
    ReturnToReady(session); /* identification's record goes with the objective */
    PurgePort(session);
    HostProductInfo nothing = {0, 0, NULL};
    if (callback)
        callback(HalvexProductFailed, 0, &nothing);
    ErrorLog("Product data request failed\n");
}

static void KeepProductData(ProductRecords *product, const unsigned char *data, int length)
{
    free(product->productData);
    /* Room for the id and version however short the packet, and a NUL after
     * it, so the description never runs past the data. */
    size_t size = (size_t)(length > 4 ? length : 4) + 1;
    product->productData = (unsigned char *)calloc(1, size);
    if (product->productData)
        memcpy(product->productData, data, (size_t)length);
}

static void CompleteIdentification(PortSession *session, const unsigned char *data, int length)
{
    LinkState *link = LinkOf(session);
    ProductRecords *product = &link->product;
    DisarmTimer(&link->identification->timer);
    ProtocolCaps *caps = product->productData ? ParseProtocolArray(data, length) : NULL;
    if (caps && !KeepProtocolArray(product, data, length)) {
        free(caps);
        caps = NULL;
    }
    if (!caps) {
        /* A protocol array before any product data has nobody to describe. */
        SetHalvexError(product->productData ? ERROR_NOT_ENOUGH_MEMORY : ERROR_INVALID_DATA);
        ReportProductFailure(session);
        return;
    }
    free(product->caps);
    product->caps = caps;
    HostProductInfo info = {ReadField<int16_t>(product->productData, 4, 0),
                            ReadField<int16_t>(product->productData, 4, 2), NULL};
    BstrFromText(&info.description, (const char *)product->productData + 4);
    uint32_t operation = CurrentOperation(session);
    HalvexProductCallback callback = link->identification->callback;
    if (callback)
        callback(HalvexProductIdentified, 0, &info);
    SysFreeString(info.description);
    if (!OperationContinues(session, operation))
        return;
    ReturnToReady(session);
    ErrorLog("Protocol array received\n");
}

void ProductHandler(PortSession *session, int code, const unsigned char *data, int length)
{
    LinkState *link = LinkOf(session);
    ProductRecords *product = &link->product;
    if (!link->identification)
        return; /* ended already: what comes late is ignored */
    switch (code) {
    case DispatchAcked:
        ArmProductTimer(session);
        break;
    case DispatchAborted:
        ReportProductFailure(session);
        break;
    case PacketProductData + DispatchPacket: {
        DisarmTimer(&link->identification->timer);
        KeepProductData(product, data, length);
        if (!product->productData) {
            SetHalvexError(ERROR_NOT_ENOUGH_MEMORY);
            ReportProductFailure(session);
            break;
        }
        ErrorLog("Product data received\n");
        const ProtocolCaps *row = FindProductCaps(ReadField<uint16_t>(product->productData, 4, 0),
                                                  ReadField<uint16_t>(product->productData, 4, 2));
        if (row)
            SynthesizeProtocolArray(session, row);
        else
            ArmProductTimer(session); /* the receiver's own protocol array must say */
        break;
    }
    case PacketProtocolArray + DispatchPacket:
        CompleteIdentification(session, data, length);
        break;
    default:
        break;
    }
}

/* Identification as the link's objective: it keeps no transfer record. */
static void IdentificationStep(PortSession *session, TransferState *, int code, const unsigned char *data, int length)
{
    ProductHandler(session, code, data, length);
}

static void ProductTimeout(void *context)
{
    PortSession *session = (PortSession *)context;
    LinkOf(session)->identification->timer = NULL;
    SetHalvexError(ERROR_TIMEOUT);
    ProductHandler(session, DispatchAborted, NULL, 0);
}

const ProtocolCaps *FindProductCaps(uint16_t productId, uint16_t softwareVersion)
{
    for (const ProtocolCaps &row : ProductCapsTable)
        if (row.productId == productId && row.versionFloor <= softwareVersion && softwareVersion < row.versionLimit)
            return &row;
    return NULL;
}

static int PutEntry(unsigned char *array, int entries, char tag, int number)
{
    array[3 * entries] = (unsigned char)tag;
    WriteField<uint16_t>(array + 3 * entries + 1, (uint16_t)number);
    return entries + 1;
}

static void SynthesizeProtocolArray(PortSession *session, const ProtocolCaps *row)
{
    unsigned char array[3 * SynthesizedEntries];
    int entries = 0;
    entries = PutEntry(array, entries, 'P', row->physicalProtocol);
    entries = PutEntry(array, entries, 'L', row->linkProtocol);
    for (int family = 0; family <= 8; family++) {
        if (row->protocolSlots[family] != -1)
            entries = PutEntry(array, entries, 'A', family * 100 + row->protocolSlots[family]);
        if (family == 3 && row->trackHeaderType != -1)
            entries = PutEntry(array, entries, 'D', 300 + row->trackHeaderType);
        if (family >= 1 && row->protocolSlots[9 + family] != -1)
            entries = PutEntry(array, entries, 'D', family * 100 + row->protocolSlots[9 + family]);
        if (family == 2 && row->routeLinkType != -1)
            entries = PutEntry(array, entries, 'D', 200 + row->routeLinkType);
    }
    LinkOf(session)->product.typesFromTable = 1;
    ProductHandler(session, PacketProtocolArray + DispatchPacket, array, 3 * entries);
}

/* Route links (D21x) and track headers (D31x) are kept for the application
 * protocol they follow, and never take the slot of the route header or
 * track point type; 1 when the data type was one of them. */
static int TakeLinkedType(ProtocolCaps *caps, int application, uint16_t number)
{
    int family = number / 100, member = number % 100;
    if ((family != 2 && family != 3) || member < 10 || member >= 20)
        return 0;
    if (family == 2 && application == 201)
        caps->routeLinkType = (int16_t)number;
    if (family == 3 && (application == 301 || application == 302))
        caps->trackHeaderType = (int16_t)number;
    return 1;
}

ProtocolCaps *ParseProtocolArray(const unsigned char *data, int length)
{
    ProtocolCaps *caps = (ProtocolCaps *)calloc(1, sizeof *caps);
    if (!caps)
        return NULL;
    for (int16_t &slot : caps->protocolSlots)
        slot = -1;
    caps->routeLinkType = -1;
    caps->trackHeaderType = -1;
    int application = -1; /* the A entry the data types that follow belong to */
    for (int at = 0; at + 3 <= length; at += 3) {
        uint16_t number = ReadField<uint16_t>(data, length, at + 1);
        int slot = -1;
        switch (data[at]) {
        case 'A':
            slot = number / 100;
            application = number;
            break;
        case 'D':
            slot = TakeLinkedType(caps, application, number) ? -1 : 9 + number / 100;
            break;
        case 'L': caps->linkProtocol = number; break;
        case 'P': caps->physicalProtocol = number; break;
        default: break;
        }
        if (slot >= 0 && slot < ProtocolSlots)
            caps->protocolSlots[slot] = (int16_t)number;
    }
    /* Proximity waypoints in the waypoint type, unless the receiver names one. */
    if (caps->protocolSlots[4] != -1 && caps->protocolSlots[13] == -1)
        caps->protocolSlots[13] = caps->protocolSlots[SlotWaypointType];
    return caps;
}

int32_t HALVEX_CALL HalvexGetProductInfoInit(PortSession *session, HalvexProductCallback *callback)
{
    PortCall call(session);
    if (!call.Ok())
        return 0;
    ErrorLog("Product ID requested\n");
    int started = LinkOf(session) || PrepareLinkPort(session);
    if (started) {
        /* A transfer under way ends here, unreported. */
        static const ObjectiveEntry identification = {IdentificationStep, NULL};
        EnterObjective(session, ObjectiveProduct, &identification, NULL);
        LinkState *link = LinkOf(session);
        link->identification = (IdentificationRecord *)calloc(1, sizeof *link->identification);
        ReleaseProductRecords(session);
        if (link->identification) {
            link->identification->callback = callback ? *callback : NULL;
            started = SendPacket(session, PacketProductRequest, NULL, 0);
        }
        if (!started) /* nothing went out: nothing to wait for */
            ReturnToReady(session);
    }
    if (!started)
        return call.Fail(ERROR_NOT_ENOUGH_MEMORY);
    call.wake = true;
    return 1;
}
