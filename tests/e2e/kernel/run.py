#!/usr/bin/env python3
"""The Linux program through a real Linux kernel: Debian's kernel boots under QEMU (TCG), its
virtio-scsi controller reaches the simulated drives through QEMU's iSCSI initiator and our
target (fwsim-iscsi-target) on 127.0.0.1, and the unmodified fwloader runs in the guest.

  run.py BUILD_DIR OUT_DIR [CASE ...]     runs the cases (all when none is named)
  run.py --list                           prints the cases
  run.py --names                          prints their names only (for CTest)

BUILD_DIR is the native build (app/fwloader, sim/fwsim-iscsi-target). Each case gets
OUT_DIR/<case>/ with the guest console, the program's output and trace as printed by the guest,
the target's command trace and the flash it wrote. The kernel is fetched once into
BUILD_DIR/../kernel-cache (tests/e2e/kernel/fetch-kernel.sh). Every wait is bounded; the target
and QEMU are stopped whatever happens. Exit status 0 when every case that ran held, 1 when one
did not, 77 when only pending cases were named (skipped).
"""
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "native"))
from fwloader_e2e import BLOCK, BOOT, IMAGE, firmware, seal  # noqa: E402
from guest import (fetch_kernel, initramfs_root, pack_initramfs, qemu_command,  # noqa: E402
                   report, start_target, stop)

FIRMWARE_NAME = "QF2TR08.BIN"
BOOT_TIMEOUT_S = 240      # one boot with its runs, under TCG on a busy machine


def factory_boot_data():
    """The simulated drive's boot data: its first 16 KiB before any update (sim/kdr_drive)."""
    out = bytearray(BOOT)
    x = 0x7305C
    for i in range(BOOT):
        x = (x * 1103515245 + 12345) & 0xFFFFFFFF
        out[i] = (x >> 16) & 0xFF
    return bytes(out)


# ---------------------------------------------------------------------------------------------
# The guest

# What the guest does once its drives are there: it gives them to the group cdrom, has the
# kernel poll them, and runs the program as runs.sh says.
INIT_BODY = r"""for d in /sys/block/sr*; do
  [ -e "$d/device" ] && echo "=== $(basename $d): $(cat $d/device/vendor) $(cat $d/device/model) $(cat $d/device/rev)"
done
# What udev does on a Debian system: optical drives belong to the group cdrom.
chgrp cdrom /dev/sr* /dev/sg* 2>/dev/null
chmod 660 /dev/sr* /dev/sg* 2>/dev/null
# And what a desktop's disk daemon does: have the kernel poll the drives for media events.
for d in /sys/block/sr*; do echo 1000 > $d/events_poll_msecs; done

run() {  # run NAME USER ARGS...: one run of the program in /work/NAME
  name=$1; user=$2; shift 2
  cd /work/$name
  echo "=== run $name begin $(cut -d' ' -f1 /proc/uptime) s"
  if [ "$user" = root ]; then
    timeout 120 /opt/fwloader/fwloader "$@" </dev/null >stdout.txt 2>stderr.txt
    status=$?
  elif [ "$user" = root-without-rawio ]; then
    # Root as a default container makes it: uid 0, but CAP_SYS_RAWIO dropped from the bounding
    # set, so the program runs without it in its effective set.
    timeout 120 /bin/setpriv --bounding-set=-sys_rawio /opt/fwloader/fwloader "$@" \
      </dev/null >stdout.txt 2>stderr.txt
    status=$?
  else
    chown -R "$user" /work/$name
    timeout 120 su -s /bin/sh "$user" -c "/opt/fwloader/fwloader $* </dev/null >stdout.txt 2>stderr.txt"
    status=$?
  fi
  echo "=== run $name status $status at $(cut -d' ' -f1 /proc/uptime) s"
  echo "=== run $name stdout"; cat stdout.txt
  echo "=== run $name stderr"; cat stderr.txt
  echo "=== run $name trace"; cat trace.txt 2>/dev/null
  echo "=== run $name end"
}
. /runs.sh
"""

LOAD_ORDERS = ("load-order",)


def copy_into(root, path, target=None):
    destination = root + (target or path)
    os.makedirs(os.path.dirname(destination), exist_ok=True)
    shutil.copy2(path, destination)


def libraries(program):
    out = subprocess.run(["ldd", program], capture_output=True, text=True, timeout=30).stdout
    return re.findall(r"(/\S+) \(0x", out)


