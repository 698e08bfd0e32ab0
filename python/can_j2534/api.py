"""A ctypes binding of the fourteen J2534 functions of a library loaded by path.

A library declares its J2534 integers in one of two ways: 32 bits each (``uint32_t``; a
PASSTHRU_MSG is then 4152 bytes), or the C ``unsigned long``, which is 8 bytes on 64-bit Linux
(a PASSTHRU_MSG of 4176 bytes, 16-byte SCONFIG and SCONFIG_LIST records, and every integer
argument, out-parameter and return value 8 bytes wide). Where ``unsigned long`` is 4 bytes
(Windows, 32-bit systems) the two are one. A Binding holds the records and function prototypes
for one integer type; pointers stay native, and on Windows the functions are stdcall.

PassThruLibrary calls with 32-bit integers until its first successful PassThruOpen, which
learns the library's width: the device ID goes into an 8-byte slot whose upper half holds a
marker. A 32-bit library writes the lower half only, so the marker stays; an unsigned-long
library writes all eight bytes, and as device IDs fit in 32 bits the upper half becomes 0.
From then on every call, record and out-parameter has the library's width.

Each method raises the error class it is given, with the status name and the library's
PassThruGetLastError text, when a call does not return STATUS_NOERROR, except the statuses it
is told to accept.
"""

import ctypes
import sys
from typing import Any, Callable, Collection, Dict, Iterable, List, Optional, Tuple, Type

from . import constants as c
from .errors import J2534Error, J2534OperationError, J2534WidthError

# The bytes a PASSTHRU_MSG carries.
DATA_BYTES = 4128

# The upper half of the 8-byte slot the first open writes its device ID into (little-endian:
# the half a 32-bit library leaves alone).
WIDTH_MARKER = 0xA5C3A5C3 << 32
UPPER_HALF = 0xFFFFFFFF << 32
LOWER_HALF = 0xFFFFFFFF


def load_library(path: str) -> ctypes.CDLL:
    """The library at path, with the calling convention of the platform (stdcall on Windows)."""
    if sys.platform == "win32":
        return ctypes.WinDLL(path)  # type: ignore[attr-defined]
    return ctypes.CDLL(path)


def function_type() -> Callable[..., Any]:
    """The ctypes prototype factory for the platform's calling convention."""
    if sys.platform == "win32":
        return ctypes.WINFUNCTYPE  # type: ignore[attr-defined]
    return ctypes.CFUNCTYPE


def record(name: str, fields: List[Tuple[str, Any]]) -> Type[ctypes.Structure]:
    """A ctypes Structure class with the given fields."""
    return type(name, (ctypes.Structure,), {"_fields_": fields})


class Binding:  # pylint: disable=invalid-name
    """The J2534 records and the prototypes of the fourteen functions for one integer type.

    :param integer: the ctypes type of every J2534 integer (``c_uint32`` or ``c_ulong``).
    :param width: how the width is named to users ("32 bits", "unsigned long").
    """

    def __init__(self, integer: Type[Any], width: str) -> None:
        self.integer = integer
        self.width = width
        names = ("ProtocolID", "RxStatus", "TxFlags", "Timestamp", "DataSize", "ExtraDataIndex")
        self.PASSTHRU_MSG = record(
            "PASSTHRU_MSG", [(n, integer) for n in names] + [("Data", ctypes.c_ubyte * DATA_BYTES)]
        )
        self.SCONFIG = record("SCONFIG", [("Parameter", integer), ("Value", integer)])
        self.SCONFIG_LIST = record(
            "SCONFIG_LIST", [("NumOfParams", integer), ("ConfigPtr", ctypes.POINTER(self.SCONFIG))]
        )

    def __repr__(self) -> str:
        return f"Binding({self.width})"

    def prototypes(self) -> Tuple[Tuple[str, Tuple[Any, ...]], ...]:
        """Name and argument types of each function; each returns a status of this width."""
        num, pnum = self.integer, ctypes.POINTER(self.integer)
        pmsg = ctypes.POINTER(self.PASSTHRU_MSG)
        text = ctypes.c_char_p
        return (
            ("PassThruOpen", (ctypes.c_void_p, pnum)),
            ("PassThruClose", (num,)),
            ("PassThruConnect", (num, num, num, num, pnum)),
            ("PassThruDisconnect", (num,)),
            ("PassThruReadMsgs", (num, pmsg, pnum, num)),
            ("PassThruWriteMsgs", (num, pmsg, pnum, num)),
            ("PassThruStartPeriodicMsg", (num, pmsg, pnum, num)),
            ("PassThruStopPeriodicMsg", (num, num)),
            ("PassThruStartMsgFilter", (num, num, pmsg, pmsg, pmsg, pnum)),
            ("PassThruStopMsgFilter", (num, num)),
            ("PassThruSetProgrammingVoltage", (num, num, num)),
            ("PassThruReadVersion", (num, text, text, text)),
            ("PassThruGetLastError", (text,)),
            ("PassThruIoctl", (num, num, ctypes.c_void_p, ctypes.c_void_p)),
        )

    def functions(self, dll: ctypes.CDLL) -> Dict[str, Callable[..., int]]:
        """The fourteen functions of dll, called with this binding's integers."""
        prototype = function_type()
        return {
            name: prototype(self.integer, *argtypes)((name, dll))
            for name, argtypes in self.prototypes()
        }

    def message(self, protocol: int, data: bytes, tx_flags: int = 0) -> ctypes.Structure:
        """A PASSTHRU_MSG carrying data (the identifier bytes first, for CAN)."""
        msg = self.PASSTHRU_MSG()
        msg.ProtocolID = protocol
        msg.TxFlags = tx_flags
        msg.DataSize = len(data)
        msg.ExtraDataIndex = len(data)
        ctypes.memmove(msg.Data, data, len(data))
        return msg


