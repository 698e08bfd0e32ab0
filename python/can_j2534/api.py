"""A ctypes binding of the fourteen J2534 functions of a library loaded by path.

Every J2534 integer is 32 bits wide (``unsigned long`` on Windows, ``uint32_t`` elsewhere), so
a PASSTHRU_MSG is 4152 bytes on every platform; pointers stay native. Each method raises the
error class it is given, with the status name and the library's PassThruGetLastError text,
when a call does not return STATUS_NOERROR, except the statuses it is told to accept.
"""

import ctypes
import sys
from typing import Collection, Iterable, List, Optional, Tuple, Type

from . import constants as c
from .errors import J2534Error, J2534OperationError

U32 = ctypes.c_uint32
PU32 = ctypes.POINTER(U32)


class PASSTHRU_MSG(ctypes.Structure):  # pylint: disable=invalid-name,too-few-public-methods
    _fields_ = [
        ("ProtocolID", U32),
        ("RxStatus", U32),
        ("TxFlags", U32),
        ("Timestamp", U32),
        ("DataSize", U32),
        ("ExtraDataIndex", U32),
        ("Data", ctypes.c_ubyte * 4128),
    ]


class SCONFIG(ctypes.Structure):  # pylint: disable=invalid-name,too-few-public-methods
    _fields_ = [("Parameter", U32), ("Value", U32)]


class SCONFIG_LIST(ctypes.Structure):  # pylint: disable=invalid-name,too-few-public-methods
    _fields_ = [("NumOfParams", U32), ("ConfigPtr", ctypes.POINTER(SCONFIG))]


PMSG = ctypes.POINTER(PASSTHRU_MSG)

# Name, argument types. Every function returns a 32-bit status.
_PROTOTYPES = (
    ("PassThruOpen", (ctypes.c_void_p, PU32)),
    ("PassThruClose", (U32,)),
    ("PassThruConnect", (U32, U32, U32, U32, PU32)),
    ("PassThruDisconnect", (U32,)),
    ("PassThruReadMsgs", (U32, PMSG, PU32, U32)),
    ("PassThruWriteMsgs", (U32, PMSG, PU32, U32)),
    ("PassThruStartPeriodicMsg", (U32, PMSG, PU32, U32)),
    ("PassThruStopPeriodicMsg", (U32, U32)),
    ("PassThruStartMsgFilter", (U32, U32, PMSG, PMSG, PMSG, PU32)),
    ("PassThruStopMsgFilter", (U32, U32)),
    ("PassThruSetProgrammingVoltage", (U32, U32, U32)),
    ("PassThruReadVersion", (U32, ctypes.c_char_p, ctypes.c_char_p, ctypes.c_char_p)),
    ("PassThruGetLastError", (ctypes.c_char_p,)),
    ("PassThruIoctl", (U32, U32, ctypes.c_void_p, ctypes.c_void_p)),
)


def load_library(path: str) -> ctypes.CDLL:
    """The library at path, with the calling convention of the platform (stdcall on Windows)."""
    if sys.platform == "win32":
        return ctypes.WinDLL(path)  # type: ignore[attr-defined]
    return ctypes.CDLL(path)


def message(protocol: int, data: bytes, tx_flags: int = 0) -> PASSTHRU_MSG:
    """A PASSTHRU_MSG carrying data (the identifier bytes first, for CAN)."""
    msg = PASSTHRU_MSG()
    msg.ProtocolID = protocol
    msg.TxFlags = tx_flags
    msg.DataSize = len(data)
    msg.ExtraDataIndex = len(data)
    ctypes.memmove(msg.Data, data, len(data))
    return msg


def payload(msg: PASSTHRU_MSG) -> bytes:
    """The bytes a message carries."""
    return bytes(msg.Data[: min(msg.DataSize, len(msg.Data))])


