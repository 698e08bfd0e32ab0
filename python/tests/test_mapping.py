"""The pieces that need no library: layout, the width probe, timestamps, filters, errors, the
registry lookup."""

import ctypes
import unittest
from unittest import mock

import can

from can_j2534 import api, locate
from can_j2534.errors import J2534InitializationError, J2534OperationError, J2534WidthError
from can_j2534.filters import MAX_FILTERS, PassFilter, pass_filters
from can_j2534.timestamps import TimestampClock


class LayoutTest(unittest.TestCase):
    def test_records_match_the_library_abi(self):
        pointer = ctypes.sizeof(ctypes.c_void_p)
        ulong = ctypes.sizeof(ctypes.c_ulong)
        cases = [  # binding, integer bytes, PASSTHRU_MSG bytes
            (api.BITS32, 4, 4152),
            (api.UNSIGNED_LONG, ulong, 4128 + 6 * ulong),
        ]
        for binding, integer, message in cases:
            with self.subTest(binding.width):
                self.assertEqual(ctypes.sizeof(binding.PASSTHRU_MSG), message)
                self.assertEqual(binding.PASSTHRU_MSG.Data.offset, 6 * integer)
                self.assertEqual(ctypes.sizeof(binding.SCONFIG), 2 * integer)
                self.assertEqual(binding.SCONFIG_LIST.ConfigPtr.offset, max(integer, pointer))


class WidthProbeTest(unittest.TestCase):
    def test_the_upper_half_the_open_leaves_tells_the_width(self):
        self.assertIs(api.binding_for_probe(api.WIDTH_MARKER | 7), api.BITS32)
        self.assertIs(api.binding_for_probe(7), api.UNSIGNED_LONG)
        for written in (0x12345678_00000007, 0xA5C3_0000_0000_0007):  # neither; 6 bytes written
            with self.subTest(hex(written)), self.assertRaisesRegex(
                    J2534WidthError, "integer width could not be told"):
                api.binding_for_probe(written)


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


class RegistryKey(dict):
    """An open key: its subkeys or its values."""
    __enter__ = lambda self: self
    __exit__ = lambda self, *_: False


class WindowsRegistry:  # pylint: disable=invalid-name
    """winreg over two registry views: {view flag: {device key: {value: data}}}."""
    KEY_READ, KEY_WOW64_64KEY, KEY_WOW64_32KEY, HKEY_LOCAL_MACHINE = 0x20019, 0x100, 0x200, "HKLM"

    def __init__(self, views):
        self.views = views

    def OpenKey(self, parent, name, _reserved, access):
        if parent != self.HKEY_LOCAL_MACHINE:
            return RegistryKey(parent[name])
        view = self.views.get(access & (self.KEY_WOW64_64KEY | self.KEY_WOW64_32KEY))
        if name != locate.REGISTRY_ROOT or view is None:
            raise OSError(2, "not found")
        return RegistryKey(view)

    def EnumKey(self, key, index):
        if index >= len(key):
            raise OSError(259, "no more data")
        return list(key)[index]

    def QueryValueEx(self, key, name):
        if name not in key:
            raise OSError(2, "not found")
        return key[name], 1


class RegisteredDeviceTest(unittest.TestCase):
    def test_an_interpreter_finds_the_library_of_its_own_width(self):
        device = "Vantrix - J2534"
        registry = WindowsRegistry({
            WindowsRegistry.KEY_WOW64_64KEY: {
                device: {"Name": "VTX USB-to-CAN", "FunctionLibrary": r"C:\VTX\vtxpts64.dll"}},
            WindowsRegistry.KEY_WOW64_32KEY: {
                device: {"Name": "VTX USB-to-CAN", "FunctionLibrary": r"C:\VTX\vtxpts32.dll"},
                "Old": {"FunctionLibrary": r"C:\Old\old32.dll"}},
        })
        cases = [  # interpreter width, name asked for, library found (None: LookupError)
            (64, device, r"C:\VTX\vtxpts64.dll"),
            (64, "vtx usb-to-can", r"C:\VTX\vtxpts64.dll"),
            (32, device, r"C:\VTX\vtxpts32.dll"),
            (32, "Old", r"C:\Old\old32.dll"),
            (64, "Old", None),
        ]
        for bits, name, expected in cases:
            with self.subTest(bits=bits, name=name), \
                    mock.patch.dict("sys.modules", winreg=registry), \
                    mock.patch.object(locate.sys, "platform", "win32"), \
                    mock.patch.object(locate, "INTERPRETER_BITS", bits):
                if expected is None:
                    self.assertRaises(LookupError, locate.resolve_library, name)
                else:
                    self.assertEqual(locate.resolve_library(name), expected)


if __name__ == "__main__":
    unittest.main()
