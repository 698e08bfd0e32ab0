"""A python-can bus on a CAN channel of any J2534 library."""

import collections
import contextlib
import ctypes
import logging
import math
import threading
import warnings
from typing import Any, Deque, Iterator, List, Optional, Tuple

import can
from can import (CanError, CanInitializationError, CanInterfaceNotImplementedError,
                 CanOperationError)

from . import api
from . import constants as c
from .errors import J2534Error, J2534InitializationError
from .filters import PASS_ALL, PassFilter, pass_filters
from .locate import resolve_library
from .timestamps import TimestampClock

LOG = logging.getLogger("can.j2534")

# Messages taken from the library per read call when some are waiting.
READ_BATCH = 16
# How long one read waits in the library when recv has no timeout: python-can's recv then asks
# again. Shutdown does not wait for it: disconnecting the channel wakes the read.
BLOCKING_READ_MS = 1000
# The longest wait a J2534 call takes, in milliseconds.
LONGEST_WAIT_MS = 0xFFFFFFFF
# How long shutdown waits, after disconnecting, for calls other threads have under way (a read
# is woken by the disconnect, a write bounded by its timeout); this only keeps a hung library
# from hanging shutdown too, which then goes ahead and lets the library refuse the late call.
SHUTDOWN_GRACE_S = 5.0
# The channel name messages carry, as the candump-style log format shows it.
MESSAGE_CHANNEL = "j2534"


