"""J2534 timestamps, as python-can's seconds."""

import time
from typing import Callable, Optional

WRAP = 1 << 32  # the microsecond counter is 32 bits: it wraps after about 71.6 minutes
HALF = WRAP // 2


class TimestampClock:
    """Maps the device's wrapping 32-bit microsecond timestamps to seconds since the epoch.

    The counter is unwrapped relative to the last timestamp seen: a step of less than half the
    range forward is time going on (through a wrap or not), one of less than half backward is a
    message stamped a little earlier than the one before (a loopback copy may be). So the
    seconds never jump by a wrap, provided messages come at least every half range (35 minutes).
    The first timestamp is anchored at the host's clock when it is mapped.
    """

    def __init__(self, now: Callable[[], float] = time.time) -> None:
        self._now = now
        self._last_raw: Optional[int] = None
        self._micros = 0  # the unwrapped microseconds of the last timestamp
        self._epoch = 0.0  # host seconds at unwrapped microsecond 0

    def seconds(self, raw: int) -> float:
        raw &= WRAP - 1
        if self._last_raw is None:
            self._micros = raw
            self._epoch = self._now() - raw / 1e6
        else:
            step = (raw - self._last_raw) % WRAP
            self._micros += step if step < HALF else step - WRAP
        self._last_raw = raw
        return self._epoch + self._micros / 1e6