def build_initramfs(work, kernel, fwloader, runs, drives):
    root = initramfs_root(work, kernel, LOAD_ORDERS, dirs=("etc", "work", "opt/fwloader"))
    copy_into(root, fwloader, "/opt/fwloader/fwloader")
    for lib in libraries(fwloader):
        copy_into(root, lib)
    setpriv = shutil.which("setpriv")
    if setpriv:
        copy_into(root, setpriv, "/bin/setpriv")
        for lib in libraries(setpriv):
            copy_into(root, lib)
    with open(os.path.join(root, "etc/passwd"), "w") as f:
        f.write("root:x:0:0:root:/:/bin/sh\nfwuser:x:1000:1000:fwuser:/work:/bin/sh\n")
    with open(os.path.join(root, "etc/group"), "w") as f:
        f.write("root:x:0:\ncdrom:x:24:fwuser\nfwuser:x:1000:\n")
    image = firmware()
    lines = []
    for run in runs:
        folder = os.path.join(root, "work", run.name)
        os.makedirs(folder)
        with open(os.path.join(folder, FIRMWARE_NAME), "wb") as f:
            f.write(image)
        line = " ".join(["run", run.name, run.user] + run.args)
        if run.after:
            line = f"sleep {run.after}; {line}"
        if run.before:
            line = f"{run.before}; {line}"
        lines.append(line + (" &" if run.background else ""))
    with open(os.path.join(root, "runs.sh"), "w") as f:
        f.write("\n".join(lines + ["wait"]) + "\n")
    initrd = pack_initramfs(work, root, LOAD_ORDERS, drives, INIT_BODY)
    # cpio -R makes root the owner of everything; an unprivileged run gets its folder in the guest.
    return initrd


# ---------------------------------------------------------------------------------------------
# One boot: the target, QEMU, and what came back

class Result:
    def __init__(self, console, target_trace, flash):
        self.console = console
        self.target_trace = target_trace
        self.flash = flash
        self.runs = {}
        for m in re.finditer(r"=== run (\S+) status (\d+) at ([\d.]+) s", console):
            begin = re.search(rf"=== run {re.escape(m.group(1))} begin ([\d.]+) s", console)
            self.runs[m.group(1)] = {
                "status": int(m.group(2)),
                "seconds": float(m.group(3)) - float(begin.group(1)) if begin else None}
        for name in self.runs:
            for part in ("stdout", "stderr", "trace"):
                m = re.search(rf"=== run {name} {part}\r?\n(.*?)=== run {name} ", console, re.S)
                self.runs[name][part] = m.group(1).replace("\r\n", "\n") if m else ""


def boot(work, kernel, build, scenario, drives, runs):
    fwloader = os.path.join(build, "app", "fwloader")
    target_program = os.path.join(build, "sim", "fwsim-iscsi-target")
    initrd = build_initramfs(work, kernel, fwloader, runs, drives)
    target = qemu = None
    trace_file = flash_file = ""
    try:
        target, portal, trace_file, flash_file = start_target(
            target_program, work, scenario, BOOT_TIMEOUT_S + 60)
        command = qemu_command(kernel, initrd, os.path.join(work, "console.txt"),
                               [(portal, lun) for lun in range(drives)])
        started = time.monotonic()
        qemu = subprocess.Popen(command, stdout=open(os.path.join(work, "qemu-output.txt"), "w"),
                                stderr=subprocess.STDOUT)
        try:
            qemu.wait(timeout=BOOT_TIMEOUT_S)
        except subprocess.TimeoutExpired:
            print(f"kernel-e2e: the guest did not power off within {BOOT_TIMEOUT_S} s",
                  file=sys.stderr)
        elapsed = time.monotonic() - started
    finally:
        stop(qemu, "QEMU")
        stop(target, "the target")
    console = open(os.path.join(work, "console.txt"), errors="replace").read()
    trace = open(trace_file).read() if os.path.exists(trace_file) else ""
    flash = open(flash_file, "rb").read() if os.path.exists(flash_file) else None
    result = Result(console, trace, flash)
    result.seconds = elapsed
    return result


# ---------------------------------------------------------------------------------------------
# Cases

class Run:
    """One run of the program in the guest. `background` runs it while the next runs start;
    `after` seconds pass before it starts; `before` is a shell command run as root first."""
    def __init__(self, name, user="root", args=("--yes", "--trace", "trace.txt"),
                 background=False, after=0, before=None):
        self.name = name
        self.user = user
        self.args = list(args)
        self.background = background
        self.after = after
        self.before = before


