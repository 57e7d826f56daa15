"""A receiver on a serial port, through the library's exports: blocking
calls and iterators over operations whose results come back on the
library's dispatch thread, handed over here through a queue."""

import ctypes
import math
import queue
import threading
import time as _time

from . import _native as n
from ._errors import Error, error_for
from ._records import (Clock, Position, Product, Route, TrackPoint, Waypoint, datetime_from_ole, given,
                       ole_from_datetime)

# Callback objects the library may still call: kept here until their
# operation's last call has come (or for good, for an operation cut off).
_alive = {}
_alive_lock = threading.Lock()
_POLL = 0.1  # seconds between looks for Ctrl-C while waiting
_STOP_DOWNLOAD = 0


def _keep(callback):
    with _alive_lock:
        _alive[id(callback)] = callback
    return callback


def _release(callback):
    with _alive_lock:
        _alive.pop(id(callback), None)


def _once(kind, results, answer):
    """A callback of the kind whose answer(*arguments) goes to results; None
    is no answer yet. After its answer the library calls it no more, and it
    is let go."""
    def call(*arguments):
        outcome = answer(*arguments)
        if outcome is not None:
            results.put(outcome)
            _release(made)
    made = kind(call)
    return made


def _failure():
    """Why the operation ended, read on the library's thread in its callback."""
    return (False, n.HalvexGetLastError() or 1460)


def _waypoint(e):
    return Waypoint(ident=n.text(e.ident), latitude=e.latitude, longitude=e.longitude, comment=n.text(e.comment),
                    altitude=given(e.altitude), depth=given(e.depth), proximity=given(e.proximity),
                    time=datetime_from_ole(e.time), temperature=given(e.temperature), symbol=given(e.symbol),
                    display=given(e.display), colour=given(e.colour), category=given(e.category),
                    waypoint_class=given(e.wptClass), facility=n.text(e.facility), city=n.text(e.city),
                    address=n.text(e.address), cross_road=n.text(e.crossRoad))


def _fill_waypoint(e, w):
    def number(value):
        return -1 if value is None else value

    def measure(value):
        return math.nan if value is None else float(value)

    e.latitude, e.longitude = w.latitude, w.longitude
    e.altitude, e.depth, e.proximity = measure(w.altitude), measure(w.depth), measure(w.proximity)
    e.time, e.temperature = ole_from_datetime(w.time), measure(w.temperature)
    e.symbol, e.display, e.colour = number(w.symbol), number(w.display), number(w.colour)
    e.category, e.wptClass = number(w.category), number(w.waypoint_class)
    e.ident, e.comment = n.bstr(w.ident), n.bstr(w.comment)
    e.facility, e.city, e.address, e.crossRoad = (n.bstr(w.facility), n.bstr(w.city), n.bstr(w.address),
                                                   n.bstr(w.cross_road))


_WAYPOINT_STRINGS = ("ident", "comment", "facility", "city", "address", "crossRoad")


def _track_point(p):
    return TrackPoint(latitude=p.latitude, longitude=p.longitude, time=datetime_from_ole(p.time),
                      altitude=given(p.altitude), depth=given(p.depth), temperature=given(p.temperature),
                      new_segment=bool(p.newTrack), track_name=n.text(p.trackName) if p.trackStart else None)


def _position(p):
    def bit(mask, value):
        return value if p.given & mask else None

    return Position(time=datetime_from_ole(p.time) if p.given & 1 else None, latitude=bit(2, p.latitude),
                    longitude=bit(2, p.longitude), altitude=bit(4, p.altitude), speed=bit(8, p.speed),
                    course=bit(16, p.course), climb=bit(32, p.climb), eph=bit(64, p.eph), epv=bit(128, p.epv),
                    fix_mode=bit(256, p.fixMode), satellites=bit(512, p.satellites))


