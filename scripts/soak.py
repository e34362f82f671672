#!/usr/bin/env python3
"""Fault soak: many whole upgrades of fieldkit-cli against lodestar-sim with random faults.

Every run starts its own emulated board (a random band, variant flag, parameter block, ESN
and version) with one random fault or a mix of two, and runs `fieldkit-cli upgrade --force`
against it with a history file of its own. A run is judged by three records that the
programs themselves write: the history record (result, failure kind, stage, what the host
read from the board), the emulator's request log (every request that reached the board and
its answer) and the emulator's flash, compared with the image `fieldkit-cli image` builds.
Each run ends in one of three classes:

  success        exit 0, a "success" record, the board's last request the finish command,
                 and the board's whole 1 MiB flash equal to the image for that board (boot
                 code in its place, application in its region, every other byte erased);
  clean failure  exit 1, a "failure" record whose failure kind the fault calls for (or,
                 for line faults, one that fits the step the board last heard of), exactly
                 one error on stderr, the record's message, nothing that reached the board
                 after the failing request, and the port closed before the final text;
  bad outcome    everything else: a success with wrong flash, a success where the fault
                 forbids one, a wrong failure kind, a request after the stop, a malformed
                 frame, a record that says the board is untouched after an erase, a hang
                 past the time bound, a crash, a port left open.

The same seed gives the same runs (faults, boards and the emulator's noise seeds). Without
--seed a new one is drawn and printed first; ctest's sample (FaultSoakQuick) passes a fixed one.

Usage:
  scripts/soak.py --quick                 # the CI sample: 12 runs, fast faults
  scripts/soak.py                         # full soak: 320 runs, writes docs/soak.md
  scripts/soak.py --runs 40 --seed 7 --jobs 4 --build build-hard
Helpers that other scripts use:
  scripts/soak.py relay BOARD_DEVICE HOST_LINK TRACE   # a relay that records every byte with its time
  scripts/soak.py turnarounds TRACE BAUD               # host and emulator time in such a record
"""

import argparse
import collections
import concurrent.futures
import datetime
import json
import os
import pathlib
import platform
import random
import re
import select
import shlex
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import threading
import time
import tty

ROOT = pathlib.Path(__file__).resolve().parent.parent

# The board versions a run draws, with the questions each must raise: examples/AppConfig.ini
# names R07.12.00, and a major version 01 to 06 (whatever the letter) looks incompatible.
BOARD_VERSIONS = {"R07.12.00": ["already_flashed"], "R07.10.00": [], "R05.01.00": ["incompatible_firmware"],
                  "X03.99": ["incompatible_firmware"], "R08.00.00   ": []}
BAND_EDGES = [403000000, 450000000, 217000000, 746000000, 762000000, 776000000, 792000000, 136000000]
RECEIVE_BUFFERS = [300, 1024, 1024, 4096]

# The board's map as faults name it: read addresses, command words, and the failure kind a
# run that stops at each must carry (write steps before the boot copy are the boot code's).
ADDR_ESN, ADDR_VERIFY_STATUS = 0x0500, 0x0C00
PAGE_DATA, PAGE_COMMIT, SELECT_BLOCK, ERASE_BLOCK = 0x0000, 0xFFFF, 0x0100, 0x1100
PROGRAMMING_MODE, VERIFY_BOOT, BOOT_COPY, VERIFY_APP, FINISH = 0x1201, 0x3000, 0x3100, 0x1599, 0x1313
APP_BLOCKS = [0x1A, 0x19, 0x18, 0x17, 0x16]  # block 0x1A holds flash 0xA0000, 0x16 holds 0xE0000
# Flash: the application region and the boot area, and where each lies in the 0x60000 image.
APP_BASE, APP_SIZE, BOOT_BASE, BOOT_OFFSET, BOOT_SIZE, PAGE = 0xA0000, 0x50000, 0xFC000, 0x5C000, 0x4000, 256
# Requests a host keeps on the line at most, whatever the board's receive buffer.
MAX_REQUESTS_IN_FLIGHT = 16

# The steps of an upgrade in order, each with the failure kind a stop in it carries.
STEPS = ["ping", "reading", "read_esn", "programming_mode", "erase_block", "boot_write", "boot_verify",
         "boot_copy", "application_write", "application_verify", "finishing"]


# ---------------------------------------------------------------------------------------
# The relay: a pseudo-terminal for fieldkit-cli whose bytes are passed to and from the
# emulator's pseudo-terminal and recorded with their time.

