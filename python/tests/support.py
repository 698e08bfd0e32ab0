"""What the tests against the built libraries share: their paths and the ECU's requests."""

import os
import time
import unittest

import can

# The library with 32-bit integers, and the one with unsigned long integers (built only where
# unsigned long is 8 bytes); each given, with the width of its integers.
LIBRARY = os.environ.get("VTX_LIBRARY", "")
ULONG_LIBRARY = os.environ.get("VTX_ULONG_LIBRARY", "")
LIBRARY_WIDTHS = [(path, width) for path, width in
                  ((LIBRARY, "32 bits"), (ULONG_LIBRARY, "unsigned long")) if path]
# Generous bounds for answers a loaded machine may be slow to give; no test depends on them
# but to end a wait that would otherwise never end.
ANSWER_WAIT_S = 10.0

# OBD-II mode 01 requests the simulated ECU answers, and the identifier it answers from.
ENGINE_SPEED_11 = can.Message(arbitration_id=0x7DF, is_extended_id=False,
                              data=[0x02, 0x01, 0x0C, 0, 0, 0, 0, 0])
VEHICLE_SPEED_29 = can.Message(arbitration_id=0x18DB33F1, is_extended_id=True,
                               data=[0x02, 0x01, 0x0D, 0, 0, 0, 0, 0])
ANSWER_11 = 0x7E8
ANSWER_29 = 0x18DAF110


def needs_simulated_library(test_class):
    """Skips a test class unless its library (its `library`, else LIBRARY) is given and the
    simulated device chosen."""
    if not getattr(test_class, "library", LIBRARY) or os.environ.get("VTXPTS_DEVICE") != "sim":
        return unittest.skip("set VTX_LIBRARY (VTX_ULONG_LIBRARY) to the built library and "
                             "VTXPTS_DEVICE=sim")(test_class)
    return test_class


def receive_until(bus: can.BusABC, arbitration_id: int):
    """Every message received up to and including the first from arbitration_id."""
    received = []
    deadline = time.monotonic() + ANSWER_WAIT_S
    while time.monotonic() < deadline:
        msg = bus.recv(timeout=deadline - time.monotonic())
        if msg is None:
            break
        received.append(msg)
        if msg.arbitration_id == arbitration_id:
            return received
    raise AssertionError(f"no message from 0x{arbitration_id:X} in {ANSWER_WAIT_S} s: {received}")


def is_answer(msg: can.Message, request: can.Message) -> bool:
    """A positive OBD-II answer to request: mode + 0x40 and the same PID."""
    return msg.data[1] == request.data[1] + 0x40 and msg.data[2] == request.data[2]
