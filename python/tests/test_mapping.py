"""The pieces that need no library: layout, timestamps, filters, message conversion, errors."""

import ctypes
import unittest

import can

from can_j2534 import api
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


class ErrorsTest(unittest.TestCase):
    def test_errors_name_the_call_the_status_and_the_library_text(self):
        cases = [
            (J2534InitializationError("PassThruConnect", 0x19, ""), can.CanInitializationError,
             "PassThruConnect failed: ERR_INVALID_BAUDRATE"),
            (J2534OperationError("PassThruConnect", 0x07, "Invalid TxFlags"), can.CanOperationError,
             "PassThruConnect failed: ERR_FAILED (Invalid TxFlags)"),
        ]
        for error, can_class, message in cases:
            with self.subTest(message):
                self.assertIsInstance(error, can_class)
                self.assertTrue(str(error).startswith(message), str(error))

if __name__ == "__main__":
    unittest.main()