class Receiver:
    """An open port. Closing it (or leaving its with block) closes the port."""

    def __init__(self, port, baud=9600):
        self.port = port
        self._lock = threading.RLock()  # one operation at a time from this object; a loop may call in (Busy)
        self._lost = threading.Event()  # the device went away, and the library closed the session
        lost = self._lost

        def line_event(code, value):
            if code == 2:
                lost.set()
        self._line_events = _keep(n.PortCallback(line_event))
        holder = ctypes.c_void_p(ctypes.cast(self._line_events, ctypes.c_void_p).value)
        self._session = n.OpenCommPortEx(port.encode(), baud, ctypes.byref(holder))
        if not self._session:
            _release(self._line_events)
            raise error_for(n.HalvexGetLastError(), f"cannot open {port}")

    # -- the port --------------------------------------------------------

    def close(self):
        session, self._session = getattr(self, "_session", None), None
        if session:
            n.CloseCommPort(session)
            _release(self._line_events)

    def __enter__(self):
        return self

    def __exit__(self, *exception):
        self.close()

    def __del__(self):
        try:
            self.close()
        except Exception:  # the interpreter may be going away, modules and all
            pass

    @property
    def closed(self):
        return self._session is None

    def _live(self):
        if not self._session:
            raise Error(6, f"{self.port}: the port is closed")
        return self._session

    # -- waiting ---------------------------------------------------------

    def _wait(self, results, timeout, what):
        """The next result, waiting no longer than timeout. Ctrl-C or the time
        running out closes the port (nothing of the operation is left to
        call back into this object) and is raised."""
        deadline = None if timeout is None else _time.monotonic() + timeout
        try:
            while True:
                left = _POLL if deadline is None else min(_POLL, deadline - _time.monotonic())
                if left <= 0:
                    raise TimeoutError(f"halvex32: the {what} did not end within {timeout} s")
                try:
                    return results.get(timeout=left)
                except queue.Empty:
                    continue
        except BaseException:
            self.close()
            raise

    def _start(self, started, what):
        if not started:
            code = 1167 if self._lost.is_set() else n.HalvexGetLastError()
            raise error_for(code, f"{self.port}: {what} refused")

    def _run(self, what, start, kind, answer, timeout):
        """Starts an operation whose callback answers (ok, value) once, and waits for it."""
        with self._lock:
            session = self._live()
            results = queue.Queue()
            holder = ctypes.c_void_p(ctypes.cast(_keep(_once(kind, results, answer)), ctypes.c_void_p).value)
            self._start(start(session, ctypes.byref(holder)), what)
            ok, value = self._wait(results, timeout, what)
            if not ok:
                # The lost line is reported right after the operation's end.
                if self._lost.wait(0.25):
                    value = 1167
                raise error_for(value, f"{self.port}: {what}")
            return value

    # -- identification --------------------------------------------------

    def identify(self, timeout=None):
        """The receiver's product data and what the library speaks to it."""
        def answer(code, value, record):
            if code == 1:  # a line error: the request goes on
                return None
            if code != 0:
                return _failure()
            r = record.contents
            return (True, (r.productId & 0xFFFF, r.softwareVersion, n.text(r.description)))

        product_id, version, description = self._run("identification", n.HalvexGetProductInfoInit,
                                                     n.ProductCallback, answer, timeout)
        info = n.HostReceiverInfo()
        product = Product(id=product_id, software_version=version, description=description)
        if n.HalvexGetReceiverInfo(self._live(), ctypes.byref(info)):
            product.waypoint_type, product.route_header_type = info.waypointType, info.routeHeaderType
            product.route_link_type, product.track_header_type = info.routeLinkType, info.trackHeaderType
            product.track_point_type = info.trackPointType
            product.ident_width, product.comment_width = info.identWidth, info.commentWidth
            product.protocols = info.protocols.decode("latin-1").split()
        return product

    # -- waypoints and routes --------------------------------------------

    def _upload(self, what, start, timeout):
        self._run(what, start, n.UploadCallback,
                  lambda status, zero: (True, None) if status == 0 else _failure(), timeout)

    def waypoints(self, timeout=None):
        """Every waypoint the receiver holds."""
        def answer(zero, value, array):
            records = n.elements(array, n.HostWaypointEx)
            return _failure() if records is None else (True, [_waypoint(e) for e in records])
        return self._run("waypoint download", n.HalvexDownloadWayPtExInit, n.WaypointCallback, answer, timeout)

    def put_waypoints(self, waypoints, timeout=None):
        waypoints = list(waypoints)
        array = n.HostArray(n.HostWaypointEx, len(waypoints), _WAYPOINT_STRINGS)
        try:
            for element, waypoint in zip(array.elements, waypoints):
                _fill_waypoint(element, waypoint)
            self._upload("waypoint upload",
                         lambda session, callback: n.HalvexUploadWayPtExInit(session, array.reference(), callback),
                         timeout)
        finally:
            array.free()

    def routes(self, timeout=None):
        """Every route the receiver holds, each with its waypoints."""
        def answer(status, value, routes, points):
            headers, waypoints = n.elements(routes, n.HostRoute), n.elements(points, n.HostWaypointEx)
            if status != 0 or headers is None or waypoints is None:
                return _failure()
            out = []
            for h in headers:
                first, count = h.firstWaypoint, h.waypointCount & 0xFFFF
                out.append(Route(waypoints=[_waypoint(waypoints[i]) for i in range(first, first + count)],
                                 number=None if h.number < 0 else h.number, name=n.text(h.ident),
                                 comment=n.text(h.comment)))
            return (True, out)
        return self._run("route download", n.HalvexDownloadRouteExInit, n.RouteCallback, answer, timeout)

    def put_routes(self, routes, timeout=None):
        routes = list(routes)
        points = [w for route in routes for w in route.waypoints]
        headers = n.HostArray(n.HostRoute, len(routes), ("comment", "ident"))
        array = n.HostArray(n.HostWaypointEx, len(points), _WAYPOINT_STRINGS)
        try:
            # A route without a number gets the lowest free from 1, as the
            # tool gives it: never 0, which many receivers keep as the active route.
            taken = {route.number for route in routes if route.number is not None}
            free = (number for number in range(1, 65536) if number not in taken)
            first = 0
            for element, route in zip(headers.elements, routes):
                element.firstWaypoint, element.waypointCount = first, len(route.waypoints)
                element.number = route.number if route.number is not None else next(free)
                element.comment, element.ident = n.bstr(route.comment), n.bstr(route.name)
                first += len(route.waypoints)
            for element, waypoint in zip(array.elements, points):
                _fill_waypoint(element, waypoint)
            self._upload("route upload", lambda session, callback: n.HalvexUploadRouteExInit(
                session, headers.reference(), array.reference(), callback), timeout)
        finally:
            headers.free()
            array.free()

    # -- tracks ----------------------------------------------------------

    def track(self, progress=None, timeout=None):
        """The track log, point by point. Leaving the loop early stops the
        download; a download that fails raises at its end, never passing a
        part for the whole."""
        with self._lock:
            session = self._live()
            results = queue.Queue()
            stop = threading.Event()

            def call(zero, value, point):
                if value == -1:
                    results.put(("end", n.HalvexGetLastError()))
                    _release(made)
                    return 0
                if stop.is_set():
                    results.put(("stopped", None))
                    _release(made)
                    return _STOP_DOWNLOAD
                results.put(("point", (value, _track_point(point.contents))))
                return -1

            made = _keep(n.TrackCallback(call))
            holder = ctypes.c_void_p(ctypes.cast(made, ctypes.c_void_p).value)
            self._start(n.HalvexDownloadTrackExInit(session, ctypes.byref(holder)), "track download")
            received = 0
            ended = False
            try:
                while True:
                    kind, value = self._wait(results, timeout, "track download")
                    if kind == "end":
                        ended = True
                        if value:
                            raise error_for(value, f"{self.port}: track download ({received} points)")
                        return
                    announced, point = value
                    received += 1
                    if progress:
                        progress(received, announced)
                    yield point
            finally:
                if not ended and not self.closed:
                    # Stopped early: the next point is answered with "stop".
                    stop.set()
                    try:
                        self._wait(results, 15, "track download's end")
                    except TimeoutError:
                        pass

    def put_track(self, points, timeout=None):
        """Uploads the points; a point with a track_name starts a track under it."""
        points = list(points)
        array = n.HostArray(n.HostTrackPointEx, len(points), ("trackName",))
        try:
            for element, p in zip(array.elements, points):
                element.time = ole_from_datetime(p.time)
                element.latitude, element.longitude = p.latitude, p.longitude
                element.altitude = math.nan if p.altitude is None else p.altitude
                element.depth = math.nan if p.depth is None else p.depth
                element.temperature = math.nan if p.temperature is None else p.temperature
                element.newTrack = 1 if p.new_segment else 0
                element.trackStart = 1 if p.track_name is not None else 0
                element.trackColour = element.trackDisplay = -1
                element.trackName = n.bstr(p.track_name or "")
            self._upload("track upload", lambda session, callback: n.HalvexUploadTrackExInit(
                session, array.reference(), callback), timeout)
        finally:
            array.free()

    # -- live data -------------------------------------------------------

    def _stream(self, what, start, stop, make, timeout):
        """Items from a callback that runs until stopped."""
        with self._lock:
            session = self._live()
            results = queue.Queue()
            made = _keep(make(results))
            holder = ctypes.c_void_p(ctypes.cast(made, ctypes.c_void_p).value)
            self._start(start(session, ctypes.byref(holder)), what)
            try:
                while True:
                    yield self._wait(results, timeout, what)
            finally:
                if not self.closed:
                    stop(session)
                    _release(made)

    def positions(self, timeout=None):
        """Fixes as they come, in binary mode (identified first) or in NMEA mode."""
        def make(results):
            return n.PositionCallback(lambda code, fix: results.put(_position(fix.contents)))
        return self._stream("live position", n.HalvexStartPosition, n.HalvexStopPosition, make, timeout)

    def nmea(self, timeout=None):
        """NMEA mode: the sentences as they come."""
        def make(results):
            def call(code, value, sentence):
                if code == 0 and sentence and sentence[0]:
                    results.put(n.text(sentence[0]))
                return -1
            return n.NmeaCallback(call)
        return self._stream("NMEA mode", lambda session, callback: n.StartNMEA(session, None, callback), n.StopNMEA,
                            make, timeout)

    def send_nmea(self, sentence):
        """Sends a sentence as it is, with CR LF."""
        text = n.bstr_bytes(sentence.encode("latin-1"))
        try:
            if n.SendNMEA(self._live(), ctypes.byref(ctypes.c_void_p(text))) == 0:
                raise error_for(n.HalvexGetLastError(), f"{self.port}: NMEA sentence not sent")
        finally:
            n.SysFreeString(text)

    def time(self, timeout=None):
        """The receiver's clock beside this computer's."""
        def answer(code, clock):
            if code != 0:
                return _failure()
            c = clock.contents
            return (True, Clock(datetime_from_ole(c.receiverTime), datetime_from_ole(c.hostTime), c.weeksBehind))
        return self._run("clock request", n.HalvexGetTimeInit, n.TimeCallback, answer, timeout)

def open(port, baud=9600):  # noqa: A001 - the package's verb, as in the README
    """Opens the port; use it in a with block, or close() it."""
    return Receiver(port, baud)