class J2534Bus(can.BusABC):
    """A CAN channel of a J2534 library, 11-bit and 29-bit identifiers both.

    :param channel: the library, when ``library`` is not given (so that ``-c PATH`` works with
        python-can's command-line tools).
    :param library: the library's path; on Windows also the name of a registered device.
    :param bitrate: the bus's bit rate.
    :param receive_own_messages: turn loopback on: messages sent come back with ``is_rx`` False.
    :param device_name: the name given to PassThruOpen (default none: the library's device).
    :param poll_interval: deprecated and ignored: ``recv(timeout)`` waits in the library, in one
        read, while other threads' calls go on.
    """

    def __init__(  # pylint: disable=too-many-arguments
        self,
        channel: Any = None,
        can_filters: Optional[can.typechecking.CanFilters] = None,
        library: Optional[str] = None,
        bitrate: int = 500000,
        receive_own_messages: bool = False,
        device_name: Optional[str] = None,
        poll_interval: Optional[float] = None,
        **kwargs: Any,
    ) -> None:
        if kwargs.get("fd"):
            raise CanInterfaceNotImplementedError("J2534 CAN channels carry no CAN FD frames")
        self._library_name = library or channel
        if not self._library_name:
            raise CanInitializationError("no J2534 library: give library=PATH or channel=PATH")
        self._lib = self._load(str(self._library_name))
        self._receive_own = bool(receive_own_messages)
        if poll_interval is not None:
            warnings.warn("poll_interval is ignored: recv waits in the library in one read",
                          DeprecationWarning, stacklevel=2)
        self._clock = TimestampClock()
        # _state guards _open and _calls_in_flight: shutdown waits on it for calls to end.
        self._state = threading.Condition()
        self._open = False
        self._calls_in_flight = 0
        # _read_lock serialises readers; it guards _pending, _buffer and _clock.
        self._read_lock = threading.Lock()
        self._pending: Deque[can.Message] = collections.deque()
        # _filter_lock guards _filter_ids.
        self._filter_lock = threading.Lock()
        self._filter_ids: List[int] = []
        self._device, self._channel = self._connect(device_name, int(bitrate))
        # The open has learnt the library's integer width: the records take it from here on.
        self._buffer = self._lib.message_buffer(READ_BATCH)
        self._open = True
        try:
            super().__init__(channel, can_filters=can_filters, **kwargs)
            self.channel_info = self._describe(int(bitrate))
        except CanError as error:
            self.shutdown()
            if isinstance(error, CanInitializationError):
                raise
            raise CanInitializationError(str(error), error.error_code) from error

    # -- setting up and shutting down --------------------------------------------------------

    @staticmethod
    def _load(name: str) -> api.PassThruLibrary:
        try:
            return api.PassThruLibrary(resolve_library(name))
        except LookupError as error:
            raise CanInitializationError(str(error)) from error
        except (OSError, AttributeError) as error:
            raise CanInterfaceNotImplementedError(
                f"cannot load the J2534 library {name}: {error}"
            ) from error

    def _connect(self, device_name: Optional[str], bitrate: int) -> Tuple[int, int]:
        """Opens the device and connects a CAN channel; closes the device again on failure."""
        init = {"error": J2534InitializationError}
        device = self._lib.open(device_name, **init)
        try:
            channel = self._lib.connect(device, c.CAN, c.CAN_ID_BOTH, bitrate, **init)
            try:
                if self._receive_own:
                    self._lib.set_config(channel, [(c.LOOPBACK, 1)], **init)
            except J2534Error:
                self._lib.disconnect(channel, accept=range(256))
                raise
        except J2534Error:
            self._lib.close(device, accept=range(256))
            raise
        return device, channel

    def _describe(self, bitrate: int) -> str:
        firmware, library, api_version = self._lib.read_version(
            self._device, error=J2534InitializationError
        )
        return (
            f"J2534 {self._lib.path} (firmware {firmware}, library {library}, "
            f"API {api_version}, integers: {self.integer_width}), CAN at {bitrate} bit/s"
        )

    @property
    def integer_width(self) -> str:
        """The width of the library's J2534 integers as its open showed it: "32 bits", or
        "unsigned long" for a library built with 8-byte unsigned long integers."""
        return self._lib.binding.width

    def shutdown(self) -> None:
        """Disconnects the channel and closes the device; a second call does nothing.

        Messages not yet read are dropped. A read another thread has under way is woken by the
        disconnect; calls under way end before the device is closed.
        """
        with self._state:
            if not self._open:
                return
            self._open = False
        failure: Optional[J2534Error] = None
        try:
            super().shutdown()
        finally:
            try:
                self._lib.disconnect(self._channel)
            except J2534Error as error:
                failure = error
            with self._state:
                self._state.wait_for(lambda: self._calls_in_flight == 0, SHUTDOWN_GRACE_S)
            with self._read_lock:
                self._pending.clear()
            try:
                self._lib.close(self._device)
            except J2534Error as error:
                failure = failure or error
            if failure is not None:
                raise failure

    @contextlib.contextmanager
    def _library_call(self) -> Iterator[None]:
        """Brackets a call on the open channel, so that shutdown waits for it to end."""
        with self._state:
            if not self._open:
                raise CanOperationError("the J2534 bus is shut down")
            self._calls_in_flight += 1
        try:
            yield
        finally:
            with self._state:
                self._calls_in_flight -= 1
                self._state.notify_all()

    # -- sending -----------------------------------------------------------------------------

    def send(self, msg: can.Message, timeout: Optional[float] = None) -> None:
        """Queues msg for the bus; with a timeout, waits that long for it to be sent.

        Without a timeout the library takes the message into its transmit queue and the call
        returns at once (a full queue raises).
        """
        if msg.is_remote_frame or msg.is_error_frame or msg.is_fd:
            raise CanOperationError("J2534 CAN channels send data frames only")
        outgoing = to_passthru(msg, self._lib.binding)
        timeout_ms = math.ceil(timeout * 1000) if timeout else 0
        with self._library_call():
            taken = self._lib.write_msgs(self._channel, [outgoing], timeout_ms)
        if taken != 1:
            raise CanOperationError("the J2534 library did not take the message")

    def flush_tx_buffer(self) -> None:
        with self._library_call():
            self._lib.ioctl(self._channel, c.CLEAR_TX_BUFFER)

    # -- receiving ---------------------------------------------------------------------------

    def _recv_internal(self, timeout: Optional[float]) -> Tuple[Optional[can.Message], bool]:
        """The next message, waiting up to timeout seconds in one read of the library (None: up
        to BLOCKING_READ_MS, as python-can's recv then asks again).

        The library's filters keep out most of what the bus's filters do not match, but a
        message read may have passed filters since replaced, and the library passes every
        loopback copy once any filter is set: python-can checks each message again.
        """
        if timeout is None:
            wait_ms = BLOCKING_READ_MS
        else:
            wait_ms = min(LONGEST_WAIT_MS, max(0, math.ceil(timeout * 1000)))
        with self._read_lock:
            if not self._pending:
                self._read(wait_ms)
            if self._pending:
                return self._pending.popleft(), False
            return None, False

    def _read(self, wait_ms: int) -> None:
        """Takes the waiting messages from the library; none waiting, waits up to wait_ms for
        one. Caller holds _read_lock."""
        with self._library_call():
            status, count = self._lib.read_msgs(self._channel, self._buffer, READ_BATCH, 0)
            if count == 0 and wait_ms > 0:
                try:
                    status, count = self._lib.read_msgs(self._channel, self._buffer, 1, wait_ms)
                except J2534Error as error:
                    if not self._open:  # woken by shutdown's disconnect
                        raise CanOperationError("the J2534 bus is shut down") from error
                    raise
        if status == c.ERR_BUFFER_OVERFLOW:
            LOG.warning("the J2534 library's receive queue overflowed: messages were lost")
        for raw in self._buffer[:count]:
            msg = self._from_passthru(raw)
            if msg is not None:
                self._pending.append(msg)

    def _from_passthru(self, raw: ctypes.Structure) -> Optional[can.Message]:
        """The message a received PASSTHRU_MSG carries; None for an indication or an echo
        nobody asked for."""
        if raw.RxStatus & (c.START_OF_MESSAGE | c.TX_DONE) or raw.DataSize < 4:
            return None
        echo = bool(raw.RxStatus & c.TX_MSG_TYPE)
        if echo and not self._receive_own:
            return None
        return from_passthru(raw, self._clock.seconds(raw.Timestamp), MESSAGE_CHANNEL)

    # -- filters -----------------------------------------------------------------------------

    def _apply_filters(self, filters: Optional[can.typechecking.CanFilters]) -> None:
        """Replaces the channel's pass filters by those the python-can filters map to; when
        they need more than a channel takes, passes everything and leaves the filtering to
        python-can's own check."""
        wanted = pass_filters(filters)
        with self._filter_lock, self._library_call():
            while self._filter_ids:
                self._lib.stop_msg_filter(self._channel, self._filter_ids[-1])
                self._filter_ids.pop()
            for pass_filter in wanted if wanted is not None else PASS_ALL:
                self._filter_ids.append(self._start_filter(pass_filter))

    def _start_filter(self, pass_filter: PassFilter) -> int:
        flags = pass_filter.tx_flags
        mask = self._lib.message(c.CAN, pass_filter.mask_bytes(), flags)
        pattern = self._lib.message(c.CAN, pass_filter.pattern_bytes(), flags)
        return self._lib.start_msg_filter(self._channel, c.PASS_FILTER, mask, pattern)


