/*
 * halvex32: talk to a GPS receiver on a serial line.
 *
 * Every export that starts an exchange only checks and prepares state, sends
 * its first packet and returns at once. The work runs on the library's own
 * dispatch thread, and results come back through the host's callbacks, which
 * are always called on that thread.
 *
 * Callbacks are passed by reference: an export receives the address of a
 * variable that holds the callback and reads it once, when the operation
 * starts. True is -1, as OLE Automation hosts expect.
 *
 * A host callback may call the exports again. It must not wait for another
 * thread of the host that is itself calling into the library: the library
 * serialises its exports with the dispatch thread, so such a wait never ends.
 *
 * On Windows the strings and arrays are the system's OLE Automation BSTRs and
 * SAFEARRAYs. Elsewhere the library exports a compatible subset of those calls,
 * declared below, so that a host can build what it passes in.
 */
#ifndef HALVEX32_H
#define HALVEX32_H

#include <stddef.h>
#include <stdint.h>

#ifdef _WIN32
#include <windows.h>
#include <oleauto.h>
#define HALVEX_CALL __stdcall
#define HALVEX_API
#else
#define HALVEX_CALL
#define HALVEX_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

#ifndef _WIN32
/* The OLE Automation subset: the Windows layouts with the Windows widths. */
typedef uint16_t USHORT;
typedef uint32_t ULONG;
typedef int32_t LONG;
typedef unsigned int UINT;
typedef int32_t HRESULT;
typedef uint16_t VARTYPE;
#ifdef __cplusplus
typedef char16_t OLECHAR;
#else
typedef uint16_t OLECHAR;
#endif
/* A BSTR points at its first 16-bit unit; the byte length sits in the 4 bytes
 * before it and two zero bytes follow the text. A null BSTR is empty. */
typedef OLECHAR *BSTR;

typedef struct tagSAFEARRAYBOUND {
    ULONG cElements;
    LONG lLbound;
} SAFEARRAYBOUND;

typedef struct tagSAFEARRAY {
    USHORT cDims;
    USHORT fFeatures;
    ULONG cbElements;
    ULONG cLocks;
    void *pvData;
    SAFEARRAYBOUND rgsabound[1];
} SAFEARRAY;

#define S_OK ((HRESULT)0)
#define E_INVALIDARG ((HRESULT)0x80070057)
#define E_OUTOFMEMORY ((HRESULT)0x8007000E)
#define DISP_E_ARRAYISLOCKED ((HRESULT)0x8002000D)

#define FADF_BSTR 0x0100
#define FADF_HAVEVARTYPE 0x0080

/* Element types that SafeArrayCreateVector knows the size of. */
enum {
    VT_I2 = 2, VT_I4 = 3, VT_R4 = 4, VT_R8 = 5, VT_CY = 6, VT_DATE = 7,
    VT_BSTR = 8, VT_ERROR = 10, VT_BOOL = 11, VT_I1 = 16, VT_UI1 = 17,
    VT_UI2 = 18, VT_UI4 = 19, VT_I8 = 20, VT_UI8 = 21, VT_INT = 22, VT_UINT = 23
};

HALVEX_API BSTR SysAllocString(const OLECHAR *text);
HALVEX_API BSTR SysAllocStringLen(const OLECHAR *text, UINT units);
HALVEX_API BSTR SysAllocStringByteLen(const char *bytes, UINT length);
HALVEX_API void SysFreeString(BSTR text);
HALVEX_API UINT SysStringLen(BSTR text);
HALVEX_API UINT SysStringByteLen(BSTR text);

HALVEX_API HRESULT SafeArrayAllocDescriptor(UINT dims, SAFEARRAY **out);
HALVEX_API HRESULT SafeArrayAllocData(SAFEARRAY *array);
HALVEX_API HRESULT SafeArrayDestroyData(SAFEARRAY *array);
HALVEX_API HRESULT SafeArrayDestroyDescriptor(SAFEARRAY *array);
HALVEX_API SAFEARRAY *SafeArrayCreateVector(VARTYPE type, LONG lowerBound, ULONG elements);
HALVEX_API HRESULT SafeArrayDestroy(SAFEARRAY *array);
#endif