class Check:
    def __init__(self, result, run):
        self.result = result
        self.run = result.runs.get(run, {"status": None, "seconds": None, "stdout": "", "stderr": "",
                                         "trace": ""})
        self.failures = []

    def that(self, ok, what):
        if not ok:
            self.failures.append(what)

    def status(self, expected):
        self.that(self.run["status"] == expected,
                  f"exit status {self.run['status']}, want {expected}")

    def says(self, text):
        self.that(text in self.run["stderr"] or text in self.run["stdout"],
                  f"the program did not say {text!r}")

    def program_blocks(self):
        """The program's own trace: (cdb bytes, outcome) for every command it sent."""
        out = []
        for line in self.run["trace"].splitlines():
            if line.startswith("#"):
                continue  # the engine's texts among the commands
            words = line.split()
            i = next((k for k, w in enumerate(words) if w in ("in", "out", "none")), None)
            if i is not None:
                out.append(([int(w, 16) for w in words[:i]], words[i + 2]))
        return out

    def target_commands(self, opcode):
        return [line for line in self.result.target_trace.splitlines()
                if re.search(rf"ms lun \d+  {opcode:02X} ", line)]

    def flashed(self, image):
        flash = self.result.flash
        self.that(flash is not None and len(flash) == IMAGE, "the target wrote no 512 KiB flash")
        if flash is None or len(flash) != IMAGE:
            return
        self.that(flash[:BOOT] == factory_boot_data(), "flash 0..0x3FFF is not the drive's boot data")
        self.that(flash[BOOT:IMAGE - 8] == image[BOOT:IMAGE - 8],
                  "flash 0x4000.. differs from the firmware file")
        self.that(flash[IMAGE - 8:] == seal(flash), "the flash's seal is wrong")

    def not_flashed(self):
        flash = self.result.flash
        self.that(flash is not None and flash[BOOT:IMAGE - 8] == b"\xff" * (IMAGE - 8 - BOOT),
                  "the flash was changed")


def check_update(c, image):
    c.status(0)
    c.says("The drive programs its flash (do not power off): done")
    c.says("fwloader: the update succeeded.")
    c.flashed(image)
    blocks = c.program_blocks()
    writes = [cdb for cdb, _ in blocks if cdb[:2] == [0x3B, 0x02]]
    reads = [cdb for cdb, _ in blocks if cdb[:2] == [0x3C, 0x02]]
    commits = [(cdb, o) for cdb, o in blocks if cdb[:3] == [0x3B, 0x01, 0x01]]
    c.that(len(writes) == 128 and len(reads) >= 128, f"{len(writes)} writes, {len(reads)} reads")
    # Byte-exact, as the program handed them to the kernel: 12 bytes ending 0A 0B 0C.
    c.that(all(len(b) == 12 and b[9:] == [0x0A, 0x0B, 0x0C] for b in writes + reads),
           "a buffer block was not the 12-byte form")
    c.that([a[3] << 16 | a[4] << 8 | a[5] for a in writes] == [k * BLOCK for k in range(128)],
           "the blocks are not 0..127 in order")
    c.that(len(commits) == 1 and commits[0][1] == "ok" and len(commits[0][0]) == 12 and
           commits[0][0][9:] == [0x0A, 0x0B, 0x0C], f"commit: {commits}")
    # The target saw the cut blocks and completed them; exactly one commit reached the drive.
    arrived = c.target_commands(0x3B)
    c.that(arrived and all("[+0B 0C]" in line for line in arrived),
           "a WRITE BUFFER reached the target whole or uncompleted")
    c.that(len([x for x in arrived if " 3B 01 01 " in x and x.endswith(" ok")]) == 1,
           "not exactly one accepted commit at the target")
    polls = [x for x in c.result.target_trace.splitlines() if "ms lun 0  03 " in x]
    c.that(any("sense 02/04/07 info" in x for x in polls),
           "no progress poll reached the drive while it programmed")
    # The kernel's own media polling met the programming drive, which refused it with its
    # progress; the update went on regardless.
    c.that(any("fail 02/04/07 info" in x for x in c.result.target_trace.splitlines()
               if re.search(r"ms lun \d+  (00|4A) ", x)),
           "the kernel's media polling never met the drive while it programmed")


UNTOUCHED = "fwloader: the update stopped before anything was committed"


