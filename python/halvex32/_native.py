"""The library's exports, records and callback types, declared once for
ctypes: the standard-call DLL on Windows (WINFUNCTYPE for 32-bit), the
shared library elsewhere, with the layouts of each word size."""

import ctypes
import os
import sys

WINDOWS = sys.platform == "win32"
WIN64 = WINDOWS and ctypes.sizeof(ctypes.c_void_p) == 8


def _load():
    named = os.environ.get("HALVEX32_LIBRARY")
    candidates = [named] if named else (["halvex32.dll"] if WINDOWS else ["libhalvex32.so.1", "libhalvex32.so"])
    loader = ctypes.WinDLL if WINDOWS else ctypes.CDLL
    reasons = []
    for name in candidates:
        try:
            return loader(name)
        except OSError as error:
            reasons.append(f"{name}: {error}")
    raise ImportError(
        "halvex32: the halvex32 library was not found ("
        + "; ".join(reasons)
        + "); install it, or name its file in HALVEX32_LIBRARY"
    )


lib = _load()
# BSTRs and SAFEARRAYs: the system's OLE Automation on Windows, the
# library's own compatible subset elsewhere.
ole = ctypes.WinDLL("oleaut32") if WINDOWS else lib
FUNCTYPE = ctypes.WINFUNCTYPE if WINDOWS else ctypes.CFUNCTYPE

BSTR = ctypes.c_void_p
# Host records lie on 4-byte boundaries but on 64-bit Windows.
PACK = 8 if WIN64 else 4


class Record(ctypes.Structure):
    _pack_ = PACK


class HostProductInfo(Record):
    _fields_ = [("productId", ctypes.c_int16), ("softwareVersion", ctypes.c_int16), ("description", BSTR)]


class HostRoute(Record):
    _fields_ = [
        ("firstWaypoint", ctypes.c_int32),
        ("waypointCount", ctypes.c_int16),
        ("number", ctypes.c_int16),
        ("comment", BSTR),
        ("ident", BSTR),
    ]


class HostWaypointEx(Record):
    _fields_ = [(name, ctypes.c_double) for name in
                ("latitude", "longitude", "altitude", "depth", "proximity", "time", "temperature")] + \
               [(name, ctypes.c_int32) for name in
                ("symbol", "display", "colour", "category", "wptClass", "given")] + \
               [(name, BSTR) for name in ("ident", "comment", "facility", "city", "address", "crossRoad")]


class HostTrackPointEx(Record):
    _fields_ = [(name, ctypes.c_double) for name in
                ("time", "latitude", "longitude", "altitude", "depth", "temperature")] + \
               [(name, ctypes.c_int32) for name in
                ("newTrack", "trackStart", "trackColour", "trackDisplay", "given")] + \
               [("trackName", BSTR)]


class HostReceiverInfo(ctypes.Structure):
    _fields_ = [(name, ctypes.c_int32) for name in
                ("productId", "softwareVersion", "waypointType", "routeHeaderType", "routeLinkType",
                 "trackHeaderType", "trackPointType", "identWidth", "commentWidth", "typesSource")] + \
               [("protocols", ctypes.c_char * 512)]


class HostPosition(ctypes.Structure):
    _fields_ = [(name, ctypes.c_double) for name in
                ("time", "latitude", "longitude", "altitude", "speed", "course", "climb", "eph", "epv")] + \
               [(name, ctypes.c_int32) for name in ("fixMode", "satellites", "given", "weeksAdded")]


class HostClock(ctypes.Structure):
    _fields_ = [("receiverTime", ctypes.c_double), ("hostTime", ctypes.c_double),
                ("weeksBehind", ctypes.c_int32), ("reserved", ctypes.c_int32)]


class SafeArrayBound(ctypes.Structure):
    _fields_ = [("cElements", ctypes.c_uint32), ("lLbound", ctypes.c_int32)]


class SafeArray(ctypes.Structure):
    _fields_ = [("cDims", ctypes.c_uint16), ("fFeatures", ctypes.c_uint16), ("cbElements", ctypes.c_uint32),
                ("cLocks", ctypes.c_uint32), ("pvData", ctypes.c_void_p), ("rgsabound", SafeArrayBound * 1)]


assert ctypes.sizeof(HostReceiverInfo) == 552 and ctypes.sizeof(HostPosition) == 88
assert ctypes.sizeof(HostWaypointEx) == (128 if ctypes.sizeof(ctypes.c_void_p) == 8 else 104)

PortSession = ctypes.c_void_p
PortCallback = FUNCTYPE(None, ctypes.c_int32, ctypes.c_int32)
ProductCallback = FUNCTYPE(None, ctypes.c_int32, ctypes.c_int32, ctypes.POINTER(HostProductInfo))
UploadCallback = FUNCTYPE(None, ctypes.c_int32, ctypes.c_int32)
WaypointCallback = FUNCTYPE(None, ctypes.c_int32, ctypes.c_int32, ctypes.POINTER(ctypes.POINTER(SafeArray)))
RouteCallback = FUNCTYPE(None, ctypes.c_int32, ctypes.c_int32, ctypes.POINTER(ctypes.POINTER(SafeArray)),
                         ctypes.POINTER(ctypes.POINTER(SafeArray)))
TrackCallback = FUNCTYPE(ctypes.c_int16, ctypes.c_int32, ctypes.c_int32, ctypes.POINTER(HostTrackPointEx))
NmeaCallback = FUNCTYPE(ctypes.c_int16, ctypes.c_int32, ctypes.c_int32, ctypes.POINTER(BSTR))
PositionCallback = FUNCTYPE(None, ctypes.c_int32, ctypes.POINTER(HostPosition))
TimeCallback = FUNCTYPE(None, ctypes.c_int32, ctypes.POINTER(HostClock))