/* An open port, as returned by OpenCommPort and OpenCommPortEx. */
typedef struct PortSession PortSession;

/* Host records: little-endian. On 32-bit targets (and off Windows, as
 * always) fields lie on 4-byte boundaries; 64-bit Windows hosts (Office,
 * VBA7) lay them out naturally, BSTRs and doubles on 8-byte boundaries. */
#if !defined(_WIN64)
#pragma pack(push, 4)
#endif

/* The receiver's identity, for the identification callback. The library
 * frees the description when the callback returns. */
typedef struct HostProductInfo {
    int16_t productId;
    int16_t softwareVersion;
    BSTR description;
} HostProductInfo;

/* One waypoint (24 bytes on 32-bit targets). */
typedef struct HostWaypoint {
    BSTR ident;
    double latitude; /* degrees */
    double longitude;
    BSTR comment;
} HostWaypoint;

/* One route (16 bytes on 32-bit targets); its waypoints are the waypointCount
 * elements of the companion HostWaypoint array from firstWaypoint on. */
typedef struct HostRoute {
    int32_t firstWaypoint;
    int16_t waypointCount;
    int16_t number;
    BSTR comment;
    BSTR ident;
} HostRoute;

/* One track point (32 bytes). */
typedef struct HostTrackPoint {
    double time; /* OLE Automation date, no time-zone conversion */
    double latitude;
    double longitude;
    int16_t newTrack; /* 1 when the point starts a new track */
    int16_t padding[3];
} HostTrackPoint;

/* One element of the host's NMEA table (20 bytes on 32-bit targets). */
typedef struct NmeaTableEntry {
    double timeStamp; /* local OLE Automation date of the last sentence */
    BSTR talker;
    BSTR sentenceId; /* the key, set by the host: GGA, RMC, ... */
    BSTR sentence;   /* the last sentence of that kind, without CR LF */
} NmeaTableEntry;

/* What the library knows of an identified receiver (552 bytes on every
 * target: no pointers, so 32- and 64-bit hosts declare it alike). Data
 * types are numbers (108 for D108), 0 where the receiver has none. */
typedef struct HostReceiverInfo {
    int32_t productId;
    int32_t softwareVersion; /* hundredths: 310 is 3.10 */
    int32_t waypointType;
    int32_t routeHeaderType;
    int32_t routeLinkType;   /* between two route waypoints */
    int32_t trackHeaderType; /* before each track */
    int32_t trackPointType;
    int32_t identWidth;   /* characters of a waypoint ident that reach the receiver */
    int32_t commentWidth; /* characters of a waypoint comment; 0: the type has none */
    int32_t typesSource;  /* HalvexTypesFromReceiver or HalvexTypesFromTable */
    char protocols[512];  /* the protocol array as text, "P000 L001 A010 ...", NUL-terminated */
} HostReceiverInfo;

/* A position fix, from the receiver's position reports in binary mode or
 * merged from one fix epoch of NMEA sentences (88 bytes on every target,
 * doubles first). A field the receiver did not give is NaN, never 0, and
 * its bit in `given` is clear; fixMode and satellites are then 0. */
typedef struct HostPosition {
    double time;        /* OLE Automation date, UTC */
    double latitude;    /* degrees, north positive */
    double longitude;   /* degrees, east positive */
    double altitude;    /* metres above mean sea level */
    double speed;       /* over ground, metres a second */
    double course;      /* over ground, degrees from true north */
    double climb;       /* metres a second, up positive */
    double eph;         /* estimated horizontal error, metres */
    double epv;         /* estimated vertical error, metres */
    int32_t fixMode;    /* HalvexFixNone, HalvexFix2D, HalvexFix3D */
    int32_t satellites; /* satellites used in the fix */
    int32_t given;      /* HalvexGave... bits: what the receiver gave */
    int32_t weeksAdded; /* 0, or the 1024-week periods (1024, 2048 ...) that
                           time was moved forward from the receiver's date:
                           its GPS week count has rolled over */
} HostPosition;

