#!/usr/bin/env python3
"""End-to-end runs of the native fwloader against simulated drives.

  fwloader_e2e.py FWLOADER CASE     runs one case (see CASES), exit status 0 when it holds
  fwloader_e2e.py FWLOADER --list   prints the case names

Each case runs the built program in a fresh temporary folder holding a generated firmware file,
with standard input not a terminal (message boxes take their safe answers), and checks standard
output line by line, the exit status, the status texts on standard error, the command trace and
the simulated drive's flash.

The flash check computes the ImageSeal here, independently of the program: CRC-32 with the
generator 0x04C11DB7, most significant bit first, initial register 0x33943510, no final XOR,
over the image's bytes below the last eight, less the window 0x3000..0x3FFF, stored big-endian
and followed by four 0xFF bytes.
"""
import json
import os
import pty
import random
import resource
import re
import signal
import subprocess
import sys
import threading
import time
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..",
                                "scripts"))
from text_records import bank_record, text_records  # noqa: E402

IMAGE = 0x80000
BOOT = 0x4000
BLOCK = 0x1000

# The engine's own log lines: in the JSON document, never on the terminal.
SUCCESS_LOG = ["Please wait for a moment ......", "Firmware update successfully completed!",
               "Restarting CDROM....", "Complete"]
FAILED_LOG = ["Firmware update failed!"]
POLLED_FAILED_LOG = ["Please wait for a moment ......", "Firmware update failed!"]
# The engine's texts that the terminal never shows: the tool says things in its own words.
ENGINE_TEXTS = ["Please wait for a moment", "Firmware update", "Restarting CDROM", "Status:",
                "Unable to start upgrade", "Execute command error", "ERR:", "[NOTE]",
                "Terminate???", "KORVANE WINDOWS", "Buttons:", "Keys:"]

# Standard output of an update, line by line.
UPDATED = ["fwloader: the update succeeded.",
           "fwloader: the drive now reports revision TR08 (TR07 before the update)."]
UNTOUCHED_TR07 = ("fwloader: the update stopped before anything was committed: the drive keeps "
                  "its firmware and reports TR07; it is safe to try again.")
STILL_TR07 = "fwloader: the drive still reports revision TR07."
NOT_STARTED = ["fwloader: no update was started."]
HERE = os.path.dirname(os.path.abspath(__file__))
# The schema of every document the program writes.
SCHEMA = os.path.join(HERE, "..", "..", "app", "fwloader.schema.json")


def firmware():
    rng = random.Random(7305)
    return bytes(rng.getrandbits(8) for _ in range(IMAGE))


def seal(image):
    table = []
    for byte in range(256):
        reg = byte << 24
        for _ in range(8):
            reg = ((reg << 1) ^ 0x04C11DB7) if reg & 0x80000000 else (reg << 1)
            reg &= 0xFFFFFFFF
        table.append(reg)
    reg = 0x33943510
    data = image[:0x3000] + image[0x4000:IMAGE - 8]
    for b in data:
        reg = ((reg << 8) & 0xFFFFFFFF) ^ table[(reg >> 24) ^ b]
    return reg.to_bytes(4, "big") + b"\xff" * 4


def hex_records(image):
    """The image as text records: 32-byte data records, a bank record after each 64 KiB, an end
    record; CR LF between records."""
    return text_records(image, 32, bank_record).encode()


class Trace:
    """The command trace: one (cdb bytes, direction, length, outcome, sense) per line, and the
    bytes moved where the transport reported fewer than the length ("moved N")."""

    def __init__(self, path):
        self.lines = []
        self.moved = []  # per line: the bytes moved, or None where all of them moved
        self.foreign = []  # lines that are not trace lines (another stream's text)
        self.engine = []  # the engine's texts among the commands: "log: ...", "status: ..."
        with open(path, errors="replace") as f:
            for line in f:
                words = line.split()
                i = next((k for k, w in enumerate(words) if w in ("in", "out", "none")), None)
                try:
                    cdb = [int(w, 16) for w in words[:i]] if i and len(words) >= i + 3 else None
                except ValueError:
                    cdb = None
                if cdb is None and line.startswith("# engine "):
                    self.engine.append(line[len("# engine "):].rstrip("\n"))
                    continue
                if cdb is None and line.startswith("#   "):
                    continue  # a further line of the text before
                if cdb is None:
                    self.foreign.append(line)
                    continue
                rest = words[i + 3:]
                moved = None
                if len(rest) >= 2 and rest[-2] == "moved":
                    moved = int(rest[-1])
                    rest = rest[:-2]
                self.lines.append((cdb, words[i], int(words[i + 1]), words[i + 2],
                                   rest[0] if rest else ""))
                self.moved.append(moved)

    def writes(self):  # WRITE BUFFER mode 2: (address, outcome, sense)
        return [(c[3] << 16 | c[4] << 8 | c[5], o, s) for c, _, _, o, s in self.lines
                if c[0] == 0x3B and c[1] == 0x02]

    def reads(self):  # READ BUFFER mode 2
        return [(c[3] << 16 | c[4] << 8 | c[5], o, s) for c, _, _, o, s in self.lines
                if c[0] == 0x3C and c[1] == 0x02]

    def commits(self):
        return [o for c, _, _, o, _ in self.lines if c[0] == 0x3B and c[1] == 0x01]

    def polls_after_commit(self):  # REQUEST SENSE outcomes after the first commit
        i = next((k for k, (c, _, _, _, _) in enumerate(self.lines)
                  if c[0] == 0x3B and c[1] == 0x01), len(self.lines))
        return [o for c, _, _, o, _ in self.lines[i + 1:] if c[0] == 0x03]


