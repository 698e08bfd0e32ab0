"""ptcan end to end, against the built library and its simulated device.

Usage: ptcan_e2e.py PTCAN LIBRARY CASE

The simulated bus lives inside the process that loads the library, so a frame sent by one ptcan
process never reaches another: each case provokes and watches traffic within one process (dump
sends its request itself with -s, play reads back its own frames through loopback).
Every process is bounded by a timeout: a hung ptcan fails the case, it never passes it.
"""
import os
import re
import signal
import subprocess
import sys
import tempfile

TIMEOUT = 60
LOG_LINE = re.compile(r"^\((\d+)\.(\d{6})\) j2534 ([0-9A-F]{3}|[0-9A-F]{8})#((?:[0-9A-F]{2})*)( [RT])?$")
PTCAN, LIBRARY = sys.argv[1], sys.argv[2]


def env(**extra):
    e = dict(os.environ, VTXPTS_DEVICE="sim")
    e.update(extra)
    return e


def ptcan(*args, environment=None, library=LIBRARY):
    return subprocess.run([PTCAN, library, *args], capture_output=True, text=True,
                          timeout=TIMEOUT, env=environment or env())


def check(condition, what, result=None):
    if not condition:
        detail = "" if result is None else f"\nstdout:\n{result.stdout}\nstderr:\n{result.stderr}"
        raise AssertionError(what + detail)


def frames(text):
    """The ID#DATA of every log line; fails on a line that is not one."""
    out = []
    for line in text.splitlines():
        match = LOG_LINE.match(line)
        check(match, f"not a candump log line: {line!r}")
        out.append(f"{match.group(3)}#{match.group(4)}")
    return out


def python_can_reads(path):
    """The frames as python-can's candump log reader sees them (when python-can is there)."""
    try:
        from can.io.canutils import CanutilsLogReader
    except ImportError:
        return None
    return [("%08X" if m.is_extended_id else "%03X") % m.arbitration_id + "#" + m.data.hex().upper()
            for m in CanutilsLogReader(path)]


def dump_sees_answer():
    r = ptcan("dump", "-L", "-s", "7DF#02010C", "-s", "18DB33F1#02010D", "-n", "4", "-T", "10000")
    check(r.returncode == 0, "dump failed", r)
    got = frames(r.stdout)
    marks = {line.split()[2]: line.split()[-1] for line in r.stdout.splitlines()}
    check(marks.get("7DF#02010C") == "T" and marks.get("18DB33F1#02010D") == "T",
          "own frames not marked T", r)
    check(any(g.startswith("7E8#04410C") and marks[g] == "R" for g in got),
          "no engine-speed answer from 0x7E8", r)
    check(any(g.startswith("18DAF110#03410D") for g in got), "no 29-bit answer", r)


def gen_play_round_trip():
    with tempfile.TemporaryDirectory() as d:
        log = os.path.join(d, "gen.log")
        r = ptcan("gen", "-n", "25", "-g", "2", "-l", log)
        check(r.returncode == 0, "gen failed", r)
        with open(log) as f:
            sent = frames(f.read())
        check(len(sent) == 25, f"gen logged {len(sent)} frames, not 25", r)
        read_back = python_can_reads(log)
        check(read_back is None or read_back == sent, f"python-can reads {read_back}")
        r = ptcan("play", log, "-v", "-l", "2")
        check(r.returncode == 0, "play failed", r)
        check(frames(r.stdout) == sent + sent, "play sent other frames than gen logged", r)


def exit_codes():
    no_device = {k: v for k, v in os.environ.items() if k != "VTXPTS_DEVICE"}
    cases = [  # arguments, environment, library, status, stderr pattern
        (["send", "123#DEADBEEF", "1ABCDEF0#"], None, LIBRARY, 0, r"^$"),
        (["send", "800#00"], None, LIBRARY, 2, r"not a frame"),
        (["frob"], None, LIBRARY, 2, r"."),
        (["dump", "-f", "7E8"], None, LIBRARY, 2, r"not ID:MASK"),
        (["isotp", "-s", "7E0", "-d", "7E8"], None, LIBRARY, 2, r"HEX"),
        (["-b", "123", "dump"], None, LIBRARY, 1, r"PassThruConnect failed: ERR_INVALID_BAUDRATE"),
        (["info"], None, "/nonexistent/libnothing.so", 1, r"cannot load"),
        (["info"], no_device, LIBRARY, 1, r"PassThruOpen failed: ERR_FAILED \(.+\)"),
        (["isotp", "-s", "7E0", "-d", "7E9", "-t", "300", "01", "0C"], None, LIBRARY, 1,
         r"no answer"),
    ]
    for args, environment, library, status, pattern in cases:
        r = ptcan(*args, environment=environment, library=library)
        check(r.returncode == status, f"{args}: exit {r.returncode}, expected {status}", r)
        check(re.search(pattern, r.stderr), f"{args}: stderr does not match {pattern!r}", r)


def ctrl_c_closes():
    p = subprocess.Popen([PTCAN, LIBRARY, "dump", "-s", "7DF#02010C"], stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE, text=True, env=env())
    try:
        # The answer is printed from the read loop, so the handler is in place by then.
        first = p.stdout.readline()
        check(first.rstrip().endswith("7E8#04410C0C80555555"), f"first line {first!r}")
        p.send_signal(signal.SIGINT)
        out, err = p.communicate(timeout=TIMEOUT)
    finally:
        if p.poll() is None:
            p.kill()
            p.wait()
    check(p.returncode == 0, f"exit {p.returncode} after SIGINT; stderr {err!r}")
    check(err.rstrip().splitlines()[-1] ==
          "ptcan: dump: 1 frames, interrupted; channel disconnected, device closed",
          f"last line of stderr: {err!r}")


def diagnostics():
    vin = "1VTXSIM0000000001"
    r = ptcan("isotp", "-s", "7E0", "-d", "7E8", "--pad", "22", "F1", "90")
    check(r.returncode == 0 and r.stdout.strip() == "62 F1 90 " + " ".join(
        "%02X" % ord(c) for c in vin), "isotp: no VIN by UDS", r)
    for args in (["obd"], ["obd", "--can"], ["-x", "obd", "--can"]):
        r = ptcan(*args)
        check(r.returncode == 0 and f"VIN:           {vin}" in r.stdout and "rpm" in r.stdout,
              f"{args}: no OBD values", r)


def info_and_load():
    r = ptcan("info")
    check(r.returncode == 0 and "protocols:  CAN ISO15765" in r.stdout, "info", r)
    integers = "unsigned long" if "ulong" in os.path.basename(LIBRARY) else "32 bits"
    check(f"integers:   {integers}\n" in r.stdout, f"info: not {integers}", r)
    r = ptcan("load", "-n", "2", environment=env(VTXPTS_SIM_TRAFFIC="1000"))
    lines = r.stdout.splitlines()
    check(r.returncode == 0 and len(lines) == 2, "load: not two lines", r)
    for line in lines:
        match = re.match(r"^(\d+) frames/s (\d+\.\d) % bus load$", line)
        check(match and int(match.group(1)) > 0, f"load line {line!r}", r)


CASES = {f.__name__: f for f in (dump_sees_answer, gen_play_round_trip, exit_codes,
                                  ctrl_c_closes, diagnostics, info_and_load)}

if __name__ == "__main__":
    CASES[sys.argv[3]]()
    print(f"{sys.argv[3]}: ok")