/* The receiver's clock, for HalvexGetTimeInit's callback (24 bytes on
 * every target). */
typedef struct HostClock {
    double receiverTime; /* OLE Automation date, UTC, as the receiver said */
    double hostTime;     /* this computer's UTC clock when the answer came */
    int32_t weeksBehind; /* 0, 1024, 2048 ...: the whole 1024-week periods by
                            which the receiver's date trails the true date */
    int32_t reserved;
} HostClock;

/* What has crossed the line since the port was opened (32 bytes on every
 * target): how a host tells a silent line from one that carries bytes in
 * neither NMEA nor the binary format (a wrong speed or mode). Each count
 * stops at 2^31 - 1. */
typedef struct HostLineCounts {
    int32_t bytesReceived;
    int32_t bytesSent;
    int32_t sentences;  /* NMEA sentences received whole, $ to LF */
    int32_t frames;     /* binary frames received with a good checksum */
    int32_t badFrames;  /* binary frames whose checksum or length failed */
    int32_t acks;       /* our frames the receiver acknowledged */
    int32_t lineErrors; /* line errors the driver reported (framing, parity, overrun, break) */
    int32_t reserved;
} HostLineCounts;

/* One waypoint with every field a receiver's waypoint type can hold (104
 * bytes on 32-bit targets, 128 on 64-bit Windows: doubles and integers
 * first, so their offsets are the same everywhere). `given` has a
 * HalvexHolds... bit for each field the receiver's type holds; a field the
 * type does not hold, or that the receiver left unset, is NaN, -1 or an
 * empty string, never 0 passed off as a value. Uploads read every field and
 * ignore `given`: NaN, -1 and empty strings go as the type's "not set" or
 * its default (a plain waypoint symbol, the default colour). */
typedef struct HostWaypointEx {
    double latitude;    /* degrees */
    double longitude;
    double altitude;    /* metres */
    double depth;       /* metres */
    double proximity;   /* proximity alarm distance, metres */
    double time;        /* OLE Automation date, UTC */
    double temperature; /* degrees Celsius */
    int32_t symbol;     /* the receiver's symbol number: 18 a waypoint, 8255 a geocache ... */
    int32_t display;    /* how the map shows it: 0 symbol with name, 1 symbol, 2 symbol with comment */
    int32_t colour;     /* the receiver's colour number */
    int32_t category;   /* membership bits of the receiver's 16 categories */
    int32_t wptClass;   /* 0 a user waypoint; other classes are the receiver's map points */
    int32_t given;      /* HalvexHolds... bits */
    BSTR ident;
    BSTR comment;
    BSTR facility;
    BSTR city;
    BSTR address;
    BSTR crossRoad;
} HostWaypointEx;

/* One track point with what the receiver's track types hold (72 bytes on
 * 32-bit targets, 80 on 64-bit Windows). The first point of each track
 * carries the track's name, colour and display flag from the header the
 * receiver sends before it (trackStart 1); elsewhere the name is empty and
 * the two numbers -1. On upload a header goes before the first point and
 * before each point whose trackStart is set. */
typedef struct HostTrackPointEx {
    double time;        /* OLE Automation date, UTC; NaN: the point has none */
    double latitude;
    double longitude;
    double altitude;    /* metres */
    double depth;       /* metres */
    double temperature; /* degrees Celsius */
    int32_t newTrack;   /* 1 when the point starts a new segment */
    int32_t trackStart; /* 1 when the point starts a track of its own, under a header */
    int32_t trackColour;
    int32_t trackDisplay; /* 1 shown on the map, 0 hidden */
    int32_t given;        /* HalvexHolds... bits */
    BSTR trackName;
} HostTrackPointEx;

#if !defined(_WIN64)
#pragma pack(pop)
#endif

