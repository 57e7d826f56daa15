/* The receiver's waypoint data types (D100 to D155, D108 to D110) and positions in
 * semicircles: 2^31 semicircles are 180 degrees. */
#ifndef HALVEX_WAYPOINTTYPES_H
#define HALVEX_WAYPOINTTYPES_H

#include "../link/fields.h"
#include "../link/product.h"
#include "../port/session.h"
#include "records.h"

double SemicirclesToDegrees(int32_t semicircles);
int32_t DegreesToSemicircles(double degrees);

/* The receiver's waypoint data type, -1 when it has none (or no caps). */
int WaypointDataType(const ProtocolCaps *caps);
/* Fills the zero-filled record from a received waypoint packet in the
 * receiver's type; never reads beyond length. A type without a decoder
 * leaves the record as it is. */
void DecodeWaypoint(const ProtocolCaps *caps, const unsigned char *data, int length, WaypointRecord *record);
/* Builds the packet data of the record in the receiver's type into data (room
 * for 255 bytes); its length, or 0 when the type has no encoder. */
int EncodeWaypointData(int type, const WaypointRecord *record, unsigned char *data);
/* Sends the record with packetId, acknowledged and retransmitted; 1 when a
 * packet went out, 0 when the type has no encoder or memory ran out. */
int EncodeWaypoint(PortSession *session, const WaypointRecord *record, int packetId);

/* D108, D109 and D110, whose ident and comment are strings after a fixed
 * head: the encoder gives the length (0 for another type), the decoder 1
 * when the type was one of them; neither reads nor writes past its data. */
int EncodeStringWaypoint(int type, const WaypointRecord *record, unsigned char *data);
int DecodeStringWaypoint(int type, const unsigned char *data, int length, WaypointRecord *record);
/* The characters an ident and a comment keep in D108 to D110; 0 for another
 * type. */
int StringWaypointLimit(int type);
/* The HalvexHolds... bits of the fields a waypoint type holds beyond ident
 * and position (StringWaypointHolds: 0 but for D108 to D110). */
int WaypointHolds(int type);
int StringWaypointHolds(int type);

/* The characters of a waypoint's ident and comment that reach a receiver
 * of the type (cut by the type, or by the library's records); 0 and 0 for a
 * type the library cannot send. */
void WaypointTextWidths(int type, int *ident, int *comment);

/* The float 1.0e25 that later receivers take for "not set" (altitude,
 * depth, proximity, temperature), little-endian. */
void WriteNotSet(unsigned char *data);
/* A float measure of a record: its value where set has bit, else "not set". */
void WriteMeasure(unsigned char *data, const double *value, int set, int bit);
/* The float at offset at into value, bit added to set, unless the receiver
 * left it "not set" (or the data ends before it). */
void ReadMeasure(const unsigned char *data, int length, int at, double *value, int32_t *set, int bit);

#endif