def check_write_fail_6(c, image):
    c.status(5)
    c.says(UNTOUCHED)
    writes = [line for line in c.target_commands(0x3B) if " 3B 02 " in line]
    at3 = [line for line in writes if " 3B 02 00 00 30 00 " in line]
    c.that(len(at3) == 6 and all("fail 04/44/00" in line for line in at3),
           f"block 3: {len(at3)} attempts at the target")
    c.that(not [line for line in c.target_commands(0x3B) if " 3B 01 01 " in line],
           "a commit reached the target")
    c.not_flashed()


def check_commit_fail(c, image):
    # The drive refused the commit (CHECK CONDITION): it was not executed, the flash untouched.
    c.status(5)
    c.says("starting the drive's programming: the commit (WRITE BUFFER mode 1) ended in CHECK "
           "CONDITION")
    c.says(UNTOUCHED)
    c.that(len([x for x in c.target_commands(0x3B) if " 3B 02 " in x]) == 128,
           "not 128 blocks written before the commit")
    c.not_flashed()


def check_other_only(c, image):
    c.status(3)
    c.says("fwloader: no update was started.")
    c.that(not c.target_commands(0x3B) and not c.target_commands(0xF1),
           "something was written to the other drive")
    c.that(c.result.flash is None, "a flash exists without a supported drive")


def nothing_sent(c):
    """No command that changes anything reached a drive: no START STOP UNIT, 0xF1 or buffer
    command at the target, and only INQUIRY in the program's own trace."""
    c.that(all(cdb[0] == 0x12 for cdb, _ in c.program_blocks()),
           "the program sent more than INQUIRY")
    c.that(not any(c.target_commands(op) for op in (0x1B, 0x3B, 0x3C, 0xF1)),
           "a command that changes the drive reached it")


def check_unprivileged_refused(c, image):
    # Unprivileged in the group cdrom: the kernel would refuse the update's commands half way
    # (0xF1 and WRITE BUFFER need CAP_SYS_RAWIO), so the program refuses before sending anything.
    c.status(2)
    c.says("an update needs root or CAP_SYS_RAWIO")
    c.that(c.run["trace"].strip() == "", "the program traced a command")
    nothing_sent(c)
    c.that(c.result.flash is None or c.result.flash[BOOT:IMAGE - 8] == b"\xff" * (IMAGE - 8 - BOOT),
           "the flash was changed")


LIST_LINE = r"(/dev/sr\d+) +{} *\n"


def listed_drives(stdout):
    """{vendor: (path, revision, verdict)} from --list's lines."""
    out = {}
    for m in re.finditer(r"^(/dev/sr\d+) +(\S+) +(.{16}) (\S+) (supported|other model)$",
                         stdout, re.M):
        out[m.group(2)] = (m.group(1), m.group(4), m.group(5))
    return out


def check_list(c, image):
    # A user who may only read the drives (group cdrom, mode 640) lists both; INQUIRY is all
    # that is sent.
    c.status(0)
    drives = listed_drives(c.run["stdout"])
    c.that(drives.get("KORVADSK", (None, None, None))[1:] == ("TR07", "supported") and
           drives.get("OTHERCO", (None, None, None))[2] == "other model",
           f"listed: {c.run['stdout']!r}")
    c.that(c.program_blocks() and all(cdb[0] == 0x12 for cdb, _ in c.program_blocks()),
           "the trace does not show INQUIRY alone")
    nothing_sent(c)


def check_revision_reread(c, image):
    check_update(c, image)
    c.says("fwloader: the drive now reports revision TR08 (TR07 before the update).")
    # And a later --list through the kernel shows the new revision as well.
    later = c.result.runs.get("list_after", {"stdout": "", "status": None})
    c.that(later["status"] == 0, f"--list after the update: exit {later['status']}")
    c.that(listed_drives(later["stdout"]).get("KORVADSK", ("", "", ""))[1] == "TR08",
           f"--list after the update: {later['stdout']!r}")


def check_device_other(c, image):
    c.status(3)
    c.says("holds OTHERCO DVD-ROM DR-1600")
    c.says("not the supported KORVADSK RW/DVD KDR-7305C; nothing was sent to it.")
    nothing_sent(c)
    c.not_flashed()