#if defined(__cplusplus) && UINTPTR_MAX == 0xFFFFFFFFu
/* On 32-bit targets the records have exactly the layouts hosts declare. */
static_assert(sizeof(HostProductInfo) == 8, "HostProductInfo layout");
static_assert(sizeof(HostWaypoint) == 24 && offsetof(HostWaypoint, comment) == 20, "HostWaypoint layout");
static_assert(sizeof(HostRoute) == 16 && offsetof(HostRoute, ident) == 12, "HostRoute layout");
static_assert(sizeof(HostTrackPoint) == 32 && offsetof(HostTrackPoint, newTrack) == 24, "HostTrackPoint layout");
static_assert(sizeof(NmeaTableEntry) == 20 && offsetof(NmeaTableEntry, sentence) == 16, "NmeaTableEntry layout");
static_assert(sizeof(HostWaypointEx) == 104 && offsetof(HostWaypointEx, crossRoad) == 100, "HostWaypointEx layout");
static_assert(sizeof(HostTrackPointEx) == 72 && offsetof(HostTrackPointEx, trackName) == 68, "HostTrackPointEx layout");
#endif

#if defined(__cplusplus) && defined(_WIN64)
/* On 64-bit Windows the records have the layouts 64-bit OLE hosts give them. */
static_assert(sizeof(HostProductInfo) == 16 && offsetof(HostProductInfo, description) == 8, "HostProductInfo layout");
static_assert(sizeof(HostWaypoint) == 32 && offsetof(HostWaypoint, comment) == 24, "HostWaypoint layout");
static_assert(sizeof(HostRoute) == 24 && offsetof(HostRoute, comment) == 8 && offsetof(HostRoute, ident) == 16,
              "HostRoute layout");
static_assert(sizeof(HostTrackPoint) == 32 && offsetof(HostTrackPoint, newTrack) == 24, "HostTrackPoint layout");
static_assert(sizeof(NmeaTableEntry) == 32 && offsetof(NmeaTableEntry, sentence) == 24, "NmeaTableEntry layout");
static_assert(sizeof(HostWaypointEx) == 128 && offsetof(HostWaypointEx, crossRoad) == 120, "HostWaypointEx layout");
static_assert(sizeof(HostTrackPointEx) == 80 && offsetof(HostTrackPointEx, trackName) == 72, "HostTrackPointEx layout");
#endif

#ifdef __cplusplus
static_assert(sizeof(HostReceiverInfo) == 552 && offsetof(HostReceiverInfo, protocols) == 40,
              "HostReceiverInfo layout");
static_assert(sizeof(HostPosition) == 88 && offsetof(HostPosition, fixMode) == 72, "HostPosition layout");
static_assert(sizeof(HostClock) == 24 && offsetof(HostClock, weeksBehind) == 16, "HostClock layout");
static_assert(sizeof(HostLineCounts) == 32 && offsetof(HostLineCounts, lineErrors) == 24, "HostLineCounts layout");
static_assert(offsetof(HostWaypointEx, symbol) == 56 && offsetof(HostWaypointEx, ident) == 80, "HostWaypointEx layout");
static_assert(offsetof(HostTrackPointEx, newTrack) == 48 && offsetof(HostTrackPointEx, given) == 64,
              "HostTrackPointEx layout");
#endif

/* Who owns what crosses: arrays and strings a host passes to an export
 * stay the host's; the library reads them before the export returns and
 * keeps nothing of them. Arrays, records and strings the library passes to
 * a callback stay the library's: they are valid until the callback
 * returns, then freed. A host copies what it keeps and never frees them. */

/* Line events of OpenCommPortEx: (1, event mask) for a modem-line change,
 * (2, 0) when the port was lost and the session closed. */
typedef void(HALVEX_CALL *HalvexPortCallback)(int32_t code, int32_t value);
/* Product identification: (0, 0, record) when identified, else a failure code;
 * the record and its description are the library's until the call returns. */
typedef void(HALVEX_CALL *HalvexProductCallback)(int32_t code, int32_t value, HostProductInfo *record);
/* Uploads: (0, 0) when every record was acknowledged, (1, 0) when aborted. */
typedef void(HALVEX_CALL *HalvexUploadCallback)(int32_t status, int32_t zero);
/* Waypoint download: (0, -1, array) with a null array when aborted; the
 * array and its strings are the library's, freed when the call returns. */