class Run:
    def __init__(self, fwloader, folder, args):
        self.folder = folder
        proc = subprocess.Popen([fwloader] + args, cwd=folder, stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        out, err = proc.communicate(timeout=60)
        self.status = proc.returncode
        self.stdout = out.decode()
        self.stderr = err.decode()
        trace = os.path.join(folder, "trace.txt")
        self.trace = Trace(trace) if os.path.exists(trace) else None
        flash = os.path.join(folder, "flash.bin")
        self.flash = open(flash, "rb").read() if os.path.exists(flash) else None


class Check:
    def __init__(self, run):
        self.run = run
        self.failures = []

    def that(self, ok, what):
        if not ok:
            self.failures.append(what)

    def status(self, expected):
        self.that(self.run.status == expected, f"exit status {self.run.status}, want {expected}")

    def log(self, expected):
        got = self.run.stdout.split("\n")
        want = expected + [""]  # every line ends with a line feed
        for n, (g, w) in enumerate(zip(got, want)):
            self.that(g == w, f"standard output line {n + 1}: {g!r}, want {w!r}")
        self.that(len(got) == len(want), f"standard output has {len(got) - 1} lines, want "
                  f"{len(expected)}: {self.run.stdout!r}")

    def says(self, text):
        """`text` on either stream: progress and questions on standard error, results on
        standard output (c.log checks standard output line by line)."""
        self.that(text in self.run.stderr or text in self.run.stdout,
                  f"neither stream holds {text!r}")

    def progress(self, text):
        self.that(text in self.run.stderr, f"standard error lacks {text!r}")

    def in_own_words(self):
        """None of the engine's own texts, nor the Windows dialog's, reaches either stream."""
        for text in ENGINE_TEXTS:
            self.that(text not in self.run.stderr and text not in self.run.stdout,
                      f"the engine's or the dialog's text {text!r} reached the terminal")

    def update_document(self):
        """Standard output as an update's document, valid against the schema; its "update"."""
        doc = self.json()
        if doc is None:
            return None, {}
        try:
            import jsonschema
            with open(SCHEMA) as f:
                jsonschema.validate(doc, json.load(f))
        except ImportError:
            self.that(False, "python3-jsonschema is not installed (scripts/setup-debian)")
        except jsonschema.ValidationError as e:
            self.that(False, f"the document does not validate: {e.message}")
        self.that(doc.get("format") == 1 and doc.get("program") == "fwloader" and
                  doc.get("command") == "update", f"envelope {doc!r}")
        return doc, doc.get("update") or {}

    def usage_error(self, names=None):
        """One line naming the option, then the pointer to --help; nothing else."""
        lines = self.run.stderr.split("\n")
        self.that(len(lines) == 3 and lines[0].startswith("fwloader: ") and
                  lines[1] == "Try 'fwloader --help' for more information." and lines[2] == "",
                  f"not one line and the pointer to --help: {self.run.stderr!r}")
        if names is not None:
            self.that(names in lines[0], f"the usage error does not name {names!r}: {lines[0]!r}")

    def json(self, command=None, status=None):
        """Standard output as the one JSON document it must be (None, and a failure, if not),
        with its envelope: format 1, the program, the command asked and the exit status, and an
        error exactly when that status is not 0."""
        try:
            doc = json.loads(self.run.stdout)
        except ValueError as e:
            self.that(False, f"standard output is not one JSON document ({e}): "
                             f"{self.run.stdout[:300]!r}")
            return None
        if not isinstance(doc, dict):
            self.that(False, f"the document is not an object: {doc!r}")
            return None
        self.that(doc.get("format") == 1 and doc.get("program") == "fwloader",
                  f"envelope {doc!r}")
        if command is not None:
            self.that(doc.get("command") == command, f"command {doc.get('command')!r}")
        if status is not None:
            self.that(doc.get("exit_status") == status, f"exit_status {doc.get('exit_status')!r}")
        self.that(("error" in doc) == (doc.get("exit_status") != 0),
                  f"error {doc.get('error')!r} beside exit_status {doc.get('exit_status')!r}")
        return doc

    def members(self, what, got, want):
        """Each member of `want` as `got` holds it."""
        got = got if isinstance(got, dict) else {}
        for key, value in want.items():
            self.that(got.get(key) == value, f"{what}.{key}: {got.get(key)!r}, want {value!r}")

    def never_restarted(self):
        # The engine's restart offer is answered No without a word.
        for text in ("restart", "Restart"):
            self.that(text not in self.run.stderr and text not in self.run.stdout,
                      f"{text!r} was said")

    def nothing_changed(self):
        """Only INQUIRY reached a drive: nothing that changes anything, not even START STOP UNIT."""
        self.that(self.run.trace is None or all(c[0] == 0x12 for c, *_ in self.run.trace.lines),
                  "a command other than INQUIRY was sent")
        self.that(self.run.flash is None or self.run.flash[BOOT:IMAGE - 8] != firmware()[BOOT:IMAGE - 8],
                  "the drive was flashed")

    def full_transfer(self):
        # Repeated attempts at one block count once: the blocks go out in address order.
        def blocks(commands):
            out = []
            for address, _, _ in commands:
                if address < IMAGE and (not out or out[-1] != address):
                    out.append(address)
            return out
        every = [k * BLOCK for k in range(128)]
        self.that(blocks(self.run.trace.writes()) == every,
                  "WRITE BUFFER addresses are not the 128 blocks in order")
        self.that(blocks(self.run.trace.reads()) == every, "read-backs are not the 128 blocks")

    def flashed(self, image):
        flash = self.run.flash
        self.that(flash is not None and len(flash) == IMAGE, "no 512 KiB flash file")
        if flash is None or len(flash) != IMAGE:
            return
        self.that(flash[BOOT:IMAGE - 8] == image[BOOT:IMAGE - 8],
                  "flash 0x4000.. differs from the firmware file")
        self.that(flash[IMAGE - 8:] == seal(flash), "flash seal trailer is wrong")
        self.that(flash[:BOOT] != image[:BOOT], "flash 0..0x3FFF was not replaced")

    def not_flashed(self, image):
        flash = self.run.flash
        self.that(flash is not None and flash[BOOT:IMAGE - 8] != image[BOOT:IMAGE - 8],
                  "the flash holds the image although the update failed")


def sim(scenario="", scale=20):
    """The simulation's arguments. Its clock, and the program's sleeps with it, run `scale` times
    as fast as real time unless the scenario names its own time-scale: a case waits a few
    hundred milliseconds, not the seconds of a real run."""
    if scale != 1 and "time-scale=" not in scenario:
        scenario = ",".join(item for item in (scenario, f"time-scale={scale}") if item)
    return ["--simulate" + ("=" + scenario if scenario else ""), "--trace", "trace.txt",
            "--sim-flash", "flash.bin", "--yes"]


def unconfirmed(args):
    """The same arguments without --yes: the update asks first."""
    return [a for a in args if a != "--yes"]


def case_success(c, image):
    c.status(0)
    c.log(UPDATED)
    for phase in ("Reading the drive's boot data", "Sending 128 blocks, each read back",
                  "The drive programs its flash (do not power off)"):
        c.progress(f"{phase}: done\n")
    c.progress("Reading the revision again: TR08\n")
    # The engine's texts are kept in the trace, where they came among the commands.
    c.that([t for t in c.run.trace.engine if t.startswith("log: ")] ==
           ["log: " + t for t in SUCCESS_LOG], f"the engine's log in the trace: {c.run.trace.engine}")
    c.that("status: Finished" in c.run.trace.engine, "the engine's last status is not in the trace")
    c.in_own_words()
    c.never_restarted()
    c.full_transfer()
    c.that(c.run.trace.commits() == ["ok"], "not exactly one accepted commit")
    c.flashed(image)


def case_commit_moves_nothing(c, image):
    # A real drive moves no data for the commit: the trace shows the 4096 bytes offered and none
    # moved, and the update succeeds.
    case_success(c, image)
    commit = next(m for (cdb, _, _, _, _), m in zip(c.run.trace.lines, c.run.trace.moved)
                  if cdb[0] == 0x3B and cdb[1] == 0x01)
    c.that(commit == 0, f"the commit moved {commit} bytes, want 0")


def case_unit_attention_polling(c, image):
    # A unit attention read by a poll is asked about again: the update is followed to its end.
    case_success(c, image)
    polls = c.run.trace.polls_after_commit()
    c.that(len(polls) > 2, f"{len(polls)} polls after the commit")


def case_end_after_reset(c, image):
    # The drive resets itself at the end: a unit attention, then an idle drive with the new
    # revision. No poll saw the end (the scenario skips the window), and the tool says so.
    case_end_not_seen(c, image)
    c.says("fwloader: the drive now reports revision TR08 (TR07 before the update).")


def case_hex_file(c, image):
    # The ".HEX" extension selects the text loader; the drive receives the same image.
    case_success(c, image)
    c.progress("  file:     fw.HEX (text records, ")


def case_second_drive(c, image):
    case_success(c, image)
    # The one supported drive among another drive and a disk is chosen, named by its path.
    c.progress("  device:   /dev/sr2\n  model:    KORVADSK RW/DVD KDR-7305C\n")


def case_two_supported(c, image):
    # Two supported drives and no --device: both are listed and neither is chosen.
    c.status(3)
    c.log(NOT_STARTED)
    c.progress("fwloader: 2 supported drives are attached: name the one to update with --device; "
               "nothing was sent:\n  /dev/sr0  KORVADSK RW/DVD KDR-7305C TR07\n"
               "  /dev/sr1  KORVADSK RW/DVD KDR-7305C TR07\n")
    c.nothing_changed()


def case_write_fail_5(c, image):
    case_success(c, image)
    at3 = [(o, s) for a, o, s in c.run.trace.writes() if a == 0x3000]
    c.that(at3 == [("fail", "04/44/00")] * 5 + [("ok", "")], f"block 3 attempts: {at3}")


def case_write_fail_6(c, image):
    c.status(5)
    c.log([UNTOUCHED_TR07,
           "fwloader: sending block 3 of 128: WRITE BUFFER ended in CHECK CONDITION, sense key 4 "
           "(Hardware Error), ASC 0x44 ASCQ 0x00 (Internal target failure) (6 attempts)",
           STILL_TR07])
    c.progress("Sending 128 blocks, each read back: failed\n")
    c.in_own_words()
    c.never_restarted()
    writes = c.run.trace.writes()
    c.that([a for a, _, _ in writes] == [0, 0x1000, 0x2000] + [0x3000] * 6,
           "writes are not blocks 0-2 and six attempts at block 3")
    c.that(not [a for a, _, _ in c.run.trace.reads() if a == 0x3000], "block 3 was read back")
    c.that(c.run.trace.commits() == [], "a commit was sent")
    c.not_flashed(image)


def case_verify_corrupt_6(c, image):
    c.status(5)
    c.log([UNTOUCHED_TR07,
           "fwloader: sending block 10 of 128: READ BUFFER brought back other bytes than the block "
           "sent (6 attempts)", STILL_TR07])
    c.that(len([a for a, _, _ in c.run.trace.writes() if a == 0xA000]) == 6, "not six writes")
    c.that(len([a for a, _, _ in c.run.trace.reads() if a == 0xA000]) == 6, "not six read-backs")
    c.that(c.run.trace.commits() == [], "a commit was sent")
    c.not_flashed(image)


def case_verify_corrupt_2(c, image):
    case_success(c, image)
    c.that(len([a for a, _, _ in c.run.trace.writes() if a == 0xA000]) == 3, "not three writes")


def case_commit_fail(c, image):
    c.status(5)
    c.log([UNTOUCHED_TR07,
           "fwloader: starting the drive's programming: the commit (WRITE BUFFER mode 1) ended in "
           "CHECK CONDITION, sense key 4 (Hardware Error), ASC 0x44 ASCQ 0x00 (Internal target "
           "failure)", STILL_TR07])
    c.full_transfer()
    c.not_flashed(image)


def case_polled_failure(c, image):
    c.status(1)
    c.log(["fwloader: the update failed.",
           "fwloader: the drive needs attention: the image was committed, but the drive's end was "
           "not seen; check it with fwloader --list before using it, and run the update again.",
           "fwloader: while the drive programmed its flash: it stopped answering, and its end of "
           "programming was not seen",
           "fwloader: the drive does not answer after the update: power-cycle it and check with "
           "--list."])
    c.progress("The drive programs its flash (do not power off)")
    c.that(c.run.trace.commits() == ["ok"], "the commit was not accepted")


def case_end_not_seen(c, image):
    # No poll saw the drive's end, but the drive went idle without a failure and, found again,
    # runs the new revision: the flash took the image. The engine's own texts still say what its
    # polling saw; the tool says what the drive says now.
    c.status(0)
    c.log(["fwloader: the drive's end was not seen; it now reports TR08."] + UPDATED)
    c.that(c.run.trace.commits() == ["ok"], "the commit was not accepted")
    c.flashed(image)


def case_hang(c, image):
    # The drive stops answering once it programs: the run keeps polling every 168 ms of the
    # simulation's clock for a minute without an answer (the scenario runs that clock 100 times
    # as fast as real time), then ends as failed.
    case_polled_failure(c, image)
    polls = c.run.trace.polls_after_commit()
    c.that(len(polls) > 1 and all(o == "fail" for o in polls),
           f"{len(polls)} polls after the commit, want more than one, all unanswered")
    # Each pause lasts at least 168 ms of that clock, so the minute has passed by the 359th poll.
    c.that(len(polls) <= 60000 // 168 + 2, f"{len(polls)} polls: more than a minute's worth")


def case_readback_fail(c, image):
    # Without the drive's boot data the image is never sent: nothing is written or flashed.
    c.status(5)
    c.log([UNTOUCHED_TR07,
           "fwloader: reading the drive's boot data: READ BUFFER ended in CHECK CONDITION, sense "
           "key 4 (Hardware Error), ASC 0x44 ASCQ 0x00 (Internal target failure)", STILL_TR07])
    c.that(any(a == 0x180000 and o == "fail" for a, o, _ in c.run.trace.reads()),
           "no failed read-back at 0x180000")
    c.that(c.run.trace.writes() == [], "a block was sent")
    c.not_flashed(image)


def case_interrupted_before_commit(c, image):
    # Ctrl-C while the first block is held: the run stops at its next block, nothing committed.
    c.status(5)
    c.log(["fwloader: stopped before anything was programmed; the drive keeps TR07.", STILL_TR07])
    c.progress("Ctrl-C: stopping at the next block; nothing has been programmed, and the drive "
               "keeps TR07.\n")
    c.progress("Sending 128 blocks, each read back: stopped\n")
    sent = [a for a, _, _ in c.run.trace.writes()]
    c.that(sent in ([], [0]), f"blocks sent after Ctrl-C: {len(sent)}")
    c.that(c.run.trace.commits() == [], "a commit was sent")
    c.in_own_words()
    c.not_flashed(image)


def case_interrupted_while_programming(c, image):
    # Each Ctrl-C while the drive programs is answered, the same words each time; the drive
    # finishes and the outcome is the drive's.
    c.status(0)
    c.log(UPDATED)
    said = ("Ctrl-C: the drive is programming its flash and cannot be stopped; fwloader waits "
            "for it to finish. Do not power off.")
    c.that(c.run.stderr.count(said) == 2, f"{c.run.stderr.count(said)} answers to two Ctrl-C")
    c.that(c.run.trace.commits() == ["ok"], "not exactly one accepted commit")
    c.in_own_words()
    c.flashed(image)


def case_no_supported(c, image):
    c.status(3)
    c.log(NOT_STARTED)
    c.progress("fwloader: none of the optical drives is the supported KORVADSK RW/DVD KDR-7305C; "
               "nothing was sent:\n  /dev/sr0  OTHERCO DVD-ROM DR-1600 1.02\n")
    c.in_own_words()
    c.nothing_changed()


def case_no_drives(c, image):
    c.status(3)
    c.log(NOT_STARTED)
    c.progress("fwloader: no optical drive found; nothing was sent.\n")
    c.that("match" not in c.run.stderr, "the drive model was said not to match")


def refused(file, message):
    """A firmware file that the check refuses: exit 4 before any drive is touched, not even by
    START STOP UNIT or INQUIRY."""
    def check(c, image):
        c.status(4)
        c.log([])
        c.says(f"fwloader: the firmware file {file} is refused: {message}")
        c.says("fwloader: nothing was sent to any drive.")
        c.that(c.run.trace is None or c.run.trace.lines == [], "a command was sent to a drive")
    return check


def case_usage(c, image):
    c.status(2)
    c.log([])
    c.usage_error()


class LiveRun:
    """A run that the case steers while it goes. Standard output and error are read line by line
    as they come; `steer(run)` may wait for a text and send signals. `stdout_lines` closes
    standard output after that many lines, as `| head -n1` does, `stderr_lines` likewise (0: at
    once); `closed` names standard streams that are closed when the program starts."""

    def __init__(self, fwloader, folder, args, steer=None, stdout_lines=None, stderr_lines=None,
                 closed=(), terminal=False, user=None, file_size_limit=None):
        self.folder = folder
        self.failures = []
        self.text = {"stdout": [], "stderr": []}
        self.changed = threading.Condition()

        def close_streams():
            for fd in closed:
                os.close(fd)
            if file_size_limit is not None:
                resource.setrlimit(resource.RLIMIT_FSIZE, (file_size_limit, file_size_limit))
        # With `terminal`, standard input is a pseudo-terminal that `type` writes to.
        self.terminal, stdin = (pty.openpty() if terminal else (None, subprocess.DEVNULL))
        self.proc = subprocess.Popen([fwloader] + args, cwd=folder, stdin=stdin,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                     preexec_fn=close_streams, user=user)
        if terminal:
            os.close(stdin)
            # The terminal's echo is read away, so that it never fills and holds the program.
            threading.Thread(target=self._drain_terminal, daemon=True).start()
        readers = [threading.Thread(target=self._read, args=(name, stream, keep), daemon=True)
                   for name, stream, keep in (("stdout", self.proc.stdout, stdout_lines),
                                              ("stderr", self.proc.stderr, stderr_lines))]
        for reader in readers:
            reader.start()
        if steer is not None:
            steer(self)
        try:
            self.status = self.proc.wait(timeout=60)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.status = self.proc.wait()
            self.failures.append("fwloader did not end within 60 s")
        for reader in readers:
            reader.join(timeout=10)
        if self.terminal is not None:
            os.close(self.terminal)
        self.stdout = "".join(self.text["stdout"])
        self.stderr = "".join(self.text["stderr"])
        trace = os.path.join(folder, "trace.txt")
        self.trace = Trace(trace) if os.path.exists(trace) else None
        flash = os.path.join(folder, "flash.bin")
        self.flash = open(flash, "rb").read() if os.path.exists(flash) else None

    def type(self, text):
        os.write(self.terminal, text.encode())

    def _drain_terminal(self):
        try:
            while os.read(self.terminal, 4096):
                pass
        except OSError:
            pass

    def _read(self, name, stream, keep):
        count = 0
        while keep is None or count < keep:
            line = stream.readline()
            if not line:
                break
            with self.changed:
                self.text[name].append(line.decode(errors="replace"))
                self.changed.notify_all()
            count += 1
        stream.close()
        with self.changed:
            self.changed.notify_all()

    def wait_for(self, name, text, timeout=30):
        """Waits until `text` has appeared on standard output or error; False (and a failure)
        when the program ended or the time passed first."""
        def seen():
            return text in "".join(self.text[name])
        with self.changed:
            self.changed.wait_for(lambda: seen() or self.proc.poll() is not None, timeout)
            if seen():
                return True
        self.failures.append(f"{text!r} did not appear on standard {name[3:]}")
        return False


def files_close_on_exec(run):
    """Every file the program holds besides the standard streams is close-on-exec, so a command
    it runs (the restart) inherits none of them."""
    pid = run.proc.pid
    for fd in os.listdir(f"/proc/{pid}/fd"):
        if int(fd) <= 2:
            continue
        try:
            target = os.readlink(f"/proc/{pid}/fd/{fd}")
            flags = next(int(line.split()[1], 8) for line in open(f"/proc/{pid}/fdinfo/{fd}")
                         if line.startswith("flags:"))
        except OSError:  # closed meanwhile
            continue
        if not flags & 0o2000000:
            run.failures.append(f"descriptor {fd} ({target}) is not close-on-exec")


def signal_before_commit(signo):
    # The first block's WRITE BUFFER takes five seconds to answer (100 s of the simulated clock at
    # 20 times real speed), time enough for the signal even on a loaded machine under a sanitizer:
    # it arrives while the run is held there, before the commit, and the run stops at its check
    # before the next block.
    def steer(run):
        if run.wait_for("stderr", "Sending 128 blocks, each read back"):
            files_close_on_exec(run)
            run.proc.send_signal(signo)
            run.wait_for("stderr", "Terminated by")
    return steer


def signal_after_commit(*signals):
    # The programming phase is shown once the commit went to the drive: the signals reach a
    # drive that has been told to program its flash.
    def steer(run):
        if not run.wait_for("stderr", "The drive programs its flash"):
            return
        run.proc.send_signal(signals[0])
        run.wait_for("stderr", "Terminated by")
        for signo in signals[1:]:
            run.proc.send_signal(signo)
    return steer


def signal_at_question(signo):
    # The signal comes while the question waits on the terminal: nothing is sent after the
    # discovery's INQUIRY.
    def steer(run):
        if run.wait_for("stderr", "  file:     "):
            time.sleep(0.5)  # the question itself ends with no line feed
            run.proc.send_signal(signo)
    return steer


def stopped_while_programming(stop, resume=None, held=1.0):
    # Job control while the drive programs: the stop arrives right after the commit; SIGSTOP
    # cannot be refused, so the program is held `held` seconds (20 times as long on the
    # simulation's clock, past the drive's end) and continued.
    def steer(run):
        if not run.wait_for("stderr", "The drive programs its flash"):
            return
        run.proc.send_signal(stop)
        if resume is not None:
            time.sleep(held)
            run.proc.send_signal(resume)
    return steer


def interrupt_before_commit(run):
    # The first block's WRITE BUFFER is held for seconds: Ctrl-C comes before the commit.
    if run.wait_for("stderr", "Sending 128 blocks, each read back"):
        run.proc.send_signal(signal.SIGINT)
        run.wait_for("stderr", "Ctrl-C: stopping")


def interrupt_while_programming(run):
    # Two Ctrl-C once the drive programs, the second after the first was answered.
    if run.wait_for("stderr", "The drive programs its flash"):
        run.proc.send_signal(signal.SIGINT)
        if run.wait_for("stderr", "cannot be stopped"):
            run.proc.send_signal(signal.SIGINT)


def replaced_at_question(run):
    # Another file takes the firmware file's name while the question waits (a new download, an
    # editor's save); the update must flash what it showed.
    if not run.wait_for("stderr", "  file:     "):
        return
    time.sleep(0.5)  # the question itself ends with no line feed
    other = bytes((b + 1) & 0xFF for b in firmware())
    path = os.path.join(run.folder, "QF2TR08.BIN")
    with open(path + ".new", "wb") as f:
        f.write(other)
    os.replace(path + ".new", path)
    run.type("y\n")


def make_fifo(folder, image):
    os.mkfifo(os.path.join(folder, "fifo.bin"))


def make_outputs_that_block(folder, image):
    os.mkfifo(os.path.join(folder, "out.fifo"))
    os.mkdir(os.path.join(folder, "outdir"))


# A 512-character path whose first 511 characters name another firmware file.
LONG_PATH_CUT = "d" * 250 + "/" + "e" * 250 + "/" + "abcde.bin"
LONG_PATH = LONG_PATH_CUT + "2"


def make_long_paths(folder, image):
    os.makedirs(os.path.join(folder, os.path.dirname(LONG_PATH_CUT)))
    for path in (LONG_PATH_CUT, LONG_PATH):
        with open(os.path.join(folder, path), "wb") as f:
            f.write(image)


def link_to_hex(folder, image):
    os.symlink("fw.HEX", os.path.join(folder, "link.HEX"))


def case_file_too_long(c, image):
    c.status(2)
    c.log([])
    c.says("--file is longer than the 511 characters that the Source File holds")
    c.that(c.run.trace is None and c.run.flash is None, "a run was started")


def unchanged(path, content):
    def check(c, image):
        c.status(2)
        c.log([])
        c.says("fwloader: --")
        with open(os.path.join(c.run.folder, path), "rb") as f:
            c.that(f.read() == content(image), f"{path} was changed")
    return check


def case_output_files_collide(c, image):
    c.status(2)
    c.log([])
    c.says("fwloader: --trace and --sim-flash name the same file")


def output_refused(option, path, why):
    # An output that cannot be written without blocking, or is no file, is refused at start:
    # the program neither hangs nor asks any drive anything.
    def check(c, image):
        c.status(2)
        c.log([])
        c.says(f"fwloader: {option} {path}: {why}")
        c.that(c.run.trace is None or c.run.trace.lines == [], "a command was sent")
    return check


def case_stdout_closed_early(c, image):
    # Standard output read for one line only, as `fwloader | head -n1` does; the lines after it
    # meet a closed pipe.
    c.status(5)
    c.log([UNTOUCHED_TR07])
    c.that(c.run.trace.commits() == ["fail"], "the commit did not fail")


def case_stderr_closed_early(c, image):
    c.status(5)
    c.that(c.run.stdout.startswith(UNTOUCHED_TR07 + "\n"), f"standard output {c.run.stdout!r}")
    c.that(c.run.trace.commits() == [], "a commit was sent")


def terminated_before_commit(name):
    def check(c, image):
        c.status(5)
        c.progress(f"Terminated by {name}: the update stops at its next check")
        c.log(["fwloader: stopped before anything was programmed; the drive keeps TR07.",
               STILL_TR07])
        # At most the block that was held when the signal came (none if the signal was taken
        # before the first block's check): the run stopped at its next check.
        sent = [a for a, _, _ in c.run.trace.writes()]
        c.that(sent in ([], [0]), f"blocks sent after the signal: {len(sent)}")
        c.that(c.run.trace.commits() == [], "a commit was sent")
        c.not_flashed(image)
    return check


def terminated_after_commit(name):
    # The programming drive is left to finish, whatever signals follow; its outcome is reported.
    def check(c, image):
        c.status(0)
        c.progress(f"Terminated by {name}: the drive is programming its flash and cannot be "
                   "stopped; fwloader waits for it to finish.")
        c.log(UPDATED)
        c.full_transfer()
        c.that(c.run.trace.commits() == ["ok"], "not exactly one accepted commit")
        c.flashed(image)
    return check


def terminated_at_question(name):
    def check(c, image):
        c.status(3)
        c.log(NOT_STARTED)
        c.says(f"fwloader: terminated by {name} before the update started; nothing was sent to "
               "the drive.")
        c.that(all(cdb[0] == 0x12 for cdb, _, _, _, _ in c.run.trace.lines),
               "a command other than INQUIRY was sent")
        c.nothing_changed()
    return check


def case_stop_ignored(c, image):
    # The stop keys do nothing from the confirmation on: the run goes through and sees the end.
    case_success(c, image)


def case_held_by_sigstop(c, image):
    # Held while the drive finished: no poll saw its end, and the drive, read again, runs the
    # new revision. Never a plain failure.
    c.status(0)
    c.says("fwloader: the drive now reports revision TR08 (TR07 before the update).")
    c.flashed(image)


def case_trace_over_size_limit(c, image):
    # The trace meets a file-size limit: SIGXFSZ must not kill the program, the update goes on,
    # and the incomplete trace is said.
    c.status(0)
    c.says("fwloader: the update succeeded.")
    c.says("fwloader: the trace trace.txt could not be written in full")


def case_closed_at_start(c, image):
    # Standard output and error closed at start are /dev/null: the trace holds trace lines alone.
    c.status(5)
    c.that(not c.run.trace.foreign, f"other text in the trace: {c.run.trace.foreign[:3]}")
    c.that(c.run.trace.writes(), "no block was sent")


def case_escaped_file_name(c, image):
    refused("fw\\x1b]0;owned\\x07.bin", "ERR: fail to read input file!")(c, image)
    c.that("\x1b" not in c.run.stderr and "\x07" not in c.run.stderr,
           "a control character reached standard error")


def case_escaped_usage_error(c, image):
    c.status(2)
    c.usage_error("unrecognized option '--bogus\\x1b[2J'")
    c.that("\x1b" not in c.run.stderr, "a control character reached standard error")


def case_boot_data_differs(c, image):
    # The boot data is read twice; the first read of 0x180000 differs in one byte, so the two
    # reads disagree and nothing is sent: a wrong boot area is never sealed and flashed.
    case_readback_fail_common(c, image)
    c.that(len([a for a, _, _ in c.run.trace.reads() if a == 0x180000]) == 2,
           "0x180000 not read twice")


def case_prepare_fail(c, image):
    case_readback_fail_common(c, image)
    c.that(c.run.trace.reads() == [], "a read-back followed a failed prepare command")


def case_readback_fail_common(c, image):
    c.status(5)
    c.that(c.run.stdout.startswith(UNTOUCHED_TR07 + "\nfwloader: reading the drive's boot data: "),
           f"standard output {c.run.stdout!r}")
    c.that(c.run.trace.writes() == [], "a block was sent")
    c.that(c.run.trace.commits() == [], "a commit was sent")
    c.not_flashed(image)


def case_missed_answers(c, image):
    # A drive that misses a few progress polls while it programs is still followed to its end.
    case_success(c, image)
    polls = c.run.trace.polls_after_commit()
    c.that(polls[:3] == ["fail"] * 3 and "ok" in polls, f"polls after the commit: {polls[:6]}")


# A FIFO without a writer named as the firmware file is refused at once, not waited on.
case_not_a_file = refused("fifo.bin", "ERR: fail to read input file!")


def image_sum(image):
    """The 16-bit sum of the image as the file fills it."""
    return sum(image) & 0xFFFF


def streams(status, stdout=(), stdout_is=None, stderr_empty=False):
    """A run judged by its exit status and what its two streams hold."""
    def check(c, image):
        c.status(status)
        for text in stdout:
            c.that(re.search(text, c.run.stdout), f"standard output lacks {text!r}")
        if stdout_is is not None:
            c.that(re.fullmatch(stdout_is, c.run.stdout), f"standard output {c.run.stdout!r}")
        if stderr_empty:
            c.that(c.run.stderr == "", f"standard error is not empty: {c.run.stderr!r}")
    return check


def usage(names):
    def check(c, image):
        case_usage(c, image)
        c.usage_error(names)
    return check


def checked(file, form):
    """--check of a file the updater accepts: what it holds, on standard output; no drive."""
    def check(c, image):
        streams(0, stdout=[rf"file: +{re.escape(file)}\n", rf"format: +{form}, chosen by the extension",
                           r"image bytes: 524288 supplied by the file \(100\.0 % of the "
                           r"524288-byte image",
                           rf"image sum: +0x{image_sum(image):04X} ", r"verdict: +accepted\n"],
                stderr_empty=True)(c, image)
    return check


def check_refused(message, reason=None):
    """--check of a refused file: the update's message, and the loader's reason where it gives
    one."""
    def check(c, image):
        lines = [r"verdict: +refused: " + re.escape(message) + "\n"]
        if reason is not None:
            lines.append(r"reason: +" + re.escape(reason) + "\n")
        streams(4, stdout=lines, stderr_empty=True)(c, image)
    return check


def json_update(outcome, status, log, device=True, after=None, path="/dev/sr0", error=None):
    """--json of an update: one document on standard output whatever the outcome, valid against
    the schema, the engine's log lines in it and nowhere else on standard output; `error` the
    members its error must have."""
    def check(c, image):
        c.status(status)
        envelope, doc = c.update_document()
        if envelope is None:
            return
        c.that(envelope.get("exit_status") == status, f"exit_status {envelope.get('exit_status')}")
        if error is None:
            c.that("error" not in envelope, f"an error in a success: {envelope.get('error')!r}")
        else:
            got = envelope.get("error") or {}
            for key, value in error.items():
                c.that(got.get(key) == value, f"error {key}: {got.get(key)!r}, want {value!r}")
            c.that(bool(got.get("message")) and bool(got.get("engine_text")), f"error {got!r}")
        c.that(doc.get("outcome") == outcome, f"outcome {doc.get('outcome')!r}")
        c.that(doc.get("log") == log, f"log {doc.get('log')!r}, want {log!r}")
        c.that(doc.get("file") == "QF2TR08.BIN", f"file {doc.get('file')!r}")
        c.that(doc.get("image_sum") == f"0x{image_sum(image):04X}", f"sum {doc.get('image_sum')}")
        if device:
            c.that(doc.get("device") == path and
                   doc.get("model") == "KORVADSK RW/DVD KDR-7305C" and
                   doc.get("revision_before") == "TR07", f"drive {doc!r}")
        else:
            c.that(doc.get("device") is None and doc.get("model") is None, f"drive {doc!r}")
        c.that("revision_after" in doc and doc["revision_after"] == after,
               f"revision_after {doc.get('revision_after')!r}, want {after!r}")
    return check


def json_failure(command, status, update=None, file=None, error=None):
    """--json of a run that ends before any update: still one document, saying why in its
    error; `update`, `file` and `error` name members the document's objects must hold."""
    def check(c, image):
        c.status(status)
        doc = c.json(command, status)
        if doc is None:
            return
        c.that(isinstance(doc.get("error"), dict) and doc["error"].get("message"),
               f"the document says no reason: {doc!r}")
        for what, want in (("update", update), ("file", file), ("error", error)):
            if want is not None:
                c.members(what, doc.get(what), want)
    return check


def json_update_refused(outcome, status, **fields):
    """--json of an update that ends before it began: still one document, its error saying why."""
    def check(c, image):
        c.status(status)
        envelope, doc = c.update_document()
        if envelope is None:
            return
        c.that(envelope.get("exit_status") == status and doc.get("outcome") == outcome,
               f"outcome {doc.get('outcome')!r} / {envelope.get('exit_status')!r}")
        for key, value in fields.items():
            c.that(doc.get(key) == value, f"{key}: {doc.get(key)!r}, want {value!r}")
        c.that((envelope.get("error") or {}).get("message"), "the document says no reason")
        c.nothing_changed()
    return check


def json_check(accepted, status, error=None, **fields):
    def check(c, image):
        c.status(status)
        doc = c.json("check", status)
        if doc is None:
            return
        file = doc.get("file", {})
        c.that(file.get("accepted") is accepted, f"accepted {file.get('accepted')!r}")
        c.members("file", file, {k: v(image) if callable(v) else v for k, v in fields.items()})
        if error is not None:
            c.members("error", doc.get("error"), error)
    return check


def not_confirmed(reason):
    def check(c, image):
        c.status(3)
        c.log(NOT_STARTED)
        c.says("About to update the firmware:\n  device:   ")
        c.says("  revision: TR07\n")
        c.says(f"  file:     QF2TR08.BIN (binary, 524288 bytes, image sum 0x{image_sum(image):04X})")
        c.says(f"fwloader: {reason}; nothing was sent to the drive.")
        c.says("fwloader: no update was started.")
        c.nothing_changed()
    return check


def confirmed_on_terminal(c, image):
    case_success(c, image)
    c.says("Update the firmware of ")
    c.that("Confirmed by --yes" not in c.run.stderr, "--yes answered, not the terminal")


def typing(text):
    def steer(run):
        run.type(text)
    return steer


def case_unprivileged_refused(c, image):
    c.status(2)
    c.log([])
    c.says("fwloader: an update needs root or CAP_SYS_RAWIO")
    c.that(c.run.trace is None, "the trace was opened: the run went on")


def world_readable(folder, image):
    os.chmod(folder, 0o755)


def listed(status, lines, stderr=None):
    """--list: one line per optical drive on standard output, INQUIRY the only command."""
    def check(c, image):
        c.status(status)
        c.log(lines)
        if stderr:
            c.says(stderr)
        c.nothing_changed()
        c.that(c.run.trace is not None and len(c.run.trace.lines) >= len(lines),
               "the trace does not show the INQUIRY commands")
    return check


def json_listed(drives):
    def check(c, image):
        status = 0 if any(d["supported"] for d in drives) else 3
        c.status(status)
        doc = c.json("list", status)
        c.that(doc is not None and doc.get("drives") == drives,
               f"drives {doc and doc.get('drives')!r}, want {drives!r}")
    return check


def device_refused(reason):
    def check(c, image):
        c.status(3)
        c.log(NOT_STARTED)
        c.says(f"fwloader: {reason}")
        c.says("; nothing was sent to it.")
        c.nothing_changed()
    return check


def case_revision_unchanged(c, image):
    c.status(0)
    c.log(["fwloader: the update succeeded.",
           "fwloader: the drive still reports TR07: power-cycle it and check with --list."])
    c.flashed(image)


def make_bad_files(folder, image):
    text = hex_records(image)
    # The first record's checksum off by one: the text loader's own check refuses it.
    first = text.index(b"\r\n")
    last = int(text[first - 2:first], 16)
    with open(os.path.join(folder, "bad.hex"), "wb") as f:
        f.write(text[:first - 2] + b"%02X" % ((last + 1) & 0xFF) + text[first:])
    with open(os.path.join(folder, "big.bin"), "wb") as f:
        f.write(image + b"\0")
    # Data only where the drive's own boot data will stand: nothing of the file would survive.
    with open(os.path.join(folder, "boot.hex"), "wb") as f:
        f.write(b":040000001122334452\r\n:00000001FF\r\n")
    with open(os.path.join(folder, "short.bin"), "wb") as f:
        f.write(image[:0x4000])


CASES = {
    "success": (sim(), case_success),
    "commit_moves_nothing": (sim(), case_commit_moves_nothing),
    "sense_14_bytes": (sim("sense-length=14"), case_success),
    "residual_none": (sim("residual=none"), case_success),
    "unit_attention_polling": (sim("ua-at=275"), case_unit_attention_polling),
    "end_reset": (sim("skip-end-window,finish=0,end=reset"), case_end_after_reset),
    "end_vanish": (sim("skip-end-window,finish=0,end=vanish,time-scale=100"),
                   case_end_after_reset),
    "hex_file": (sim() + ["--file", "fw.HEX"], case_hex_file),
    "second_drive": (sim("drives=other+disk+kdr"), case_second_drive),
    "two_supported": (sim("drives=kdr+kdr"), case_two_supported),
    "write_fail_5": (sim("write-fail=3:5"), case_write_fail_5),
    "write_fail_6": (sim("write-fail=3:6"), case_write_fail_6),
    "verify_corrupt_2": (sim("verify-corrupt=10:2"), case_verify_corrupt_2),
    "verify_corrupt_6": (sim("verify-corrupt=10:6"), case_verify_corrupt_6),
    "commit_fail": (sim("commit-fail"), case_commit_fail),
    "skip_end_window": (sim("skip-end-window"), case_end_not_seen),
    "hang": (sim("hang,time-scale=100"), case_hang),
    "readback_fail": (sim("readback-fail"), case_readback_fail),
    "interrupted_before_commit": (sim("slow-write=0:100000"), case_interrupted_before_commit),
    "interrupted_while_programming": (sim(scale=1), case_interrupted_while_programming),
    "no_supported": (sim("drives=other"), case_no_supported),
    "no_drives": (sim("drives=none"), case_no_drives),
    "refused_boot_area_only": (sim() + ["--file", "boot.hex"],
                               refused("boot.hex", "ERR: input file format mismatched!")),
    "refused_short_binary": (sim() + ["--file", "short.bin"],
                             refused("short.bin", "ERR: input file format mismatched!")),
    "bad_extension": (sim() + ["--file", "fw.txt"],
                      refused("fw.txt", "Update file name is not correct!")),
    "missing_file": (sim() + ["--file", "missing.bin"],
                     refused("missing.bin", "ERR: fail to read input file!")),
    "unknown_option": (["--simulate", "--bogus"], case_usage),
    "bad_scenario": (["--simulate=drives=cdrom"], case_usage),
    "file_without_path": (["--simulate", "--file"], case_usage),
    "file_too_long": (sim() + ["--file", LONG_PATH], case_file_too_long),
    "trace_over_default_firmware": (["--simulate", "--trace", "QF2TR08.BIN", "--sim-flash",
                                     "flash.bin"], unchanged("QF2TR08.BIN", lambda image: image)),
    "flash_over_firmware_link": (["--simulate", "--file", "fw.HEX", "--trace", "trace.txt",
                                  "--sim-flash", "link.HEX"], unchanged("fw.HEX", hex_records)),
    "trace_is_sim_flash": (["--simulate", "--trace", "out.bin", "--sim-flash", "./out.bin"],
                           case_output_files_collide),
    "trace_fifo": (["--simulate", "--yes", "--trace", "out.fifo"],
                   output_refused("--trace", "out.fifo", "a FIFO that nothing reads")),
    "sim_flash_fifo": (["--simulate", "--yes", "--trace", "trace.txt", "--sim-flash", "out.fifo"],
                       output_refused("--sim-flash", "out.fifo", "a FIFO that nothing reads")),
    "trace_device": (["--simulate", "--yes", "--trace", "/dev/null"],
                     output_refused("--trace", "/dev/null", "not a regular file")),
    "trace_directory": (["--simulate", "--yes", "--trace", "outdir"],
                        output_refused("--trace", "outdir", "Is a directory")),
    "stdout_closed_early": (sim("commit-fail"), case_stdout_closed_early),
    "stderr_closed_early": (sim("write-fail=0:6"), case_stderr_closed_early),
    "sigterm_before_commit": (sim("slow-write=0:100000"), terminated_before_commit("SIGTERM")),
    "sighup_before_commit": (sim("slow-write=0:100000"), terminated_before_commit("SIGHUP")),
    "sigterm_after_commit": (sim(scale=1), terminated_after_commit("SIGTERM")),
    "closed_at_start": (sim("write-fail=0:6"), case_closed_at_start),
    "sigterm_at_question": (unconfirmed(sim()), terminated_at_question("SIGTERM")),
    "sighup_at_question": (unconfirmed(sim()), terminated_at_question("SIGHUP")),
    "sigquit_after_commit": (sim(scale=1), terminated_after_commit("SIGQUIT")),
    "trace_over_size_limit": (["--simulate=time-scale=20", "--trace", "trace.txt", "--yes"],
                              case_trace_over_size_limit),
    "sigtstp_while_programming": (sim(scale=1), case_stop_ignored),
    "sigstop_while_programming": (sim(), case_held_by_sigstop),
    "file_replaced_at_question": (unconfirmed(sim()), confirmed_on_terminal),
    "escaped_file_name": (sim("drives=other") + ["--file", "fw\x1b]0;owned\x07.bin"],
                          case_escaped_file_name),
    "escaped_usage_error": (["--simulate", "--bogus\x1b[2J"], case_escaped_usage_error),
    "boot_data_differs": (sim("verify-corrupt=384:1"), case_boot_data_differs),
    "prepare_fail": (sim("prepare-fail"), case_prepare_fail),
    "missed_answers": (sim("missed-answers=3"), case_missed_answers),
    "fifo_file": (sim() + ["--file", "fifo.bin"], case_not_a_file),
    # The command line's conventions and exit statuses.
    "help": (["--help"], streams(0, stdout=[r"^Usage: fwloader", r"Exit status:\n",
                                            r"  4  the firmware file was refused"],
                                 stderr_empty=True)),
    "help_short": (["-h"], streams(0, stdout=[r"^Usage: fwloader"], stderr_empty=True)),
    "version": (["--version"], streams(0, stdout_is=r"fwloader \d+\.\d+\n", stderr_empty=True)),
    "version_short": (["-V"], streams(0, stdout_is=r"fwloader \d+\.\d+\n", stderr_empty=True)),
    "unknown_short": (["-yx"], usage("invalid option -- 'x'")),
    "value_missing": (["--device"], usage("'--device'")),
    "value_empty": (["--file="], usage("'--file'")),
    "value_not_allowed": (["--yes=no"], usage("'--yes'")),
    "extra_argument": (["QF2TR08.BIN"], usage("'QF2TR08.BIN'")),
    "list_and_check": (["--list", "--check"], usage("--list and --check")),
    "equals_form": (["--simulate=time-scale=20", "--file=fw.HEX", "--trace=trace.txt",
                     "--sim-flash=flash.bin", "-y"], case_hex_file),
    "check_default": (["--check"], checked("QF2TR08.BIN", "binary")),
    "check_hex": (["--check", "fw.HEX"], checked("fw.HEX", "text records")),
    "check_file_option": (["--check", "--file=fw.HEX"], checked("fw.HEX", "text records")),
    "check_bad_extension": (["--check", "fw.txt"], check_refused("Update file name is not correct!")),
    "check_missing": (["--check", "missing.bin"], check_refused("ERR: fail to read input file!")),
    "check_bad_records": (["--check", "bad.hex"],
                          check_refused("ERR: input file format mismatched!",
                                        "line 1: the record's checksum does not match (its bytes "
                                        "sum to 01, not 00)")),
    "check_oversized": (["--check", "big.bin"],
                        check_refused("ERR: input file format mismatched!",
                                      "the file is longer than the 524288-byte image")),
    "refused_bad_records": (sim() + ["--file", "bad.hex"],
                            refused("bad.hex", "ERR: input file format mismatched!\n"
                                    "fwloader: line 1: the record's checksum does not match")),
    # Looking before leaping, choosing the drive, and the revision read again.
    "list": (["--simulate=drives=other+disk+kdr", "--list", "--trace", "trace.txt"],
             listed(0, ["/dev/sr0   OTHERCO  DVD-ROM DR-1600  1.02 other model",
                        "/dev/sr2   KORVADSK RW/DVD KDR-7305C TR07 supported"])),
    "list_other_only": (["--simulate=drives=other", "-l", "--trace=trace.txt"],
                        listed(3, ["/dev/sr0   OTHERCO  DVD-ROM DR-1600  1.02 other model"],
                               "none of them is the supported KORVADSK RW/DVD KDR-7305C")),
    "list_no_drives": (["--simulate=drives=none", "--list", "--trace", "trace.txt"],
                       listed(3, [], "fwloader: no optical drive found")),
    "device_chosen": (sim("drives=kdr+kdr") + ["--device", "/dev/sr1", "--json"],
                      json_update("updated", 0, SUCCESS_LOG, after="TR08", path="/dev/sr1")),
    "device_other": (sim("drives=other+kdr") + ["--device=/dev/sr0"],
                     device_refused("/dev/sr0 holds OTHERCO DVD-ROM DR-1600 1.02, not the "
                                    "supported KORVADSK RW/DVD KDR-7305C")),
    "device_not_optical": (sim("drives=disk+kdr") + ["-d", "/dev/sr0"],
                           device_refused("/dev/sr0 is not an optical drive (device type 0)")),
    "device_not_sr": (sim() + ["--device", "/dev/null"],
                      device_refused("/dev/null is not an optical drive: those are /dev/sr0")),
    "device_missing": (sim() + ["--device", "/dev/sr5"],
                       device_refused("cannot open /dev/sr5")),
    "revision_unchanged": (sim("same-revision"), case_revision_unchanged),
    # The confirmation: asked on a terminal, --yes without one.
    "not_confirmed": (unconfirmed(sim()),
                      not_confirmed("no terminal to confirm the update on: run with --yes to "
                                    "update without the question")),
    "confirmed_on_terminal": (unconfirmed(sim()), confirmed_on_terminal),
    "declined_on_terminal": (unconfirmed(sim()), not_confirmed("the update was not confirmed")),
    "enter_is_no_on_terminal": (unconfirmed(sim()),
                                not_confirmed("the update was not confirmed")),
    "unprivileged_refused": (["--trace", "trace.txt"], case_unprivileged_refused),
    # --json on success and on each kind of failure.
    "json_not_confirmed": (unconfirmed(sim()) + ["--json"],
                           json_update_refused("not started", 3, log=[],
                                               revision_before="TR07", revision_after=None)),
    "json_updated": (sim() + ["--json"], json_update("updated", 0, SUCCESS_LOG, after="TR08")),
    "json_untouched": (sim("write-fail=3:6") + ["--json"],
                       json_update("untouched", 5, FAILED_LOG, after="TR07", error={
                           "phase": "transfer", "block": 3,
                           "engine_text": "Execute command error!!  4/44/ 0",
                           "sense": {"key": 4, "asc": 0x44, "ascq": 0,
                                     "key_text": "Hardware Error",
                                     "asc_text": "Internal target failure"}})),
    "json_needs_attention": (sim("hang,time-scale=100") + ["--json"],
                             json_update("needs attention", 1, POLLED_FAILED_LOG, after=None,
                                         error={"phase": "programming"})),
    "json_not_started": (sim("drives=other") + ["--json"],
                         json_update_refused("not started", 3, device=None)),
    "json_two_supported": (sim("drives=kdr+kdr") + ["--json"],
                           json_update_refused("not started", 3, device=None)),
    "json_refused": (sim() + ["--json", "--file", "fw.txt"],
                     json_update_refused("file refused", 4, file="fw.txt")),
    "json_usage": (["--json", "--bogus"], json_failure("usage", 2)),
    "json_list": (["--simulate=drives=other+kdr", "--list", "--json"],
                  json_listed([{"device": "/dev/sr0", "vendor": "OTHERCO",
                                "product": "DVD-ROM DR-1600", "revision": "1.02",
                                "supported": False},
                               {"device": "/dev/sr1", "vendor": "KORVADSK",
                                "product": "RW/DVD KDR-7305C", "revision": "TR07",
                                "supported": True}])),
    "json_list_none": (["--simulate=drives=none", "--list", "--json"], json_listed([])),
    "json_device_refused": (sim("drives=other") + ["--device", "/dev/sr0", "--json"],
                            json_update_refused("not started", 3, device="/dev/sr0")),
    "json_bad_scenario": (["--json", "--simulate=drives=cdrom"], json_failure("usage", 2)),
    "json_set_up": (["--json", "--simulate", "--trace", "no-folder/trace.txt"],
                    json_failure("update", 2)),
    "json_check": (["--check", "--json"],
                   json_check(True, 0, path="QF2TR08.BIN", format="binary", image_bytes=IMAGE,
                              image_sum=lambda image: f"0x{image_sum(image):04X}")),
    "json_check_refused": (["--json", "--check", "bad.hex"],
                           json_check(False, 4, format="text records",
                                      error={"message": "ERR: input file format mismatched!"})),
}



# Cases whose folder needs more than the generated firmware files. (Cases with a time-scale run
# the simulation's clock, the program's sleeps included, that much faster.)
SETUP = {
    "file_too_long": make_long_paths,
    "flash_over_firmware_link": link_to_hex,
    "fifo_file": make_fifo,
    "trace_fifo": make_outputs_that_block,
    "sim_flash_fifo": make_outputs_that_block,
    "trace_directory": make_outputs_that_block,
    "check_bad_records": make_bad_files,
    "check_oversized": make_bad_files,
    "refused_bad_records": make_bad_files,
    "refused_boot_area_only": make_bad_files,
    "refused_short_binary": make_bad_files,
    "json_check_refused": make_bad_files,
    "unprivileged_refused": world_readable,
}

# Cases run as a LiveRun, with its arguments.
LIVE = {
    "interrupted_before_commit": {"steer": interrupt_before_commit},
    "interrupted_while_programming": {"steer": interrupt_while_programming},
    "stdout_closed_early": {"stdout_lines": 1},
    "stderr_closed_early": {"stderr_lines": 0},
    "sigterm_before_commit": {"steer": signal_before_commit(signal.SIGTERM)},
    "sighup_before_commit": {"steer": signal_before_commit(signal.SIGHUP)},
    "sigterm_after_commit": {"steer": signal_after_commit(signal.SIGTERM, signal.SIGHUP,
                                                          signal.SIGTERM)},
    "closed_at_start": {"closed": (1, 2)},
    "sigterm_at_question": {"terminal": True, "steer": signal_at_question(signal.SIGTERM)},
    "sighup_at_question": {"terminal": True, "steer": signal_at_question(signal.SIGHUP)},
    "sigquit_after_commit": {"steer": signal_after_commit(signal.SIGQUIT)},
    "trace_over_size_limit": {"file_size_limit": 4096},
    "sigtstp_while_programming": {"steer": stopped_while_programming(signal.SIGTSTP)},
    "sigstop_while_programming": {"steer": stopped_while_programming(signal.SIGSTOP,
                                                                     signal.SIGCONT)},
    "file_replaced_at_question": {"terminal": True, "steer": replaced_at_question},
    "confirmed_on_terminal": {"terminal": True, "steer": typing("y\n")},
    "declined_on_terminal": {"terminal": True, "steer": typing("n\n")},
    "enter_is_no_on_terminal": {"terminal": True, "steer": typing("\n")},
    # Root is the unprivileged user nobody here; anyone else is unprivileged already.
    "unprivileged_refused": {"user": 65534 if os.geteuid() == 0 else None},
}


def main():
    fwloader, name = os.path.abspath(sys.argv[1]), sys.argv[2]
    if name == "--list":
        print("\n".join(CASES))
        return 0
    args, check = CASES[name]
    image = firmware()
    with tempfile.TemporaryDirectory(prefix="fwloader-e2e-") as folder:
        for file in ("QF2TR08.BIN", "fw.txt"):
            with open(os.path.join(folder, file), "wb") as f:
                f.write(image)
        with open(os.path.join(folder, "fw.HEX"), "wb") as f:
            f.write(hex_records(image))
        if name in SETUP:
            SETUP[name](folder, image)
        if name in LIVE:
            run = LiveRun(fwloader, folder, args, **LIVE[name])
        else:
            run = Run(fwloader, folder, args)
        c = Check(run)
        check(c, image)
        c.failures += getattr(run, "failures", [])
    if c.failures:
        print(f"case {name}: fwloader {' '.join(args)}")
        for failure in c.failures:
            print("  FAIL:", failure)
        print("--- standard error ---\n" + run.stderr[-3000:])
        return 1
    print(f"case {name}: ok (exit status {run.status})")
    return 0


if __name__ == "__main__":
    sys.exit(main())