def run_relay(board_device, link_path, trace_path):
    master, slave = os.openpty()
    tty.setraw(slave)
    slave_name = os.ttyname(slave)
    os.close(slave)
    os.set_blocking(master, False)
    board = os.open(board_device, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
    tty.setraw(board)
    os.symlink(slave_name, link_path)

    trace = open(trace_path, "wb")
    stop = []
    signal.signal(signal.SIGTERM, lambda *_: stop.append(True))
    print(slave_name, flush=True)

    def record(direction, data):
        trace.write(struct.pack("<cQI", direction, time.monotonic_ns(), len(data)) + data)

    poller = select.poll()
    poller.register(master, select.POLLIN)
    poller.register(board, select.POLLIN)
    while not stop:
        hung_up = False
        for fd, event in poller.poll(50):
            try:
                data = os.read(fd, 4096) if event & select.POLLIN else b""
            except BlockingIOError:
                continue
            except OSError:  # EIO: nobody has the host side open
                data = b""
            if fd == master and not data:
                hung_up = True
            elif fd == master:
                record(b"H", data)
                os.write(board, data)
            elif data:
                record(b"B", data)
                try:
                    os.write(master, data)
                except OSError:
                    pass  # the host's port is closed: the answer is lost, as on a cable
        if hung_up:
            time.sleep(0.002)  # a master without a host reports hang-up on every poll
    trace.close()
    os.unlink(link_path)


def read_trace(path):
    records = []
    data = path.read_bytes()
    offset = 0
    header = struct.calcsize("<cQI")
    while offset + header <= len(data):
        direction, stamp, length = struct.unpack_from("<cQI", data, offset)
        offset += header
        records.append((direction, stamp, data[offset:offset + length]))
        offset += length
    return records


def print_turnarounds(trace_path, baud):
    """Where the time of a paced run goes, from a relay record: the host's own time from an
    answer to its next frame (without the fixed pauses of 50 ms and more), and the board's
    time from a frame to its answer beyond what the line needs for both."""
    records = read_trace(pathlib.Path(trace_path))
    byte_s = 10 / int(baud)
    host = board = 0.0
    for (kind, stamp, data), (next_kind, next_stamp, next_data) in zip(records, records[1:]):
        gap = (next_stamp - stamp) / 1e9
        if kind == b"B" and next_kind == b"H" and gap < 0.05:
            host += gap
        elif kind == b"H" and next_kind == b"B":
            board += gap - (len(data) + len(next_data)) * byte_s
    print(f"{host:.2f} {board:.2f}")


# ---------------------------------------------------------------------------------------
# The emulator's request log: one line per request that reached the board.

Request = collections.namedtuple("Request", "kind address count data repeat verdict")


def read_request_log(path):
    requests = []
    for line in path.read_text().splitlines() if path.exists() else []:
        kind, address, count, data, handling, verdict, _ = line.split(" ")
        requests.append(Request(kind, int(address, 16), int(count), bytes.fromhex(data) if data != "-" else b"",
                                handling == "repeat", verdict))
    return requests


def step_of(request, copied):
    """The step a request belongs to; `copied` tells whether the boot copy came before it."""
    word = request.address
    if request.kind == "ping":
        return "ping"
    if request.kind == "read":
        if word == ADDR_ESN:
            return "read_esn"
        if word == ADDR_VERIFY_STATUS:
            return "application_verify" if copied else "boot_verify"
        return "reading"
    if word in (PAGE_DATA, PAGE_COMMIT) or SELECT_BLOCK + 0x16 <= word <= SELECT_BLOCK + 0x1A:
        return "application_write" if copied else "boot_write"
    if ERASE_BLOCK + 0x16 <= word <= ERASE_BLOCK + 0x1A:
        return "erase_block"
    return {PROGRAMMING_MODE: "programming_mode", VERIFY_BOOT: "boot_verify", BOOT_COPY: "boot_copy",
            VERIFY_APP: "application_verify", FINISH: "finishing"}.get(word, "unknown")


def last_step(requests):
    if not requests:
        return None
    copied = any(r.kind == "write" and r.address == BOOT_COPY and r.verdict == "ack" for r in requests[:-1])
    return step_of(requests[-1], copied)


# ---------------------------------------------------------------------------------------
# Boards, faults and what each fault must lead to.

class Board:
    """One emulated board's identity and the lodestar-sim options that give it."""

    def __init__(self, rng):
        self.band_edge = rng.choice(BAND_EDGES + [rng.randrange(1, 2**32)])
        self.variant_flag = rng.choice([0, 1, 0x80, rng.randrange(256)])
        self.params = bytes(rng.randrange(256) for _ in range(52))
        self.esn = rng.randrange(2**32)
        self.version = rng.choice(list(BOARD_VERSIONS))
        # Bytes of requests the board holds: one page on the line at a time, three or more, or
        # as many requests as a host keeps at most.
        self.receive_buffer = rng.choice(RECEIVE_BUFFERS)

    def sim_args(self):
        return ["--band-edge", str(self.band_edge), "--variant-flag", str(self.variant_flag),
                "--param-block", self.params.hex(), "--esn", str(self.esn),
                "--version", self.version, "--receive-buffer", str(self.receive_buffer)]

    def image_args(self, identity_read, parameters_read):
        args = []
        if identity_read:
            args += ["--band-edge", str(self.band_edge), "--variant-flag", str(self.variant_flag)]
        if parameters_read:
            args += ["--param-block", self.params.hex()]
        else:
            args += ["--esn", str(self.esn)]
        return args


class Fault:
    """A fault (or a mix of two) and what it must lead to.

    expect: "success", the failure kind the run must stop with, "failure" for any, or None
    when either is fine (line faults: a success, or a clean stop that fits the step the board
    last heard of). refused: the command word the board refuses, which a stop must end at.
    """

    def __init__(self, family, args, expect=None, line=False, identity_read=True,
                 parameters_read=True, version_read=True, warning=False, refused=None):
        self.family, self.args, self.expect, self.line = family, args, expect, line
        self.identity_read, self.parameters_read = identity_read, parameters_read
        self.version_read, self.warning, self.refused = version_read, warning, refused

    def describe(self):
        return " ".join(self.args) or "(none)"


class ImageFacts:
    """Where the non-blank pages of a board's image are: what page faults hit."""

    def __init__(self, image):
        self.boot_pages = [APP_BASE + off for off in range(0, BOOT_SIZE, PAGE)
                           if image[BOOT_OFFSET + off:BOOT_OFFSET + off + PAGE] != b"\xff" * PAGE]
        self.app_pages = [APP_BASE + off for off in range(0, APP_SIZE, PAGE)
                          if image[off:off + PAGE] != b"\xff" * PAGE]

    def blank_page(self, rng):
        blank = sorted(set(range(APP_BASE, APP_BASE + APP_SIZE, PAGE)) - set(self.app_pages)
                       - set(self.boot_pages))
        return rng.choice(blank) if blank else APP_BASE

    def page_failure(self, failing):
        """The outcome of a run whose page writes at these addresses fail three times."""
        if any(address in failing for address in self.boot_pages):
            return "boot_write"
        if any(address in failing for address in self.app_pages):
            return "application_write"
        return "success"

    def select_failure(self, block):
        """The outcome of a run whose board refuses to select this block: every page in it fails."""
        base = APP_BASE + (0x1A - block) * 0x10000
        in_block = {p for p in self.boot_pages + self.app_pages if base <= p < base + 0x10000}
        return self.page_failure(in_block)


# Line fault rates: one byte in 20 to 50 spoils nearly every page frame, so the run stops
# within seconds; one in 1000 or fewer lets it through with retries. Rates in between (one
# in 200 to 500) are left out: every page then takes several tries but seldom all seven,
# and a run may take a quarter of an hour before it ends either way.
def noise_fault(rng, quick):
    n = rng.choice([3, 50, 5000] if quick else [3, 20, 50, 1000, 2000, 5000, 20000])
    return Fault("line noise (--noise)", ["--noise", str(n)], line=True)


def drop_fault(rng, quick):
    n = rng.choice([20, 50, 5000] if quick else [20, 50, 1000, 2000, 5000, 20000])
    return Fault("lost bytes (--drop)", ["--drop", str(n)], line=True)


def page_write_fault(rng, quick, facts):
    kind = rng.choice(["boot", "app", "blank", "every", "several"])
    if kind == "every":
        return Fault("page writes failing (--fail-page-writes)", ["--fail-page-writes", "3"],
                     expect=facts.page_failure(set(facts.boot_pages)))
    if kind == "several":
        pages = rng.sample(facts.boot_pages + facts.app_pages, 3)
        counts = [rng.choice([1, 2, 3]) for _ in pages]
    else:
        pages = [{"boot": lambda: rng.choice(facts.boot_pages),
                  "app": lambda: rng.choice(facts.app_pages),
                  "blank": lambda: facts.blank_page(rng)}[kind]()]
        counts = [rng.choice([1, 2, 3, 3, 5])]
    args = []
    for page, count in zip(pages, counts):
        args += ["--fail-page-writes", f"{count}@0x{page:05X}"]
    failing = {page for page, count in zip(pages, counts) if count >= 3}
    return Fault("page writes failing (--fail-page-writes)", args, expect=facts.page_failure(failing))


def verify_fault(rng, quick):
    target = rng.choice(["boot", "app"])
    return Fault("verify rejected (--reject-verify)", ["--reject-verify", target],
                 expect="boot_verify" if target == "boot" else "application_verify")


def command_fault(rng, quick, facts):
    word = rng.choice([PROGRAMMING_MODE, VERIFY_BOOT, BOOT_COPY, VERIFY_APP, FINISH, PAGE_DATA, PAGE_COMMIT]
                      + [ERASE_BLOCK + b for b in APP_BLOCKS] + [SELECT_BLOCK + b for b in APP_BLOCKS])
    args = ["--fail-command", f"0x{word:04X}"]
    family = "command refused (--fail-command)"
    if word == FINISH:  # the radio is asked to be reset by hand; the firmware is whole
        return Fault(family, args, expect="success", warning=True)
    if SELECT_BLOCK + 0x16 <= word <= SELECT_BLOCK + 0x1A:
        return Fault(family, args, expect=facts.select_failure(word - SELECT_BLOCK))
    expect = step_of(Request("write", word, 1, b"", False, "nak"), False)
    return Fault(family, args, expect=expect, refused=word)


def read_fault(rng, quick):
    family = "board read refused (--fail-read)"
    return rng.choice([
        Fault(family, ["--fail-read", "0x2600"], expect="success", identity_read=False),
        Fault(family, ["--fail-read", "0x4100"], expect="success", parameters_read=False),
        Fault(family, ["--fail-read", "0x4100", "--fail-read", "0x0500"], expect="read_esn"),
        Fault(family, ["--fail-read", "0x0D00"], expect="success", version_read=False),
        Fault(family, ["--fail-read-len", "0x0D00:15"], expect="success"),
        Fault(family, ["--fail-read", "0x0500"], expect="success"),
    ])


def dead_fault(rng, quick, wire_bytes):
    # Half of the cuts fall among the first requests, where every read and the ping are.
    after = rng.randrange(0, 2000) if rng.random() < 0.5 else rng.randrange(0, wire_bytes + 100)
    return Fault("line goes dead (--dead-after)", ["--dead-after", str(after)], line=True)


def no_ping_fault(rng, quick):
    return Fault("no answer to the ping (--no-ping)", ["--no-ping"], expect="ping")


def latency_fault(rng, quick):
    # Answers later than every try of the ping leave the board unheard; short latencies only
    # slow the run (each of the ~3200 answers waits once).
    ms = rng.choice([1, 2, 5, 3000] if quick else [1, 2, 5, 10, 3000])
    return Fault("answer latency (--latency)", ["--latency", str(ms)],
                 expect="ping" if ms >= 3000 else None, line=True)


def mixed_fault(rng, quick, facts, wire_bytes):
    makers = [lambda: noise_fault(rng, True), lambda: drop_fault(rng, True),
              lambda: page_write_fault(rng, quick, facts), lambda: verify_fault(rng, quick),
              lambda: command_fault(rng, quick, facts), lambda: latency_fault(rng, True),
              lambda: dead_fault(rng, quick, wire_bytes)]
    first, second = (maker() for maker in rng.sample(makers, 2))
    line = first.line or second.line
    # With a line fault in the mix any clean stop that fits the step is right; a success
    # is still only allowed when neither fault forbids one.
    expectations = {first.expect, second.expect} - {None}
    if line:
        expect = None if expectations <= {"success"} else "failure"
    else:
        expect = first.expect if first.expect == second.expect else "failure"
    return Fault("two faults mixed", first.args + second.args, expect=expect, line=line,
                 warning=first.warning or second.warning)


FAMILIES = ["none", "noise", "drop", "page", "verify", "command", "read", "dead", "ping",
            "latency", "mixed"]
QUICK_FAMILIES = ["none", "noise", "drop", "page", "verify", "command", "command", "read",
                  "dead", "ping", "latency", "mixed"]


def make_fault(family, rng, quick, facts, wire_bytes):
    return {
        "none": lambda: Fault("no fault", [], expect="success"),
        "noise": lambda: noise_fault(rng, quick),
        "drop": lambda: drop_fault(rng, quick),
        "page": lambda: page_write_fault(rng, quick, facts),
        "verify": lambda: verify_fault(rng, quick),
        "command": lambda: command_fault(rng, quick, facts),
        "read": lambda: read_fault(rng, quick),
        "dead": lambda: dead_fault(rng, quick, wire_bytes),
        "ping": lambda: no_ping_fault(rng, quick),
        "latency": lambda: latency_fault(rng, quick),
        "mixed": lambda: mixed_fault(rng, quick, facts, wire_bytes),
    }[family]()


# ---------------------------------------------------------------------------------------
# Running one upgrade.

class Tools:
    def __init__(self, build, workdir):
        self.cli = build / "cli" / "fieldkit-cli"
        self.sim = build / "sim" / "lodestar-sim"
        for tool in (self.cli, self.sim):
            if not os.access(tool, os.X_OK):
                sys.exit(f"soak: no {tool}; build fieldkit-cli and lodestar-sim first")
        self.firmware = workdir / "firmware"
        shutil.copytree(ROOT / "examples", self.firmware)
        self.images = {}
        self.lock = threading.Lock()

    def image(self, args):
        """The 0x60000-byte image `fieldkit-cli image` builds for these board facts."""
        key = tuple(args)
        with self.lock:
            if key not in self.images:
                out = self.firmware / f"expected-{len(self.images)}.bin"
                subprocess.run([str(self.cli), "image", "--out", str(out), "--yes", *args],
                               cwd=self.firmware, check=True, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
                self.images[key] = out.read_bytes()
            return self.images[key]


def expected_flash(image):
    flash = bytearray(b"\xff" * 0x100000)
    flash[APP_BASE:APP_BASE + APP_SIZE] = image[:APP_SIZE]
    flash[BOOT_BASE:BOOT_BASE + BOOT_SIZE] = image[BOOT_OFFSET:BOOT_OFFSET + BOOT_SIZE]
    return bytes(flash)


def wait_for_link(path, process, timeout):
    """Whether `process` made the symbolic link `path` within `timeout` seconds."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline and process.poll() is None:
        if path.is_symlink():
            return True
        time.sleep(0.01)
    return False


def sim_counters(text):
    numbers = {}
    for name, pattern in [("requests", r"requests (\d+)"), ("bad_frames", r"bad frames (\d+)"),
                          ("overrun", r"bytes overrun (\d+)")]:
        match = re.search(pattern, text)
        numbers[name] = int(match.group(1)) if match else None
    return numbers


def stop(process, how=signal.SIGTERM, wait=10):
    if process.poll() is None:
        process.send_signal(how)
    try:
        return process.communicate(timeout=wait)
    except subprocess.TimeoutExpired:
        process.kill()
        return process.communicate()


class Run:
    def __init__(self, number, board, fault, sim_seed):
        self.number, self.board, self.fault, self.sim_seed = number, board, fault, sim_seed
        self.outcome, self.reasons, self.seconds, self.directory = None, [], 0.0, None

    def bad(self, reason):
        self.reasons.append(reason)


def execute(run, tools, workdir, bound):
    directory = workdir / f"run-{run.number:03d}"
    directory.mkdir()
    run.directory = directory
    for name in ("corvo_boot.s19", "corvo_fwapp.s19", "Info.txt", "AppConfig.ini"):
        (directory / name).symlink_to(tools.firmware / name)
    board_link = directory / "board"
    sim_command = [str(tools.sim), "--link", str(board_link), "--dump-flash", str(directory / "flash.bin"),
                   "--request-log", str(directory / "requests.log"), "--seed", str(run.sim_seed),
                   *run.board.sim_args(), *run.fault.args]
    (directory / "command").write_text(shlex.join(sim_command) + "\n")
    sim = subprocess.Popen(sim_command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                           stdin=subprocess.DEVNULL)
    if not wait_for_link(board_link, sim, 10):
        out, _ = stop(sim)
        run.outcome = "bad"
        run.bad(f"lodestar-sim did not start: {out.strip()}")
        return run
    device = os.path.realpath(board_link)

    started = time.monotonic()
    env = dict(os.environ, FIELDKIT_COM1=str(board_link), FIELDKIT_HISTORY=str(directory / "history.jsonl"))
    cli = subprocess.Popen([str(tools.cli), "upgrade", "--port", "1", "--force"], cwd=directory, env=env,
                           stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    errors = []
    error_reader = threading.Thread(target=lambda: errors.append(cli.stderr.read()))
    error_reader.start()
    output, port_open_at_end = [], False
    timer = threading.Timer(bound, cli.kill)
    timer.start()
    for line in iter(cli.stdout.readline, b""):
        output.append(line)
        # The worker closes the port before it hands over its final text ("Ready..."), so a
        # port still open then was left open.
        if line.startswith(b"Ready"):
            port_open_at_end = port_is_open(cli.pid, device)
    status = cli.wait()
    timer.cancel()
    error_reader.join()
    run.seconds = time.monotonic() - started
    hung = run.seconds >= bound

    sim_out, _ = stop(sim)
    stderr = errors[0].decode(errors="replace") if errors else ""
    (directory / "stdout").write_bytes(b"".join(output))
    (directory / "stderr").write_text(stderr)
    (directory / "sim").write_text(sim_out)

    judge(run, tools, status, hung, stderr, sim_out, port_open_at_end)
    return run


def port_is_open(pid, device):
    try:
        return any(os.readlink(f"/proc/{pid}/fd/{fd}") == device for fd in os.listdir(f"/proc/{pid}/fd"))
    except OSError:
        return False  # the process has gone, and its ports with it


def history_record(run, tools):
    """The run's one history record, as `fieldkit-cli history` reads it back; None if absent."""
    env = dict(os.environ, FIELDKIT_HISTORY=str(run.directory / "history.jsonl"))
    listed = subprocess.run([str(tools.cli), "history", "--format", "json"], env=env, capture_output=True,
                            text=True, stdin=subprocess.DEVNULL)
    records = [json.loads(line) for line in listed.stdout.splitlines() if line.strip()]
    if listed.returncode != 0 or len(records) != 1:
        run.bad(f"{len(records)} history records (history exit {listed.returncode})")
        return None
    return records[0]


def judge(run, tools, status, hung, stderr, sim_out, port_open_at_end):
    fault = run.fault
    if hung:
        run.bad(f"no end within {run.seconds:.0f} s (killed)")
    elif status < 0:
        run.bad(f"ended by signal {-status}")
    if port_open_at_end:
        run.bad("the port was still open when the final text came")

    requests = read_request_log(run.directory / "requests.log")
    counters = sim_counters(sim_out)
    if counters["requests"] is None:
        run.bad("no counters from lodestar-sim")
    elif counters["requests"] != sum(1 for r in requests if not r.repeat):
        run.bad(f"the board counted {counters['requests']} requests, its log {len(requests)}")
    # Without line faults every frame the host sends arrives whole, so a bad frame would be the
    # host's own. (A resend is not: on a busy machine an answer may simply come late.)
    if not fault.line and counters["bad_frames"]:
        run.bad(f"{counters['bad_frames']} bad frames without a line fault")
    # The host keeps no more on the line than the board said it holds.
    if counters["overrun"]:
        run.bad(f"{counters['overrun']} bytes overran the board's receive buffer")
    # From the first erase the board holds no whole firmware: the record must say so.
    erased = any(r.kind == "write" and step_of(r, False) == "erase_block" and r.verdict == "ack" for r in requests)

    record = history_record(run, tools)
    if record is None or hung or status < 0:
        run.outcome = "bad"
        return
    if erased and STAGES.index(record["stage"]) < STAGES.index("erasing"):
        run.bad(f"stage {record['stage']!r} after the board erased a block")
    errors = re.findall(r"^Error:$", stderr, re.M)
    if status == 0 and record["result"] == "success":
        run.outcome = "success"
        judge_success(run, tools, requests, record, errors, stderr)
    elif status == 1 and record["result"] == "failure":
        run.outcome = "clean failure"
        judge_failure(run, requests, record, errors, stderr)
    else:
        run.bad(f"exit status {status} with a {record['result']!r} record")

    identity_read, parameters_read = record["band_edge_hz"] is not None, record["esn"] is None
    asked = [question["kind"] for question in record["questions"]]
    reaches_questions = fault.expect not in (None, "failure", "ping", "read_esn")
    if not fault.line and reaches_questions:
        if (identity_read, parameters_read) != (fault.identity_read, fault.parameters_read):
            run.bad("the host took another path through the board reads than the board offered")
        wanted = BOARD_VERSIONS[run.board.version] if identity_read and parameters_read and fault.version_read else []
        if asked != wanted:
            run.bad(f"questions {asked!r}, expected {wanted!r}")
    if run.reasons:
        run.outcome = "bad"


# The history's stages in order; a run that did not reach "done" left the board without a
# whole firmware from "erasing" on.
STAGES = ["loading_files", "connecting", "reading_board", "programming_mode", "erasing", "writing_boot",
          "verifying_boot", "copying_boot", "writing_application", "verifying_application", "finishing", "done"]


def judge_success(run, tools, requests, record, errors, stderr):
    fault, board = run.fault, run.board
    if fault.expect not in (None, "success"):
        run.bad("success where the fault forbids one")
    if errors or record["stage"] != "done" or record["failure_kind"] is not None:
        run.bad(f"success with {len(errors)} errors, stage {record['stage']!r}, kind {record['failure_kind']!r}")
    if last_step(requests) != "finishing":
        run.bad("a success whose last request is no finish command")
    if fault.warning and not re.search(r"^Warning:$", stderr, re.M):
        run.bad("no warning about the refused finish command")
    if record["band_edge_hz"] not in (None, board.band_edge) or record["esn"] not in (None, board.esn):
        run.bad(f"the record says band edge {record['band_edge_hz']}, ESN {record['esn']}")

    identity_read, parameters_read = record["band_edge_hz"] is not None, record["esn"] is None
    flash_file = run.directory / "flash.bin"
    flash = flash_file.read_bytes() if flash_file.exists() else b""
    expected = expected_flash(tools.image(board.image_args(identity_read, parameters_read)))
    if flash != expected:
        run.bad("SUCCESS WITH WRONG FLASH" + first_difference(flash, expected))


def first_difference(flash, expected):
    if len(flash) != len(expected):
        return f" (dump of {len(flash)} bytes)"
    at = next(i for i in range(len(flash)) if flash[i] != expected[i])
    return f" (first difference at flash 0x{at:05X})"


def judge_failure(run, requests, record, errors, stderr):
    fault = run.fault
    kind = record["failure_kind"]
    if len(errors) != 1 or f"Error:\n{record['message']}" not in stderr:
        run.bad(f"{len(errors)} errors on stderr, or none with the record's message")
    if fault.expect == "success":
        run.bad(f"failed where the fault allows a success: {kind}")
    elif fault.expect not in (None, "failure") and kind != fault.expect:
        run.bad(f"failure kind {kind!r}, the fault calls for {fault.expect!r}")
    # Nothing reaches the board after the failing request: the board's last request belongs to
    # the failing step. A line fault may lose the host's last requests on their way, so then
    # the board's last one may belong to that step or an earlier one.
    at = last_step(requests)
    if kind not in STEPS or (at is not None and at not in STEPS):
        run.bad(f"failure kind {kind!r} after a last request at step {at!r}")
    elif at is None:
        if not fault.line:
            run.bad("a failure without a request reaching the board")
    elif at == "reading" and not fault.line:
        run.bad(f"stopped after a request that cannot stop a run: {requests[-1]}")
    elif at != kind and not (fault.line and STEPS.index(at) < STEPS.index(kind)):
        run.bad(f"failure kind {kind!r} for a stop at {requests[-1]}: a request after the stop, or the wrong kind")
    if fault.refused is not None and not fault.line and requests:
        # Page writes stream several at a time: the writes already on the line when one is
        # refused still reach the board, at most a window of them, all of the same step.
        last = max(i for i, r in enumerate(requests) if r.address == fault.refused) \
            if any(r.address == fault.refused for r in requests) else None
        behind = requests[last + 1:] if last is not None else []
        streamed = fault.refused in (PAGE_DATA, PAGE_COMMIT)
        if last is None or requests[last].verdict != "nak":
            run.bad(f"the last request to 0x{fault.refused:04X} was not refused: "
                    f"{requests[last] if last is not None else None}")
        elif behind and not (streamed and len(behind) <= MAX_REQUESTS_IN_FLIGHT and
                             all(step_of(r, False) == step_of(requests[last], False) for r in behind)):
            run.bad(f"{len(behind)} requests after the refused command, the last {requests[-1]}")


# ---------------------------------------------------------------------------------------
# The soak.

def plan(seed, count, quick, facts, wire_bytes):
    rng = random.Random(seed)
    families = QUICK_FAMILIES if quick else FAMILIES
    runs = []
    for number in range(count):
        family = families[number % len(families)]
        board = Board(rng)
        runs.append(Run(number, board, make_fault(family, rng, quick, facts, wire_bytes),
                        rng.randrange(1, 2**31)))
    return runs


def table(runs):
    rows = collections.OrderedDict()
    for run in runs:
        row = rows.setdefault(run.fault.family, collections.Counter())
        row["runs"] += 1
        row[run.outcome] += 1
        row["seconds"] += run.seconds
    total = collections.Counter()
    for row in rows.values():
        total.update(row)
    lines = ["| fault | runs | successes | clean failures | bad outcomes | mean run (s) |",
             "|---|---:|---:|---:|---:|---:|"]
    for family, row in list(rows.items()) + [("**all**", total)]:
        lines.append(f"| {family} | {row['runs']} | {row['success']} | {row['clean failure']} | "
                     f"{row['bad']} | {row['seconds'] / max(1, row['runs']):.1f} |")
    return "\n".join(lines)


def machine():
    model = ""
    try:
        model = next(line.split(":", 1)[1].strip() for line in open("/proc/cpuinfo")
                     if line.startswith("model name"))
    except (OSError, StopIteration):
        pass
    memory = os.sysconf("SC_PAGE_SIZE") * os.sysconf("SC_PHYS_PAGES") // 2**20
    return (f"{os.cpu_count()} CPUs ({model or platform.machine()}), {memory} MiB, "
            f"{platform.system()} {platform.release()}, load average {os.getloadavg()[0]:.1f} at start")


def write_report(path, text):
    begin, end = "<!-- soak results: begin -->", "<!-- soak results: end -->"
    document = path.read_text() if path.exists() else f"{begin}\n{end}\n"
    if begin not in document:
        document += f"\n{begin}\n{end}\n"
    head, rest = document.split(begin, 1)
    tail = rest.split(end, 1)[1]
    path.write_text(f"{head}{begin}\n{text}\n{end}{tail}")


def soak(options):
    seed = options.seed if options.seed is not None else random.SystemRandom().randrange(2**32)
    count = options.runs or (12 if options.quick else 320)
    jobs = options.jobs or (4 if options.quick else 8)
    command = "scripts/soak.py " + " ".join(shlex.quote(a) for a in sys.argv[1:])
    print(f"soak: seed {seed}, {count} runs, {jobs} at once (repeat with --seed {seed})", flush=True)
    started_at = datetime.datetime.now().astimezone()
    figures = machine()

    workdir = pathlib.Path(tempfile.mkdtemp(prefix="fieldkit-soak-"))
    tools = Tools(options.build.resolve(), workdir)
    reference = Board(random.Random(seed))
    facts = ImageFacts(tools.image(reference.image_args(True, True)))
    # Bytes a whole upgrade puts on the line, for --dead-after: 287 per page and a little more.
    wire_bytes = 287 * (len(facts.boot_pages) + len(facts.app_pages)) + 400
    runs = plan(seed, count, options.quick, facts, wire_bytes)

    started = time.monotonic()
    finished = []
    with concurrent.futures.ThreadPoolExecutor(max_workers=jobs) as pool:
        futures = [pool.submit(execute, run, tools, workdir, options.bound) for run in runs]
        for future in concurrent.futures.as_completed(futures):
            run = future.result()
            finished.append(run)
            mark = "BAD " if run.outcome == "bad" else ""
            print(f"[{len(finished):3d}/{count}] run {run.number:3d} {mark}{run.outcome:13s} "
                  f"{run.seconds:5.1f} s  {run.fault.family}: {run.fault.describe()}", flush=True)
            for reason in run.reasons:
                print(f"          {reason}", flush=True)
    wall = time.monotonic() - started
    finished.sort(key=lambda r: r.number)

    bad = [run for run in finished if run.outcome == "bad"]
    summary = table(finished)
    print()
    print(summary)
    print(f"\n{count} runs in {wall:.0f} s wall; {len(bad)} bad outcomes.")
    if bad:
        print(f"Run directories kept in {workdir} (command, stdout, stderr, sim, requests.log, history.jsonl,"
              " flash.bin).")
    elif not options.keep:
        shutil.rmtree(workdir)

    if not options.quick and options.report:
        lines = [f"Run on {started_at:%Y-%m-%d %H:%M %Z} with `{command}`: seed {seed}, {count} runs, "
                 f"{jobs} at once, {wall:.0f} s wall.", "", f"Machine: {figures}.", "", summary, ""]
        if bad:
            lines.append("Bad outcomes:")
            lines.append("")
            for run in bad:
                lines.append(f"- run {run.number} ({run.fault.describe()}): {'; '.join(run.reasons)}")
        else:
            lines.append("No bad outcomes.")
        write_report(options.report, "\n".join(lines))
        print(f"Table written to {options.report}.")
    return 1 if bad else 0


def main():
    if len(sys.argv) == 5 and sys.argv[1] == "relay":
        run_relay(*sys.argv[2:])
        return 0
    if len(sys.argv) == 4 and sys.argv[1] == "turnarounds":
        print_turnarounds(*sys.argv[2:])
        return 0
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--quick", action="store_true", help="the CI sample: 12 runs of quick faults")
    parser.add_argument("--runs", type=int, help="number of runs (default 320, --quick 12)")
    parser.add_argument("--jobs", type=int, help="runs at once (default 8, --quick 4); they mostly sleep")
    parser.add_argument("--seed", type=int, help="seed of the run plan (default: random, printed)")
    parser.add_argument("--build", type=pathlib.Path, default=ROOT / "build" / "default",
                        help="build directory with cli/fieldkit-cli and sim/lodestar-sim")
    parser.add_argument("--bound", type=float, default=300, help="seconds after which a run counts as hung")
    parser.add_argument("--report", type=pathlib.Path, default=ROOT / "docs" / "soak.md",
                        help="document whose results section the full soak rewrites")
    parser.add_argument("--keep", action="store_true", help="keep the run directories")
    return soak(parser.parse_args())


if __name__ == "__main__":
    sys.exit(main())