typedef void(HALVEX_CALL *HalvexWaypointCallback)(int32_t zero, int32_t value, SAFEARRAY **waypoints);
/* Route download: (0, -1, routes, waypoints), or (2, 0, null, null) when
 * aborted; both arrays are the library's, freed when the call returns. */
typedef void(HALVEX_CALL *HalvexRouteCallback)(int32_t status, int32_t value, SAFEARRAY **routes,
                                               SAFEARRAY **waypoints);
/* Track download: one call per point (the library's until the call returns);
 * returning 0 stops the download. */
typedef int16_t(HALVEX_CALL *HalvexTrackCallback)(int32_t zero, int32_t value, HostTrackPoint *point);
/* The extended downloads: the same calls with the extended records. */
typedef void(HALVEX_CALL *HalvexWaypointExCallback)(int32_t zero, int32_t value, SAFEARRAY **waypoints);
typedef void(HALVEX_CALL *HalvexRouteExCallback)(int32_t status, int32_t value, SAFEARRAY **routes,
                                                 SAFEARRAY **waypoints);
typedef int16_t(HALVEX_CALL *HalvexTrackExCallback)(int32_t zero, int32_t value, HostTrackPointEx *point);
/* NMEA mode: a sentence (the library's until the call returns), a line error
 * or a silence report. */
typedef int16_t(HALVEX_CALL *HalvexNmeaCallback)(int32_t code, int32_t value, BSTR *sentence);

/* Live position: one call per fix, the record the library's until the call
 * returns. No call follows HalvexStopPosition. */
typedef void(HALVEX_CALL *HalvexPositionCallback)(int32_t code, HostPosition *position);

/* The receiver's clock: (0, record) when it answered, else (2, record all
 * zero) with the last error saying why. */
typedef void(HALVEX_CALL *HalvexTimeCallback)(int32_t code, HostClock *clock);

/* The codes and values the callbacks above are called with. */
enum HalvexPortEvent {
    HalvexPortLinesChanged = 1, /* value: the events of the modem lines */
    HalvexPortLost = 2,         /* value 0: the device went away; the session is closed */
};
enum HalvexProductCode {
    HalvexProductIdentified = 0,
    HalvexProductLineError = 1, /* value: the line's error flags */
    HalvexProductFailed = 2,    /* the record is all zero */
};
enum HalvexTransferStatus {
    HalvexTransferDone = 0,
    HalvexUploadAborted = 1,  /* an upload's failure report */
    HalvexRouteFailed = 2,    /* a route download's failure report */
    HalvexDownloadEnd = -1,   /* the value of a download's final call */
};
enum HalvexNmeaCode {
    HalvexNmeaSentence = 0,
    HalvexNmeaLineError = 1, /* value: the line's error flags */
    HalvexNmeaSilence = 3,   /* nothing received for the silence time */
};

enum HalvexPositionCode {
    HalvexPositionFix = 0,
};
enum HalvexClockCode {
    HalvexClockRead = 0,
    HalvexClockFailed = 2,
};
enum HalvexFixMode {
    HalvexFixNone = 1, /* the receiver has no fix: the position is not given */
    HalvexFix2D = 2,
    HalvexFix3D = 3,
};
enum HalvexPositionGiven {
    HalvexGaveTime = 1,
    HalvexGavePosition = 2, /* latitude and longitude */
    HalvexGaveAltitude = 4,
    HalvexGaveSpeed = 8,
    HalvexGaveCourse = 16,
    HalvexGaveClimb = 32,
    HalvexGaveEph = 64,
    HalvexGaveEpv = 128,
    HalvexGaveFixMode = 256,
    HalvexGaveSatellites = 512,
};

/* What a receiver's data type holds: the `given` bits of the extended records. */
enum HalvexHolds {
    HalvexHoldsComment = 1,
    HalvexHoldsAltitude = 2,
    HalvexHoldsDepth = 4,
    HalvexHoldsProximity = 8,
    HalvexHoldsTime = 16,
    HalvexHoldsTemperature = 32,
    HalvexHoldsSymbol = 64,
    HalvexHoldsDisplay = 128,
    HalvexHoldsColour = 256,
    HalvexHoldsCategory = 512,
    HalvexHoldsClass = 1024,
    HalvexHoldsPlace = 2048,     /* facility, city, address and cross road */
    HalvexHoldsTrackName = 4096, /* trackName, trackColour and trackDisplay */
};