BITS32 = Binding(ctypes.c_uint32, "32 bits")
# Where unsigned long is 4 bytes it is the 32-bit binding: nothing to tell apart.
UNSIGNED_LONG = (
    BITS32 if ctypes.sizeof(ctypes.c_ulong) == 4 else Binding(ctypes.c_ulong, "unsigned long")
)


def binding_for_probe(written: int) -> Binding:
    """The binding of a library that wrote its device ID into the probe slot, which held
    WIDTH_MARKER before; J2534WidthError when the upper half tells neither width."""
    upper = written & UPPER_HALF
    if upper == WIDTH_MARKER:
        return BITS32
    if upper == 0:
        return UNSIGNED_LONG
    raise J2534WidthError("PassThruOpen", written)


def open_with_probe(dll: ctypes.CDLL) -> Callable[..., int]:
    """PassThruOpen of either width, with an 8-byte device ID slot. The status is the lower
    half of either kind of return value, the whole of a small one."""
    prototype = function_type()(ctypes.c_uint32, ctypes.c_void_p, ctypes.POINTER(ctypes.c_uint64))
    return prototype(("PassThruOpen", dll))


def payload(msg: ctypes.Structure) -> bytes:
    """The bytes a message carries."""
    return bytes(msg.Data[: min(msg.DataSize, len(msg.Data))])


