"""halvex32: a GPS receiver on a serial line, from Python.

    import halvex32
    with halvex32.open("/dev/ttyUSB0") as rx:
        print(rx.identify().description)
        for waypoint in rx.waypoints():
            print(waypoint.ident, waypoint.latitude, waypoint.longitude)

Every call blocks until the receiver has answered (timeout= bounds it);
failures are exceptions (halvex32.Error and its subclasses)."""

from ._errors import (Busy, DeviceLost, Error, NoAnswer, NoDevice, NotReady, NotSerial, NotSupported,
                      PermissionDenied, PortInUse, RecordsMissing, Refused)
from ._receiver import Receiver, open
from ._records import Clock, Position, Product, Route, TrackPoint, Waypoint
from ._simulator import Simulator

__all__ = ["open", "Receiver", "Simulator", "Product", "Waypoint", "Route", "TrackPoint", "Position", "Clock",
           "Error", "NoDevice", "PermissionDenied", "PortInUse", "NotSerial", "NotReady", "Busy", "NotSupported",
           "RecordsMissing", "Refused", "NoAnswer", "DeviceLost"]
