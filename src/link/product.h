/* Product identification: the receiver's product data, and its protocols
 * and data types from the built-in table or its own protocol array. */
#ifndef HALVEX_PRODUCT_H
#define HALVEX_PRODUCT_H

#include "../port/session.h"

enum { ProtocolSlots = 30, SlotWaypointType = 10, SlotRouteHeaderType = 11 };

/* The receiver's capabilities; a table row has the same layout, with its
 * key and version band in the first three fields and numbers modulo 100. */
struct ProtocolCaps {
    uint16_t productId;
    uint16_t versionLimit; /* exclusive */
    uint16_t versionFloor; /* inclusive */
    uint16_t physicalProtocol;
    uint16_t linkProtocol;
    int16_t protocolSlots[ProtocolSlots]; /* -1 when empty */
};

enum { ProductCapsRows = 50 };
extern const ProtocolCaps ProductCapsTable[ProductCapsRows];

int ProductHandler(PortSession *session, int code, const unsigned char *data, int length);
int ProductTimeout(void *session);
const ProtocolCaps *FindProductCaps(uint16_t productId, uint16_t softwareVersion);
void SynthesizeProtocolArray(PortSession *session, const ProtocolCaps *row);
/* New capabilities from a protocol array; null when no memory was left. */
ProtocolCaps *ParseProtocolArray(const unsigned char *data, int length);
/* Releases the product records and ends a product request's timer. */
void ReleaseProductRecords(PortSession *session);

#endif