class PassThruLibrary:
    """The fourteen functions of one loaded library, with status checks, in its width."""

    def __init__(self, path: str) -> None:
        self.path = path
        self._dll = load_library(path)
        self._width_known = UNSIGNED_LONG is BITS32
        self._probing_open = open_with_probe(self._dll)
        self._binding = BITS32
        self._functions = BITS32.functions(self._dll)

    @property
    def binding(self) -> Binding:
        """The records and prototypes calls use: 32 bits until an open has learnt the width."""
        return self._binding

    @property
    def integer_width(self) -> Optional[str]:
        """The width of the library's integers ("32 bits", "unsigned long"); None until an
        open has learnt it."""
        return self._binding.width if self._width_known else None

    def _use(self, binding: Binding) -> None:
        if binding is not self._binding:
            self._functions = binding.functions(self._dll)
            self._binding = binding
        self._width_known = True

    def _call(self, name: str, *args, **kw) -> int:
        return self._check(name, self._functions[name](*args), **kw)

    def _check(
        self,
        name: str,
        status: int,
        error: Type[J2534Error] = J2534OperationError,
        accept: Collection[int] = (),
    ) -> int:
        if status != c.STATUS_NOERROR and status not in accept:
            raise error(name, status, self.get_last_error())  # type: ignore[call-arg]
        return status

    def get_last_error(self) -> str:
        text = ctypes.create_string_buffer(80)
        if self._functions["PassThruGetLastError"](text) != c.STATUS_NOERROR:
            return ""
        return text.value.decode("ascii", "replace")

    def new_integer(self, value: int = 0) -> Any:
        """An integer of the library's width, for an out-parameter or an IOCTL's data."""
        return self._binding.integer(value)

    def message(self, protocol: int, data: bytes, tx_flags: int = 0) -> ctypes.Structure:
        """A PASSTHRU_MSG of the library's width carrying data."""
        return self._binding.message(protocol, data, tx_flags)

    def open(self, name: Optional[str] = None, **kw) -> int:
        encoded = name.encode() if name is not None else None
        if not self._width_known:
            return self._open_learning_width(encoded, **kw)
        device = self.new_integer()
        self._call("PassThruOpen", encoded, ctypes.byref(device), **kw)
        return device.value

    def _open_learning_width(self, encoded: Optional[bytes], **kw) -> int:
        """Opens the device through the width probe and takes up the width it shows. A device
        whose width cannot be told is left open: its ID is not known to close it with."""
        slot = ctypes.c_uint64(WIDTH_MARKER)
        self._check("PassThruOpen", self._probing_open(encoded, ctypes.byref(slot)), **kw)
        self._use(binding_for_probe(slot.value))
        return slot.value & LOWER_HALF

    def close(self, device: int, **kw) -> None:
        self._call("PassThruClose", device, **kw)

    def connect(self, device: int, protocol: int, flags: int, baud: int, **kw) -> int:
        channel = self.new_integer()
        self._call("PassThruConnect", device, protocol, flags, baud, ctypes.byref(channel), **kw)
        return channel.value

    def disconnect(self, channel: int, **kw) -> None:
        self._call("PassThruDisconnect", channel, **kw)

    def message_buffer(self, count: int) -> ctypes.Array:
        """An array of count PASSTHRU_MSGs of the library's width, for read_msgs."""
        return (self._binding.PASSTHRU_MSG * count)()

    def read_msgs(self, channel: int, buffer, count: int, timeout_ms: int) -> Tuple[int, int]:
        """Reads up to count messages into buffer (from message_buffer); the status and how
        many came."""
        num = self.new_integer(count)
        accept = (c.ERR_BUFFER_EMPTY, c.ERR_TIMEOUT, c.ERR_BUFFER_OVERFLOW)
        status = self._call("PassThruReadMsgs", channel, buffer, ctypes.byref(num), timeout_ms,
                            accept=accept)
        return status, num.value

    def write_msgs(self, channel: int, msgs: Iterable[ctypes.Structure], timeout_ms: int) -> int:
        """Writes messages (made by message); how many the library took."""
        items = list(msgs)
        array = (self._binding.PASSTHRU_MSG * len(items))(*items)
        num = self.new_integer(len(items))
        self._call("PassThruWriteMsgs", channel, array, ctypes.byref(num), timeout_ms)
        return num.value

    def start_periodic_msg(self, channel: int, msg: ctypes.Structure, interval_ms: int) -> int:
        msg_id = self.new_integer()
        self._call("PassThruStartPeriodicMsg", channel, ctypes.byref(msg), ctypes.byref(msg_id),
                   interval_ms)
        return msg_id.value

    def stop_periodic_msg(self, channel: int, msg_id: int) -> None:
        self._call("PassThruStopPeriodicMsg", channel, msg_id)

    def start_msg_filter(
        self,
        channel: int,
        filter_type: int,
        mask: ctypes.Structure,
        pattern: ctypes.Structure,
        flow_control: Optional[ctypes.Structure] = None,
    ) -> int:
        filter_id = self.new_integer()
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
        """An IOCTL; integers it reads or writes must come from new_integer."""
        self._call("PassThruIoctl", channel, ioctl_id, data_in, data_out, **kw)

    def get_config(self, channel: int, parameters: Iterable[int]) -> List[int]:
        """The values of configuration parameters of a channel, in the order asked."""
        params = list(parameters)
        array = self._config_array((p, 0) for p in params)
        config = self._binding.SCONFIG_LIST(len(params), array)
        self.ioctl(channel, c.GET_CONFIG, ctypes.byref(config))
        return [entry.Value for entry in array]

    def set_config(self, channel: int, values: Iterable[Tuple[int, int]], **kw) -> None:
        """Sets configuration parameters of a channel: (parameter, value) pairs."""
        array = self._config_array(values)
        config = self._binding.SCONFIG_LIST(len(array), array)
        self.ioctl(channel, c.SET_CONFIG, ctypes.byref(config), **kw)

    def _config_array(self, pairs: Iterable[Tuple[int, int]]) -> ctypes.Array:
        entries = [self._binding.SCONFIG(p, v) for p, v in pairs]
        return (self._binding.SCONFIG * len(entries))(*entries)

    def get_term_resistor(self, channel: int) -> int:
        """The state of the device's termination resistor (1 on, 2 off)."""
        state = self.new_integer()
        self.ioctl(channel, c.GET_TERM_RESISTOR, None, ctypes.byref(state))
        return state.value
