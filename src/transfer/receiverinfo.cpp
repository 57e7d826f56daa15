/* What the library knows of the identified receiver, for hosts: its product,
 * the data types it is spoken to in, how much of a waypoint's texts reach
 * it, and its protocol array as text. */
#include <stdio.h>
#include <string.h>

#include "../link/fields.h"
#include "../link/product.h"
#include "../port/portcall.h"
#include "transfer.h"
#include "waypointtypes.h"

/* A data type for the host: 0 where the receiver has none. */
static int32_t TypeOrZero(int type) { return type < 0 ? 0 : type; }

/* "P000 L001 A010 ...": whole entries only, however long the array. */
static void ProtocolText(const ProductRecords *product, char *text, size_t size)
{
    size_t at = 0;
    text[0] = '\0';
    for (int entry = 0; entry + 3 <= product->protocolArrayLength; entry += 3) {
        char one[16];
        int length = snprintf(one, sizeof one, "%s%c%03u", at ? " " : "", product->protocolArray[entry],
                              (unsigned)ReadField<uint16_t>(product->protocolArray, product->protocolArrayLength,
                                                            entry + 1));
        if (at + (size_t)length >= size)
            break;
        memcpy(text + at, one, (size_t)length + 1);
        at += (size_t)length;
    }
}

static void FillReceiverInfo(const ProductRecords *product, HostReceiverInfo *info)
{
    const ProtocolCaps *caps = product->caps;
    memset(info, 0, sizeof *info);
    info->productId = ReadField<uint16_t>(product->productData, 4, 0);
    info->softwareVersion = ReadField<int16_t>(product->productData, 4, 2);
    info->waypointType = TypeOrZero(WaypointDataType(caps));
    info->routeHeaderType = TypeOrZero(caps->protocolSlots[SlotRouteHeaderType]);
    info->routeLinkType = TypeOrZero(caps->routeLinkType);
    info->trackHeaderType = TypeOrZero(caps->trackHeaderType);
    /* Tracks go as D300 unless the receiver names a later point type. */
    info->trackPointType = caps->protocolSlots[3] == -1 ? 0 : TrackPointType(caps);
    WaypointTextWidths(info->waypointType, &info->identWidth, &info->commentWidth);
    info->typesSource = product->typesFromTable ? HalvexTypesFromTable : HalvexTypesFromReceiver;
    ProtocolText(product, info->protocols, sizeof info->protocols);
}

int32_t HALVEX_CALL HalvexGetReceiverInfo(PortSession *session, HostReceiverInfo *info)
{
    PortCall call(session);
    if (!call.Ok())
        return 0;
    if (!info)
        return call.Fail(ERROR_INVALID_PARAMETER);
    const ProductRecords *product = ReceiverProduct(session);
    if (!product || !product->caps || !product->productData)
        return call.Fail(ERROR_NOT_READY);
    FillReceiverInfo(product, info);
    return 1;
}
