"""The package as pip installs it: the entry point, can.logger and can.player over it."""

import importlib.util
import os
import signal
import subprocess
import sys
import tempfile
import time
import unittest

import can

from support import ANSWER_WAIT_S, LIBRARY, LIBRARY_WIDTHS, needs_simulated_library

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PROCESS_WAIT_S = 120  # a bound for a child that would otherwise hang the test


@needs_simulated_library
@unittest.skipIf(importlib.util.find_spec("pip") is None, "pip is not installed")
class InstalledPackageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.TemporaryDirectory(prefix="can-j2534-")
        cls.site = os.path.join(cls.work.name, "site")
        # No index: the build backend in the tree must be all pip needs.
        subprocess.run(
            [sys.executable, "-m", "pip", "install", "--quiet", "--no-index", "--no-deps",
             "--disable-pip-version-check", "--target", cls.site, SOURCE],
            check=True, timeout=PROCESS_WAIT_S, env=cls.environment(),
        )

    @classmethod
    def tearDownClass(cls):
        cls.work.cleanup()

    @classmethod
    def environment(cls, **extra):
        """The children's environment: the installed copy on the path, not the source tree."""
        env = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}
        if hasattr(cls, "site"):
            env["PYTHONPATH"] = cls.site
        env.update(PYTHONDONTWRITEBYTECODE="1", PIP_ROOT_USER_ACTION="ignore", **extra)
        return env

    def python(self, *args, **kwargs):
        return subprocess.run([sys.executable, *args], cwd=self.work.name, env=self.environment(),
                              capture_output=True, text=True, timeout=PROCESS_WAIT_S, **kwargs)

    def test_can_bus_finds_the_interface_through_its_entry_point(self):
        for library, width in LIBRARY_WIDTHS:
            with self.subTest(width):
                script = (
                    "import can\n"
                    f"with can.Bus(interface='j2534', library={library!r}) as bus:\n"
                    "    bus.send(can.Message(arbitration_id=0x7DF, is_extended_id=False,\n"
                    "                         data=[2, 1, 0x0C, 0, 0, 0, 0, 0]))\n"
                    f"    answer = bus.recv({ANSWER_WAIT_S})\n"
                    "    print(type(bus).__module__, hex(answer.arbitration_id),\n"
                    "          answer.data[:3].hex(), bus.integer_width, sep=',')\n"
                )
                run = self.python("-c", script)
                self.assertEqual(run.returncode, 0, run.stderr)
                self.assertEqual(run.stdout.strip().split(","),
                                 ["can_j2534.bus", "0x7e8", "04410c", width])

    def test_logger_records_traffic_and_player_replays_it(self):
        log = os.path.join(self.work.name, "traffic.log")
        self.run_logger(log, frames_per_second="1000")
        with can.CanutilsLogReader(log) as reader:
            frames = list(reader)
        self.assertGreater(len(frames), 0)
        self.assertEqual({(f.arbitration_id, f.channel) for f in frames}, {(0x100, "j2534")})
        sequence = [int.from_bytes(f.data[:4], "big") for f in frames]
        self.assertEqual(sequence, sorted(set(sequence)))  # in order, none twice
        replay = os.path.join(self.work.name, "replay.log")
        with open(log, encoding="ascii") as source, open(replay, "w", encoding="ascii") as head:
            head.writelines(source.readlines()[:20])
        run = self.python("-m", "can.player", "-i", "j2534", "-c", LIBRARY, "-v", replay)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertEqual(run.stdout.count("ID: 0100"), min(20, len(frames)))

    def run_logger(self, log: str, frames_per_second: str) -> None:
        """can.logger on the simulated bus's traffic until its log file has taken some (the
        writer's buffer is flushed), then Ctrl-C, which shuts the bus down."""
        env = self.environment(VTXPTS_SIM_TRAFFIC=frames_per_second)
        args = [sys.executable, "-m", "can.logger", "-i", "j2534", f"--library={LIBRARY}",
                "-b", "500000", "-f", log]
        with subprocess.Popen(args, cwd=self.work.name, env=env, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, text=True) as logger:
            try:
                deadline = time.monotonic() + PROCESS_WAIT_S
                while not self.has_content(log) and logger.poll() is None:
                    self.assertLess(time.monotonic(), deadline, "the logger wrote nothing")
                    time.sleep(0.05)
                logger.send_signal(signal.SIGINT)
                _, errors = logger.communicate(timeout=PROCESS_WAIT_S)
            finally:
                logger.kill()
        self.assertEqual(logger.returncode, 0, errors)

    @staticmethod
    def has_content(path: str) -> bool:
        return os.path.exists(path) and os.path.getsize(path) > 0


if __name__ == "__main__":
    unittest.main()