def check_held_exclusively(c, image):
    # The second run starts while the first one updates the drive, which it holds exclusively:
    # the second is refused before it sends anything, and the first one's update is unharmed.
    check_update(c, image)
    second = Check(c.result, "second")
    second.status(3)
    second.says("/dev/sr0 is busy: a disc in it is mounted, or another program holds it")
    second.that(all(cdb[0] == 0x12 for cdb, _ in second.program_blocks()),
                "it sent more than INQUIRY")
    c.failures += [f"second run: {f}" for f in second.failures]


def check_json(c, image):
    c.status(0)
    line = next((x for x in c.run["stdout"].splitlines() if x.startswith("{")), "")
    try:
        doc = json.loads(line)
    except ValueError as e:
        c.that(False, f"standard output is not a JSON document ({e}): {c.run['stdout']!r}")
        return
    envelope = {"format": 1, "program": "fwloader", "command": "update", "exit_status": 0}
    for key, value in envelope.items():
        c.that(doc.get(key) == value, f"{key}: {doc.get(key)!r}, want {value!r}")
    c.that("error" not in doc, f"an error beside exit status 0: {doc.get('error')!r}")
    update = doc.get("update", {})
    want = {"device": "/dev/sr0", "model": "KORVADSK RW/DVD KDR-7305C", "revision_before": "TR07",
            "revision_after": "TR08", "file": "QF2TR08.BIN", "outcome": "updated",
            "log": ["Please wait for a moment ......", "Firmware update successfully completed!",
                    "Restarting CDROM....", "Complete"]}
    update = doc.get("update") or {}
    for key, value in want.items():
        c.that(update.get(key) == value, f"update.{key}: {update.get(key)!r}, want {value!r}")
    c.that(doc.get("exit_status") == 0 and doc.get("command") == "update" and
           "error" not in doc, f"envelope {doc!r}")
    c.that(len([x for x in c.run["stdout"].splitlines() if x.strip()]) == 1,
           "standard output holds more than the document")
    c.flashed(image)


def check_end_not_seen(c, image):
    # The drive reset itself at its end without an end window of its own: found again through
    # the kernel, it runs the new revision, and the tool says so instead of calling it a
    # failure. (QEMU answers a REQUEST SENSE after a CHECK CONDITION from the sense it kept, so
    # where the kernel's media polling met the drive inside its last stretch, the program's poll
    # may read that and see the end after all: then it is a plain success.)
    c.status(0)
    c.says("fwloader: the update succeeded.")
    c.says("fwloader: the drive now reports revision TR08 (TR07 before the update).")
    c.that("fwloader: the drive's end was not seen; it now reports TR08." in c.run["stdout"] or
           "The drive programs its flash (do not power off): done" in c.run["stderr"],
           "neither the end seen nor the end not seen was said")
    c.flashed(image)


def check_silent_while_programming(c, image):
    # The drive stops answering once it programs. Each poll is bounded by its own time-out, so
    # the run ends within minutes as needing attention instead of waiting 18 hours in the kernel.
    c.status(1)
    c.says("fwloader: the drive needs attention")
    c.that(c.run["seconds"] is not None and c.run["seconds"] < 240,
           f"the run took {c.run['seconds']} s")


def check_root_without_rawio(c, image):
    # uid 0 is not enough: without CAP_SYS_RAWIO the kernel would refuse WRITE BUFFER half way,
    # so the program refuses before sending anything.
    c.status(2)
    c.says("an update needs root or CAP_SYS_RAWIO")
    nothing_sent(c)


def check_no_access(c, image):
    # The drive exists but this user may not open it: said, instead of "no drive".
    c.status(3)
    c.says("fwloader: no optical drive found")
    c.says("/dev/sr0: Permission denied")


class Case:
    def __init__(self, name, scenario, drives, runs, check, pending=None):
        self.name, self.scenario, self.drives = name, scenario, drives
        self.runs, self.check, self.pending = runs, check, pending


def pending(name, reason):
    return Case(name, None, 0, [], None, pending=reason)


