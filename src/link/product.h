/* Product identification: the receiver's product data, and its protocols
 * and data types from the built-in table or its own protocol array. */
#ifndef HALVEX_PRODUCT_H
#define HALVEX_PRODUCT_H

#include "../port/session.h"

enum { ProtocolSlots = 30, SlotWaypointType = 10, SlotRouteHeaderType = 11, SlotTrackPointType = 12 };

/* The receiver's capabilities; a table row has the same layout, with its
 * key and version band in the first three fields and numbers modulo 100.
 * The data types after an application protocol belong to it: the route
 * link type follows A201 and the track header type A301 or A302, so they
 * are kept apart from the slots (D2xx slot 11 holds route headers D20x
 * only, D3xx slot 12 track points D30x only). */
struct ProtocolCaps {
    uint16_t productId;
    uint16_t versionLimit; /* exclusive */
    uint16_t versionFloor; /* inclusive */
    uint16_t physicalProtocol;
    uint16_t linkProtocol;
    int16_t protocolSlots[ProtocolSlots]; /* -1 when empty */
    int16_t routeLinkType;                /* D21x, -1 when routes have no links */
    int16_t trackHeaderType;              /* D31x, -1 when tracks have no headers */
};

/* What identification learned of the receiver, kept while binary mode has
 * the line. */
struct ProductRecords {
    unsigned char *productData; /* as received, with room for id and version and a NUL after */
    ProtocolCaps *caps;
    unsigned char *protocolArray; /* as received, or made from the table row */
    int32_t protocolArrayLength;
    int32_t typesFromTable; /* the types came from the table, not the receiver */
};

/* The identified receiver's records, or null when binary mode does not
 * have the line; their pointers are null until identification. */
const ProductRecords *ReceiverProduct(const PortSession *session);
/* The identified receiver's capabilities, or null. */
const ProtocolCaps *ReceiverCaps(const PortSession *session);

enum { ProductCapsRows = 50 };
extern const ProtocolCaps ProductCapsTable[ProductCapsRows];

void ProductHandler(PortSession *session, int code, const unsigned char *data, int length);
const ProtocolCaps *FindProductCaps(uint16_t productId, uint16_t softwareVersion);
/* New capabilities from a protocol array; null when no memory was left. */
ProtocolCaps *ParseProtocolArray(const unsigned char *data, int length);
/* Releases the product records and ends a product request's timer. */
void ReleaseProductRecords(PortSession *session);

#endif