_void_p, _i32 = ctypes.c_void_p, ctypes.c_int32


def _declare(name, result, *arguments, source=None):
    function = getattr(source or lib, name)
    function.restype = result
    function.argtypes = list(arguments)
    return function


OpenCommPort = _declare("OpenCommPort", PortSession, ctypes.c_char_p, _i32)
OpenCommPortEx = _declare("OpenCommPortEx", PortSession, ctypes.c_char_p, _i32, _void_p)
CloseCommPort = _declare("CloseCommPort", None, PortSession)
HalvexGetLastError = _declare("HalvexGetLastError", _i32)
HalvexGetProductInfoInit = _declare("HalvexGetProductInfoInit", _i32, PortSession, _void_p)
HalvexGetReceiverInfo = _declare("HalvexGetReceiverInfo", _i32, PortSession, ctypes.POINTER(HostReceiverInfo))
HalvexUploadWayPtExInit = _declare("HalvexUploadWayPtExInit", _i32, PortSession, _void_p, _void_p)
HalvexDownloadWayPtExInit = _declare("HalvexDownloadWayPtExInit", _i32, PortSession, _void_p)
HalvexUploadRouteExInit = _declare("HalvexUploadRouteExInit", _i32, PortSession, _void_p, _void_p, _void_p)
HalvexDownloadRouteExInit = _declare("HalvexDownloadRouteExInit", _i32, PortSession, _void_p)
HalvexUploadTrackExInit = _declare("HalvexUploadTrackExInit", _i32, PortSession, _void_p, _void_p)
HalvexDownloadTrackExInit = _declare("HalvexDownloadTrackExInit", _i32, PortSession, _void_p)
HalvexStartPosition = _declare("HalvexStartPosition", _i32, PortSession, _void_p)
HalvexStopPosition = _declare("HalvexStopPosition", _i32, PortSession)
HalvexGetTimeInit = _declare("HalvexGetTimeInit", _i32, PortSession, _void_p)
StartNMEA = _declare("StartNMEA", _i32, PortSession, _void_p, _void_p)
StopNMEA = _declare("StopNMEA", None, PortSession)
SendNMEA = _declare("SendNMEA", ctypes.c_int16, PortSession, ctypes.POINTER(BSTR))

SysAllocStringLen = _declare("SysAllocStringLen", BSTR, ctypes.POINTER(ctypes.c_uint16), ctypes.c_uint, source=ole)
SysAllocStringByteLen = _declare("SysAllocStringByteLen", BSTR, ctypes.c_char_p, ctypes.c_uint, source=ole)
SysFreeString = _declare("SysFreeString", None, BSTR, source=ole)
SysStringLen = _declare("SysStringLen", ctypes.c_uint, BSTR, source=ole)
SafeArrayAllocDescriptor = _declare("SafeArrayAllocDescriptor", _i32, ctypes.c_uint,
                                    ctypes.POINTER(ctypes.POINTER(SafeArray)), source=ole)
SafeArrayAllocData = _declare("SafeArrayAllocData", _i32, ctypes.POINTER(SafeArray), source=ole)
SafeArrayDestroyData = _declare("SafeArrayDestroyData", _i32, ctypes.POINTER(SafeArray), source=ole)
SafeArrayDestroyDescriptor = _declare("SafeArrayDestroyDescriptor", _i32, ctypes.POINTER(SafeArray), source=ole)


def text(bstr):
    """A host string as text: one character a 16-bit unit's low byte, as the library makes them."""
    if not bstr:
        return ""
    units = (ctypes.c_uint16 * SysStringLen(bstr)).from_address(bstr)
    return bytes(unit & 0xFF for unit in units).decode("latin-1")


def bstr(value):
    """A new host string (the caller frees it) of text in the receiver's 8-bit characters."""
    try:
        data = (value or "").encode("latin-1")
    except UnicodeEncodeError as error:  # never a character silently turned into another
        raise ValueError(f"halvex32: {value!r} has characters a receiver cannot keep (8-bit text only)") from error
    units = (ctypes.c_uint16 * max(len(data), 1))(*data)
    return SysAllocStringLen(units, len(data))


def bstr_bytes(data):
    return SysAllocStringByteLen(data, len(data))


class HostArray:
    """A SAFEARRAY of host records for an upload, freed with its strings."""

    def __init__(self, element, count, strings):
        self.element, self.count, self.strings = element, count, strings
        self.array = ctypes.POINTER(SafeArray)()
        if SafeArrayAllocDescriptor(1, ctypes.byref(self.array)) != 0:
            raise MemoryError("halvex32: no memory for a host array")
        self.array.contents.cbElements = ctypes.sizeof(element)
        self.array.contents.rgsabound[0].cElements = count
        if SafeArrayAllocData(self.array) != 0:
            SafeArrayDestroyDescriptor(self.array)
            raise MemoryError("halvex32: no memory for a host array")
        ctypes.memset(self.array.contents.pvData, 0, ctypes.sizeof(element) * count)
        self.elements = (element * count).from_address(self.array.contents.pvData) if count else []

    def reference(self):
        return ctypes.byref(self.array)

    def free(self):
        for element in self.elements:
            for name in self.strings:
                SysFreeString(getattr(element, name))
        SafeArrayDestroyData(self.array)
        SafeArrayDestroyDescriptor(self.array)


def elements(array_reference, element):
    """The elements of a library's array handed to a callback (none for a null array)."""
    if not array_reference or not array_reference[0]:
        return None
    array = array_reference[0].contents
    count = array.rgsabound[0].cElements
    return (element * count).from_address(array.pvData) if count else []