def to_passthru(msg: can.Message, binding: api.Binding) -> ctypes.Structure:
    """A CAN message as the PASSTHRU_MSG of binding's width that sends it: four identifier
    bytes, then the data."""
    limit = 0x1FFFFFFF if msg.is_extended_id else 0x7FF
    if not 0 <= msg.arbitration_id <= limit:
        raise ValueError(f"identifier 0x{msg.arbitration_id:X} does not fit its width")
    data = msg.arbitration_id.to_bytes(4, "big") + bytes(msg.data[: msg.dlc])
    return binding.message(c.CAN, data, c.CAN_29BIT_ID if msg.is_extended_id else 0)


def from_passthru(raw: ctypes.Structure, timestamp: float, channel: str) -> can.Message:
    """The CAN message a received PASSTHRU_MSG carries."""
    data = api.payload(raw)
    extended = bool(raw.RxStatus & c.CAN_29BIT_ID)
    identifier = int.from_bytes(data[:4], "big") & (0x1FFFFFFF if extended else 0x7FF)
    return can.Message(
        timestamp=timestamp,
        arbitration_id=identifier,
        is_extended_id=extended,
        is_rx=not raw.RxStatus & c.TX_MSG_TYPE,
        dlc=len(data) - 4,
        data=data[4:],
        channel=channel,
    )
