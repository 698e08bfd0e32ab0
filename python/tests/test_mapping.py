"""The pieces that need no library: layout, timestamps, filters, message conversion, errors."""

import ctypes
import unittest

import can

from can_j2534 import api, constants
from can_j2534.bus import from_passthru, to_passthru
from can_j2534.errors import J2534InitializationError, J2534OperationError
from can_j2534.filters import MAX_FILTERS, PassFilter, pass_filters
from can_j2534.timestamps import TimestampClock


class LayoutTest(unittest.TestCase):
    def test_records_match_the_library_abi(self):
        self.assertEqual(ctypes.sizeof(api.PASSTHRU_MSG), 4152)
        self.assertEqual(api.PASSTHRU_MSG.Data.offset, 24)
        self.assertEqual(ctypes.sizeof(api.SCONFIG), 8)
        self.assertEqual(api.SCONFIG_LIST.ConfigPtr.offset, ctypes.alignment(ctypes.c_void_p))


class TimestampClockTest(unittest.TestCase):
    def test_unwraps_the_32_bit_counter(self):
        top = (1 << 32) - 1
        cases = [
            # raw timestamps in order, the seconds expected after the first
            ("forward", [1_000_000, 3_500_000], [2.5]),
            ("through a wrap", [top - 999_999, 500_000], [1.5]),
            ("two wraps in quarter steps", [(k << 30) & top for k in range(9)],
             [(k << 30) / 1e6 for k in range(1, 9)]),
            ("a little back", [5_000_000, 4_000_000, 6_000_000], [-1.0, 1.0]),
            ("a little back across a wrap", [10, top - 9, 20], [-0.00002, 0.00001]),
        ]
        for name, raws, expected in cases:
            with self.subTest(name):
                clock = TimestampClock(now=lambda: 1000.0)
                first = clock.seconds(raws[0])
                self.assertEqual(first, 1000.0)
                got = [clock.seconds(raw) - first for raw in raws[1:]]
                for value, wanted in zip(got, expected):
                    self.assertAlmostEqual(value, wanted, places=6)


class PassFiltersTest(unittest.TestCase):
    def test_python_can_filters_become_pass_filters(self):
        cases = [
            ("none passes all", None,
             [PassFilter(0, 0, False), PassFilter(0, 0, True)]),
            ("11-bit", [{"can_id": 0x7E8, "can_mask": 0x7FF, "extended": False}],
             [PassFilter(0x7FF, 0x7E8, False)]),
            ("29-bit, pattern masked", [{"can_id": 0x18DAF1FF, "can_mask": 0x1FFFFF00,
                                         "extended": True}],
             [PassFilter(0x1FFFFF00, 0x18DAF100, True)]),
            ("either width", [{"can_id": 0x7E8, "can_mask": 0x7F0}],
             [PassFilter(0x7F0, 0x7E0, False), PassFilter(0x7F0, 0x7E0, True)]),
            ("no 11-bit id has bit 11", [{"can_id": 0x18DAF110, "can_mask": 0x1FFFFFFF}],
             [PassFilter(0x1FFFFFFF, 0x18DAF110, True)]),
            ("nothing can match", [{"can_id": 0x800, "can_mask": 0x800, "extended": False}], []),
        ]
        for name, filters, expected in cases:
            with self.subTest(name):
                self.assertEqual(pass_filters(filters), expected)

    def test_more_than_a_channel_takes_leaves_filtering_to_python_can(self):
        filters = [{"can_id": i, "can_mask": 0x7FF} for i in range(MAX_FILTERS // 2 + 1)]
        self.assertIsNone(pass_filters(filters))
        self.assertEqual(len(pass_filters(filters[:-1])), MAX_FILTERS)


class MessageConversionTest(unittest.TestCase):
    def test_round_trip_keeps_identifier_width_and_data(self):
        cases = [
            can.Message(arbitration_id=0x7DF, is_extended_id=False, data=[2, 1, 0x0C]),
            can.Message(arbitration_id=0x18DB33F1, is_extended_id=True, data=b""),
            can.Message(arbitration_id=0x1FFFFFFF, is_extended_id=True, data=bytes(range(8))),
        ]
        for msg in cases:
            with self.subTest(hex(msg.arbitration_id)):
                raw = to_passthru(msg)
                self.assertEqual(raw.TxFlags, constants.CAN_29BIT_ID if msg.is_extended_id else 0)
                self.assertEqual(api.payload(raw)[:4], msg.arbitration_id.to_bytes(4, "big"))
                raw.RxStatus = raw.TxFlags | constants.TX_MSG_TYPE
                back = from_passthru(raw, 1.5, "j2534")
                self.assertEqual(
                    (back.arbitration_id, back.is_extended_id, back.data),
                    (msg.arbitration_id, msg.is_extended_id, msg.data),
                )
                self.assertFalse(back.is_rx)
                self.assertEqual(back.timestamp, 1.5)

    def test_an_identifier_too_wide_for_its_width_is_refused(self):
        with self.assertRaises(ValueError):
            to_passthru(can.Message(arbitration_id=0x800, is_extended_id=False))


class ErrorsTest(unittest.TestCase):
    def test_errors_name_the_call_the_status_and_the_library_text(self):
        cases = [
            (J2534InitializationError, can.CanInitializationError, 0x19, "",
             "PassThruConnect failed: ERR_INVALID_BAUDRATE"),
            (J2534OperationError, can.CanOperationError, 0x07, "Invalid TxFlags",
             "PassThruConnect failed: ERR_FAILED (Invalid TxFlags)"),
            (J2534OperationError, can.CanOperationError, 0x99, "",
             "PassThruConnect failed: status 0x99"),
        ]
        for error_class, can_class, status, text, message in cases:
            with self.subTest(message):
                error = error_class("PassThruConnect", status, text)
                self.assertIsInstance(error, can_class)
                self.assertTrue(str(error).startswith(message), str(error))
                self.assertEqual(error.status, status)


if __name__ == "__main__":
    unittest.main()