CASES = [
    Case("update", "drives=kdr", 1, [Run("update")], check_update),
    Case("write_fail_6", "drives=kdr,write-fail=3:6", 1, [Run("write_fail_6")],
         check_write_fail_6),
    Case("commit_fail", "drives=kdr,commit-fail", 1, [Run("commit_fail")], check_commit_fail),
    Case("other_only", "drives=other", 1, [Run("other_only")], check_other_only),
    Case("unprivileged_refused", "drives=kdr", 1, [Run("unprivileged_refused", user="fwuser")],
         check_unprivileged_refused),
    Case("list", "drives=kdr+other", 2,
         [Run("list", user="fwuser", args=["--list", "--trace", "trace.txt"],
              before="chmod 640 /dev/sr* /dev/sg*")], check_list),
    Case("revision_reread", "drives=kdr", 1,
         [Run("revision_reread"), Run("list_after", user="fwuser", args=["--list"])],
         check_revision_reread),
    Case("device_other", "drives=kdr+other", 2,
         [Run("device_other", args=["--yes", "--device", "/dev/sr1", "--trace", "trace.txt"])],
         check_device_other),
    Case("held_exclusively", "drives=kdr", 1,
         [Run("first", background=True), Run("second", after=4)], check_held_exclusively),
    Case("json", "drives=kdr", 1, [Run("json", args=["--yes", "--json", "--trace", "trace.txt"])],
         check_json),
    # A drive no kinder than a real one: short sense data, a unit attention at its end, a drive
    # that resets itself without its end window, one that falls silent while it programs.
    Case("sense_14_bytes", "drives=kdr,sense-length=14", 1, [Run("sense_14_bytes")],
         check_update),
    Case("unit_attention_at_end", "drives=kdr,ua-after-programming", 1,
         [Run("unit_attention_at_end")], check_update),
    Case("end_reset_unseen", "drives=kdr,skip-end-window,finish=0,end=reset", 1,
         [Run("end_reset_unseen")], check_end_not_seen),
    Case("silent_while_programming", "drives=kdr,hang", 1, [Run("silent_while_programming")],
         check_silent_while_programming),
    Case("root_without_rawio", "drives=kdr", 1,
         [Run("root_without_rawio", user="root-without-rawio")], check_root_without_rawio),
    Case("no_access", "drives=kdr", 1,
         [Run("no_access", user="fwuser", args=["--list"], before="chmod 600 /dev/sr* /dev/sg*")],
         check_no_access),
]


def main(argv):
    # A runner stopped from outside still stops QEMU and the target (the finally in boot()).
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    if argv[1:2] == ["--list"]:
        for case in CASES:
            print(case.name + (f"  (pending: {case.pending})" if case.pending else ""))
        return 0
    if argv[1:2] == ["--names"]:  # for CTest's registration
        print("\n".join(case.name for case in CASES))
        return 0
    if len(argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    build, out = os.path.abspath(argv[1]), os.path.abspath(argv[2])
    names = argv[3:]
    unknown = [n for n in names if n not in [c.name for c in CASES]]
    if unknown:
        print(f"kernel-e2e: no case {unknown}", file=sys.stderr)
        return 2
    missing = [t for t in ("qemu-system-x86_64", "busybox", "cpio", "depmod", "modinfo")
               if shutil.which(t) is None and not os.path.exists("/usr/sbin/" + t)]
    if not os.path.exists("/usr/lib/x86_64-linux-gnu/qemu/block-iscsi.so"):
        missing.append("QEMU's iSCSI initiator (qemu-block-extra)")
    if missing:
        print(f"kernel-e2e: missing {', '.join(missing)}: "
              "bash scripts/setup-debian --with-kernel-tests", file=sys.stderr)
        return 1
    kernel = fetch_kernel(build)
    if kernel is None:
        return 1
    image = firmware()
    failed = []
    started = time.monotonic()
    for case in CASES:
        if names and case.name not in names:
            continue
        if case.pending:
            print(f"SKIPPED {case.name}: {case.pending}")
            continue
        work = os.path.join(out, case.name)
        os.makedirs(work, exist_ok=True)
        result = boot(work, kernel, build, case.scenario, case.drives, case.runs)
        check = Check(result, case.runs[0].name)
        if check.run["status"] is None:
            check.failures.append("the guest printed no outcome (see console.txt)")
        else:
            case.check(check, image)
        for name, run in result.runs.items():
            for part in ("stdout", "stderr", "trace"):
                with open(os.path.join(work, f"{name}.{part}.txt"), "w") as f:
                    f.write(run[part])
        report(case.name, f"{result.seconds:.1f} s boot and runs", check.failures, failed)
    print(f"kernel-e2e: {time.monotonic() - started:.1f} s; "
          f"{'failed: ' + ' '.join(failed) if failed else 'all cases that ran held'}")
    if failed:
        return 1
    ran = [c for c in CASES if (not names or c.name in names) and not c.pending]
    return 77 if names and not ran else 0  # only pending cases named: skipped


if __name__ == "__main__":
    sys.exit(main(sys.argv))
