"""Exceptions for failed J2534 calls, as python-can's error classes."""

from can import CanError, CanInitializationError, CanOperationError

from .constants import status_name


def describe(function: str, status: int, last_error: str) -> str:
    """One line: the call, the status name and the library's own text when it tells more."""
    name = status_name(status)
    text = f"{function} failed: {name}"
    return f"{text} ({last_error})" if last_error and last_error != name else text


class J2534Error(CanError):
    """What a failed call reported; the base of the two error classes below."""

    function: str = ""
    status: int = 0
    last_error: str = ""

    def _remember(self, function: str, status: int, last_error: str) -> None:
        self.function = function
        self.status = status
        self.last_error = last_error

    @property
    def status_name(self) -> str:
        return status_name(self.status)


class J2534InitializationError(J2534Error, CanInitializationError):
    """A call that sets the bus up failed: the library, the device or the channel."""

    def __init__(self, function: str, status: int, last_error: str = "") -> None:
        CanInitializationError.__init__(self, describe(function, status, last_error), status)
        self._remember(function, status, last_error)


class J2534OperationError(J2534Error, CanOperationError):
    """A call on an open bus failed."""

    def __init__(self, function: str, status: int, last_error: str = "") -> None:
        CanOperationError.__init__(self, describe(function, status, last_error), status)
        self._remember(function, status, last_error)


class J2534WidthError(J2534InitializationError):
    """The library's integer width could not be told from the device ID its PassThruOpen wrote
    into the width probe's 8-byte slot: the upper half was neither the marker a 32-bit library
    leaves alone nor the 0 an unsigned-long one writes."""

    def __init__(self, function: str, written: int) -> None:
        text = (f"the library's integer width could not be told: {function} wrote 0x{written:016X}"
                " into an 8-byte device ID (neither 32 bits nor unsigned long)")
        CanInitializationError.__init__(self, text)
        self._remember(function, 0, text)
