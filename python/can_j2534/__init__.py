"""A python-can interface for J2534 Pass-Thru libraries: ``can.Bus(interface="j2534", ...)``."""

from .bus import J2534Bus
from .errors import (J2534Error, J2534InitializationError, J2534OperationError,
                     J2534WidthError)

__version__ = "1.0.0"
__all__ = [
    "J2534Bus", "J2534Error", "J2534InitializationError", "J2534OperationError", "J2534WidthError"
]
