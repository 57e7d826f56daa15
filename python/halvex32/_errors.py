"""The library's reasons as exceptions: one class for each a user catches,
code holding the library's number, the message the halvex tool prints."""


class Error(Exception):
    """A refusal or failure of the library: code is its number (HalvexGetLastError)."""

    def __init__(self, code, message):
        super().__init__(message)
        self.code = code


class NoDevice(Error):
    pass


class PermissionDenied(Error):
    pass


class PortInUse(Error):
    pass


class NotSerial(Error):
    pass


class NotReady(Error):
    pass


class Busy(Error):
    pass


class NotSupported(Error):
    pass


class RecordsMissing(Error):
    pass


class Refused(Error):
    pass


class NoAnswer(Error):
    pass


class DeviceLost(Error):
    pass


# Code: the class and the one sentence the tool prints for it.
_REASONS = {
    1: (NotSerial, "it is not a serial device"),
    2: (NoDevice, "it does not exist"),
    3: (NoDevice, "it does not exist"),
    5: (PortInUse, "it is in use by another program"),
    6: (Error, "the port is not open"),
    8: (Error, "out of memory"),
    13: (RecordsMissing, "the receiver sent fewer records than it announced: some were lost on the line"),
    21: (NotReady, "the receiver is not identified"),
    23: (Refused, "the receiver rejected a packet on every try (a noisy line?)"),
    50: (NotSupported, "the receiver's data type is not one the library speaks"),
    87: (Error, "the data cannot be sent as it is"),
    170: (Busy, "another operation is running on the port"),
    1167: (DeviceLost, "the receiver was disconnected"),
    1314: (PermissionDenied, "permission denied (is the user in the dialout group?)"),
    1460: (NoAnswer, "the receiver does not answer"),
}


def error_for(code, what=""):
    """The exception for the library's code; what says which operation, or which port."""
    kind, reason = _REASONS.get(code, (Error, f"error {code}"))
    return kind(code, f"{what}: {reason}" if what else reason)