class PassThruLibrary:
    """The fourteen functions of one loaded library, with status checks."""

    def __init__(self, path: str) -> None:
        self.path = path
        self._dll = load_library(path)
        self._functions = {}
        for name, argtypes in _PROTOTYPES:
            function = getattr(self._dll, name)
            function.argtypes = argtypes
            function.restype = U32
            self._functions[name] = function

    def _call(
        self,
        name: str,
        *args,
        error: Type[J2534Error] = J2534OperationError,
        accept: Collection[int] = (),
    ) -> int:
        status = self._functions[name](*args)
        if status != c.STATUS_NOERROR and status not in accept:
            raise error(name, status, self.get_last_error())  # type: ignore[call-arg]
        return status

    def get_last_error(self) -> str:
        text = ctypes.create_string_buffer(80)
        if self._functions["PassThruGetLastError"](text) != c.STATUS_NOERROR:
            return ""
        return text.value.decode("ascii", "replace")

    def open(self, name: Optional[str] = None, **kw) -> int:
        device = U32()
        encoded = name.encode() if name is not None else None
        self._call("PassThruOpen", encoded, ctypes.byref(device), **kw)
        return device.value

    def close(self, device: int, **kw) -> None:
        self._call("PassThruClose", device, **kw)

    def connect(self, device: int, protocol: int, flags: int, baud: int, **kw) -> int:
        channel = U32()
        self._call("PassThruConnect", device, protocol, flags, baud, ctypes.byref(channel), **kw)
        return channel.value

    def disconnect(self, channel: int, **kw) -> None:
        self._call("PassThruDisconnect", channel, **kw)

    def read_msgs(self, channel: int, buffer, count: int, timeout_ms: int) -> Tuple[int, int]:
        """Reads up to count messages into buffer (an array); the status and how many came."""
        num = U32(count)
        accept = (c.ERR_BUFFER_EMPTY, c.ERR_TIMEOUT, c.ERR_BUFFER_OVERFLOW)
        status = self._call("PassThruReadMsgs", channel, buffer, ctypes.byref(num), timeout_ms,
                            accept=accept)
        return status, num.value

    def write_msgs(self, channel: int, msgs: Iterable[PASSTHRU_MSG], timeout_ms: int) -> int:
        """Writes messages; how many the library took."""
        items = list(msgs)
        array = (PASSTHRU_MSG * len(items))(*items)
        num = U32(len(items))
        self._call("PassThruWriteMsgs", channel, array, ctypes.byref(num), timeout_ms)
        return num.value

    def start_periodic_msg(self, channel: int, msg: PASSTHRU_MSG, interval_ms: int) -> int:
        msg_id = U32()
        self._call("PassThruStartPeriodicMsg", channel, ctypes.byref(msg), ctypes.byref(msg_id),
                   interval_ms)
        return msg_id.value

    def stop_periodic_msg(self, channel: int, msg_id: int) -> None:
        self._call("PassThruStopPeriodicMsg", channel, msg_id)

    def start_msg_filter(
        self,
        channel: int,
        filter_type: int,
        mask: PASSTHRU_MSG,
        pattern: PASSTHRU_MSG,
        flow_control: Optional[PASSTHRU_MSG] = None,
    ) -> int:
        filter_id = U32()
        flow = ctypes.byref(flow_control) if flow_control is not None else None
        self._call("PassThruStartMsgFilter", channel, filter_type, ctypes.byref(mask),
                   ctypes.byref(pattern), flow, ctypes.byref(filter_id))
        return filter_id.value

    def stop_msg_filter(self, channel: int, filter_id: int) -> None:
        self._call("PassThruStopMsgFilter", channel, filter_id)

    def set_programming_voltage(self, device: int, pin: int, voltage: int) -> None:
        self._call("PassThruSetProgrammingVoltage", device, pin, voltage)

    def read_version(self, device: int, **kw) -> Tuple[str, str, str]:
        """Firmware, library and API versions."""
        texts = [ctypes.create_string_buffer(80) for _ in range(3)]
        self._call("PassThruReadVersion", device, *texts, **kw)
        firmware, library, api = (t.value.decode("ascii", "replace") for t in texts)
        return firmware, library, api

    def ioctl(self, channel: int, ioctl_id: int, data_in=None, data_out=None, **kw) -> None:
        self._call("PassThruIoctl", channel, ioctl_id, data_in, data_out, **kw)

    def get_config(self, channel: int, parameters: Iterable[int]) -> List[int]:
        """The values of configuration parameters of a channel, in the order asked."""
        params = list(parameters)
        array = (SCONFIG * len(params))(*(SCONFIG(p, 0) for p in params))
        config = SCONFIG_LIST(len(params), array)
        self.ioctl(channel, c.GET_CONFIG, ctypes.byref(config))
        return [entry.Value for entry in array]

    def set_config(self, channel: int, values: Iterable[Tuple[int, int]], **kw) -> None:
        """Sets configuration parameters of a channel: (parameter, value) pairs."""
        pairs = list(values)
        array = (SCONFIG * len(pairs))(*(SCONFIG(p, v) for p, v in pairs))
        config = SCONFIG_LIST(len(pairs), array)
        self.ioctl(channel, c.SET_CONFIG, ctypes.byref(config), **kw)