enum HalvexTypesSource {
    HalvexTypesFromTable = 0,    /* the library's table of known receivers */
    HalvexTypesFromReceiver = 1, /* the protocol array the receiver sent */
};

/* Why an export refused or failed, and inside a failure callback why the
 * operation ended: HalvexGetLastError() (on Windows also GetLastError(),
 * VBA's Err.LastDllError). Windows error codes, so the system's own names
 * for them (ERROR_FILE_NOT_FOUND, ...) hold too; other codes of the system
 * can come from a failing device. Every export sets it, 0 when it did what
 * was asked. */
enum HalvexErrorCode {
    HalvexErrorNone = 0,
    HalvexErrorNotSerial = 1,        /* ERROR_INVALID_FUNCTION: not a serial device */
    HalvexErrorNoDevice = 2,         /* ERROR_FILE_NOT_FOUND: no such port */
    HalvexErrorNoPath = 3,           /* ERROR_PATH_NOT_FOUND: a name that cannot be a port */
    HalvexErrorInUse = 5,            /* ERROR_ACCESS_DENIED: open already, in this or another program */
    HalvexErrorBadSession = 6,       /* ERROR_INVALID_HANDLE: not an open session */
    HalvexErrorNoMemory = 8,         /* ERROR_NOT_ENOUGH_MEMORY, or a record that could not be kept */
    HalvexErrorRecordsMissing = 13,  /* ERROR_INVALID_DATA: fewer records than the receiver announced, or a
                                        record that cannot be what it claims (a date that is no date) */
    HalvexErrorNotReady = 21,        /* ERROR_NOT_READY: the receiver is not identified (or in NMEA mode) */
    HalvexErrorRefused = 23,         /* ERROR_CRC: the receiver refused (NAK) every try of a packet */
    HalvexErrorNotSupported = 50,    /* ERROR_NOT_SUPPORTED: the receiver's data type is unknown here */
    HalvexErrorBadArgument = 87,     /* ERROR_INVALID_PARAMETER */
    HalvexErrorLogUnwritable = 110,  /* ERROR_OPEN_FAILED: the log file could not be written */
    HalvexErrorBusy = 170,           /* ERROR_BUSY: an operation is running on the session */
    HalvexErrorDeviceLost = 1167,    /* ERROR_DEVICE_NOT_CONNECTED: the device went away */
    HalvexErrorPermission = 1314,    /* ERROR_PRIVILEGE_NOT_HELD: no permission to open the port */
    HalvexErrorNoAnswer = 1460,      /* ERROR_TIMEOUT: the receiver did not answer */
};

/* Port session. */
HALVEX_API PortSession *HALVEX_CALL OpenCommPort(const char *name, int32_t baud);
HALVEX_API PortSession *HALVEX_CALL OpenCommPortEx(const char *name, int32_t baud, HalvexPortCallback *callback);
HALVEX_API void HALVEX_CALL CloseCommPort(PortSession *session);

/* Diagnostics log: writes the text as one line when the log is on; 0, or -1
 * when the log file could not be written. */
HALVEX_API int32_t HALVEX_CALL OutputDebug(const char *text);

/* Binary link protocol. Each returns 1 when started, 0 when refused. An
 * upload reads the host's arrays and their strings before it returns; they
 * stay the host's to free. */
HALVEX_API int32_t HALVEX_CALL HalvexGetProductInfoInit(PortSession *session, HalvexProductCallback *callback);
HALVEX_API int32_t HALVEX_CALL HalvexUploadWayPtInit(PortSession *session, SAFEARRAY **waypoints,
                                                     HalvexUploadCallback *callback);
HALVEX_API int32_t HALVEX_CALL HalvexDownloadWayPtInit(PortSession *session, HalvexWaypointCallback *callback);
HALVEX_API int32_t HALVEX_CALL HalvexUploadRouteInit(PortSession *session, SAFEARRAY **routes,
                                                     SAFEARRAY **waypoints, HalvexUploadCallback *callback);
