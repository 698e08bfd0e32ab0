"""The bus against the built libraries, 32-bit and unsigned long, and the simulated device and
ECU."""

import threading
import time
import unittest

import can

from can_j2534 import J2534Bus, J2534OperationError
from can_j2534 import constants as c
from support import (ANSWER_11, ANSWER_29, ANSWER_WAIT_S, ENGINE_SPEED_11, LIBRARY,
                     ULONG_LIBRARY, VEHICLE_SPEED_29, is_answer, needs_simulated_library,
                     receive_until)


class BusTests:
    """The bus's tests against one library; a subclass per library names it and its width."""

    library = ""
    integer_width = ""

    def open_bus(self, **kwargs) -> J2534Bus:
        bus = J2534Bus(library=self.library, bitrate=500000, **kwargs)
        self.addCleanup(bus.shutdown)
        return bus

    def test_the_open_learns_the_librarys_integer_width(self):
        bus = self.open_bus(receive_own_messages=True)
        lib, channel = bus._lib, bus._channel  # pylint: disable=protected-access
        self.assertEqual(bus.integer_width, self.integer_width)
        self.assertIn(f"integers: {self.integer_width}", bus.channel_info)
        # What the library writes back comes in its width too: GET_CONFIG's values and an
        # IOCTL's integer output.
        self.assertEqual(lib.get_config(channel, [c.DATA_RATE, c.LOOPBACK]), [500000, 1])
        self.assertIn(lib.get_term_resistor(channel), (1, 2))

    def test_the_ecu_answers_11_and_29_bit_requests(self):
        cases = [(ENGINE_SPEED_11, ANSWER_11), (VEHICLE_SPEED_29, ANSWER_29)]
        bus = self.open_bus()
        for request, answer_id in cases:
            with self.subTest(hex(request.arbitration_id)):
                bus.send(request)
                answer = receive_until(bus, answer_id)[-1]
                self.assertEqual(answer.is_extended_id, request.is_extended_id)
                self.assertTrue(is_answer(answer, request), answer)
                self.assertTrue(answer.is_rx)
                self.assertLess(abs(answer.timestamp - time.time()), 60)

    def test_loopback_copies_of_11_and_29_bit_frames_come_first_unchanged(self):
        bus = self.open_bus(receive_own_messages=True)
        for request, answer_id in [(ENGINE_SPEED_11, ANSWER_11), (VEHICLE_SPEED_29, ANSWER_29)]:
            with self.subTest(hex(request.arbitration_id)):
                bus.send(request)
                echo, answer = receive_until(bus, answer_id)
                self.assertFalse(echo.is_rx)
                self.assertEqual((echo.arbitration_id, echo.is_extended_id, echo.data),
                                 (request.arbitration_id, request.is_extended_id, request.data))
                self.assertTrue(answer.is_rx)
                self.assertLess(echo.timestamp, answer.timestamp)

    def test_filters_pass_and_keep_out_answers(self):
        # Both requests go out; the 29-bit answer comes after the 11-bit one, so what was
        # received up to it shows whether the 11-bit answer was let through.
        cases = [
            ("11-bit passes", [{"can_id": ANSWER_11, "can_mask": 0x7FF, "extended": False},
                               {"can_id": ANSWER_29, "can_mask": 0x1FFFFFFF}], True),
            ("11-bit kept out", [{"can_id": ANSWER_29, "can_mask": 0x1FFFFFFF,
                                  "extended": True}], False),
        ]
        for name, filters, passes in cases:
            with self.subTest(name):
                bus = J2534Bus(library=self.library, can_filters=filters)
                try:
                    bus.send(ENGINE_SPEED_11)
                    bus.send(VEHICLE_SPEED_29)
                    ids = [m.arbitration_id for m in self.read_unchecked(bus, ANSWER_29)]
                finally:
                    bus.shutdown()
                self.assertEqual(ids, [ANSWER_11, ANSWER_29] if passes else [ANSWER_29])

    @staticmethod
    def read_unchecked(bus: J2534Bus, last_id: int):
        """What the library delivers up to last_id, without python-can's own filter check."""
        received = []
        deadline = time.monotonic() + ANSWER_WAIT_S
        while time.monotonic() < deadline:
            msg, _ = bus._recv_internal(timeout=0.1)  # pylint: disable=protected-access
            if msg is not None:
                received.append(msg)
                if msg.arbitration_id == last_id:
                    return received
        raise AssertionError(f"no 0x{last_id:X} in {ANSWER_WAIT_S} s: {received}")

    def test_a_notifier_feeds_a_buffered_reader(self):
        bus = self.open_bus()
        reader = can.BufferedReader()
        notifier = can.Notifier(bus, [reader], timeout=0.1)
        self.addCleanup(notifier.stop)
        bus.send(VEHICLE_SPEED_29)
        answer = reader.get_message(timeout=ANSWER_WAIT_S)
        self.assertIsNotNone(answer)
        self.assertEqual(answer.arbitration_id, ANSWER_29)
        self.assertTrue(is_answer(answer, VEHICLE_SPEED_29))

    def test_recv_waits_in_one_read_while_another_thread_sends(self):
        bus = self.open_bus()
        waits = []
        entered = threading.Event()
        read_msgs = bus._lib.read_msgs  # pylint: disable=protected-access

        def recording_read(channel, buffer, count, timeout_ms):
            if timeout_ms:
                waits.append(timeout_ms)
                entered.set()
            return read_msgs(channel, buffer, count, timeout_ms)

        bus._lib.read_msgs = recording_read  # pylint: disable=protected-access
        received = []
        reader = threading.Thread(target=lambda: received.append(bus.recv(timeout=30)))
        reader.start()
        self.assertTrue(entered.wait(ANSWER_WAIT_S))
        bus.send(ENGINE_SPEED_11)  # goes while the read waits; the ECU's answer ends the read
        reader.join(ANSWER_WAIT_S + 30)
        self.assertFalse(reader.is_alive())
        self.assertEqual(waits, [30000])
        self.assertIsNotNone(received[0])
        self.assertEqual(received[0].arbitration_id, ANSWER_11)

    def test_shutdown_with_messages_pending_and_a_reader_waiting(self):
        bus = J2534Bus(library=self.library, receive_own_messages=True)
        for _ in range(5):
            bus.send(ENGINE_SPEED_11)
        receive_until(bus, ANSWER_11)  # the rest are pending in the library or on the bus
        reader_error = []
        reader = threading.Thread(target=self.read_forever, args=(bus, reader_error))
        reader.start()
        bus.shutdown()
        reader.join(ANSWER_WAIT_S)
        self.assertFalse(reader.is_alive())
        self.assertIsInstance(reader_error[0], can.CanOperationError)
        bus.shutdown()  # a second shutdown does nothing
        with self.assertRaises(can.CanOperationError):
            bus.send(ENGINE_SPEED_11)
        self.open_bus().send(ENGINE_SPEED_11)  # the device was closed: it opens again

    @staticmethod
    def read_forever(bus: J2534Bus, errors: list) -> None:
        try:
            while True:
                bus.recv()
        except can.CanError as error:
            errors.append(error)

    def test_failures_raise_with_the_status_name(self):
        bus = self.open_bus()
        with self.assertRaises(can.CanInitializationError) as in_use:
            J2534Bus(library=self.library)
        self.assertIn("ERR_DEVICE_IN_USE", str(in_use.exception))
        with self.assertRaises(J2534OperationError) as bad_filter:
            bus._lib.stop_msg_filter(bus._channel, 0xFFFF)  # pylint: disable=protected-access
        self.assertEqual(bad_filter.exception.status_name, "ERR_INVALID_FILTER_ID")
        bus.shutdown()
        with self.assertRaises(can.CanInitializationError) as bad_rate:
            J2534Bus(library=self.library, bitrate=12345)
        self.assertIn("ERR_INVALID_BAUDRATE", str(bad_rate.exception))
        with self.assertRaises(can.CanInterfaceNotImplementedError):
            J2534Bus(library=self.library + ".missing")


@needs_simulated_library
class Bits32BusTest(BusTests, unittest.TestCase):
    library = LIBRARY
    integer_width = "32 bits"


@needs_simulated_library
class UnsignedLongBusTest(BusTests, unittest.TestCase):
    library = ULONG_LIBRARY
    integer_width = "unsigned long"


if __name__ == "__main__":
    unittest.main()