HALVEX_API int32_t HALVEX_CALL HalvexDownloadRouteInit(PortSession *session, HalvexRouteCallback *callback);
HALVEX_API int32_t HALVEX_CALL HalvexUploadTrackInit(PortSession *session, SAFEARRAY **points,
                                                     HalvexUploadCallback *callback);
HALVEX_API int32_t HALVEX_CALL HalvexDownloadTrackInit(PortSession *session, HalvexTrackCallback *callback);

/* What the library knows of the receiver identified on the session: 1
 * with the record filled, or 0 (not identified yet, or no record given). */
HALVEX_API int32_t HALVEX_CALL HalvexGetReceiverInfo(PortSession *session, HostReceiverInfo *info);
/* Why the last export called on this thread refused or failed (0 when it
 * succeeded); in a failure callback, why the operation ended. */
HALVEX_API int32_t HALVEX_CALL HalvexGetLastError(void);

/* Live position, in binary mode (the receiver identified and idle: its
 * position reports are switched on and off) or in NMEA mode (each fix epoch
 * of GGA, RMC, GSA and VTG merged into one record, beside the sentences).
 * Each returns 1, or 0 with the last error set. */
HALVEX_API int32_t HALVEX_CALL HalvexStartPosition(PortSession *session, HalvexPositionCallback *callback);
HALVEX_API int32_t HALVEX_CALL HalvexStopPosition(PortSession *session);

/* The receiver's date and time, asked of an identified, idle receiver in
 * binary mode that keeps a clock (HalvexErrorNotSupported otherwise): 1
 * when asked, 0 with the last error set. Its answer, or why none came,
 * goes to the callback. */
HALVEX_API int32_t HALVEX_CALL HalvexGetTimeInit(PortSession *session, HalvexTimeCallback *callback);

/* What has crossed the line since the port was opened: 1 with the record
 * filled, or 0 with the last error set (not an open session, no record). */
HALVEX_API int32_t HALVEX_CALL HalvexGetLineCounts(PortSession *session, HostLineCounts *counts);

/* The transfers with every field the receiver keeps: the same refusals,
 * outcomes and callbacks' shapes as the exports above, with HostWaypointEx
 * for waypoints (routes keep HostRoute, with number -1 where the receiver's
 * route header has none) and HostTrackPointEx for track points. Fixed-width
 * text the receiver pads with spaces comes back trimmed. */
HALVEX_API int32_t HALVEX_CALL HalvexUploadWayPtExInit(PortSession *session, SAFEARRAY **waypoints,
                                                       HalvexUploadCallback *callback);
HALVEX_API int32_t HALVEX_CALL HalvexDownloadWayPtExInit(PortSession *session, HalvexWaypointExCallback *callback);
HALVEX_API int32_t HALVEX_CALL HalvexUploadRouteExInit(PortSession *session, SAFEARRAY **routes,
                                                       SAFEARRAY **waypoints, HalvexUploadCallback *callback);
HALVEX_API int32_t HALVEX_CALL HalvexDownloadRouteExInit(PortSession *session, HalvexRouteExCallback *callback);
HALVEX_API int32_t HALVEX_CALL HalvexUploadTrackExInit(PortSession *session, SAFEARRAY **points,
                                                       HalvexUploadCallback *callback);
HALVEX_API int32_t HALVEX_CALL HalvexDownloadTrackExInit(PortSession *session, HalvexTrackExCallback *callback);

/* NMEA mode. SendNMEA and SendNMEAChk return -1 when written, 0 otherwise. */
HALVEX_API int32_t HALVEX_CALL StartNMEA(PortSession *session, SAFEARRAY **table, HalvexNmeaCallback *callback);
HALVEX_API void HALVEX_CALL StopNMEA(PortSession *session);
HALVEX_API int16_t HALVEX_CALL SendNMEA(PortSession *session, BSTR *sentence);
HALVEX_API int16_t HALVEX_CALL SendNMEAChk(PortSession *session, SAFEARRAY **sentences);

#ifdef __cplusplus
}
#endif

#endif
