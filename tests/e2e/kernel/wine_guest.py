#!/usr/bin/env python3
"""The Windows deliverables through a real Linux kernel: the i686 fwloader.exe and sumseal.dll,
exactly as `cmake --install` puts them, under 32-bit Wine inside the guest kernel of run.py. The
guest runs on the host's own root filesystem (virtio-9p, read-only, under a tmpfs overlay), so
Wine, Xvfb and ImageMagick are the host's; Wine reaches the simulated drives through its own NT
pass-through: \\\\.\\d: -> /dev/srN -> SG_IO -> the guest's sr driver -> virtio-scsi -> QEMU's
iSCSI initiator -> fwsim-iscsi-target on 127.0.0.1. Each case has a target of its own; all
cases run in one boot, one after another (wine_guest.sh in the guest, wine_cases.sh the window
steps of each case).

  wine_guest.py WIN32_BUILD NATIVE_BUILD OUT_DIR [CASE ...]   runs the cases (all when none is named)
  wine_guest.py --list                                        prints the cases

WIN32_BUILD is the i686 build of the deliverables (cmake --preset win32 && cmake --build
--preset win32); NATIVE_BUILD holds sim/fwsim-iscsi-target (cmake --build --preset native
--target fwsim-iscsi-target is enough). OUT_DIR gets install/ (the two files as installed),
tools/ (the window driver, built there for i686), guest/ (the guest's console, Wine's set-up,
the window driver's own messages) and one folder per case: the program's standard output, the
window steps and their failures, screenshots, the target's command trace and the flash it
wrote. Every wait is bounded; QEMU and the targets are stopped whatever happens. Exit status 0
when every case held, 1 otherwise.
"""
import hashlib
import os
import re
import shutil
import signal
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.abspath(os.path.join(HERE, "..", "..", ".."))
sys.path.insert(0, HERE)
from guest import (ISCSI_TIMEOUT_S, fetch_kernel, initramfs_root, pack_initramfs,  # noqa: E402
                   qemu_command, report, start_target, stop)
from run import BLOCK, IMAGE, Check, Result, firmware  # noqa: E402

FIRMWARE_NAME = "QF2TR08.BIN"
BOOT_TIMEOUT_S = 900      # one boot: Wine's prefix and every case, under TCG on a busy machine
GUEST_MEMORY_MB = 2048    # the prefix (about 600 MB) and the overlay's upper layer are in RAM
BLOCKS = IMAGE // BLOCK
SLOW_BLOCK = 16           # the terminate case: this block's WRITE BUFFER is held at the target
SLOW_MS = 7000            # long enough to answer "Terminate???", short of QEMU's time-out
assert SLOW_MS < ISCSI_TIMEOUT_S * 1000


# ---------------------------------------------------------------------------------------------
# The guest: the host's root read-only, a tmpfs over it, the output folder writable at its own
# path, then chroot and wine_guest.sh.

INIT_BODY = r"""mkdir -p /host /rw /root
# multidevs=remap on the host's side keeps inode numbers of its several filesystems apart;
# cache=loose: nothing changes under the guest that it must see (the output folder is apart).
mount -t 9p -o trans=virtio,version=9p2000.L,ro,cache=loose,msize=512000 hostroot /host &&
  mount -t tmpfs -o size=1536m,mode=755 rw /rw && mkdir -p /rw/upper /rw/work &&
  mount -t overlay overlay -o lowerdir=/host,upperdir=/rw/upper,workdir=/rw/work /root ||
  { echo "=== the host's root did not mount"; poweroff -f; }
mount -t proc proc /root/proc
mount -t sysfs sys /root/sys
mount -t devtmpfs dev /root/dev
mkdir -p /root/dev/pts /root/dev/shm
mount -t devpts devpts /root/dev/pts
mount -t tmpfs shm /root/dev/shm
mount -t tmpfs tmp /root/tmp
mount -t tmpfs run /root/run
# The source tree (its scripts run in the guest) and the output folder keep their paths, also
# where they lie under /tmp or /run.
mkdir -p "/root@SOURCE@" "/root@OUT@"
mount -o bind "/host@SOURCE@" "/root@SOURCE@" ||
  { echo "=== the source tree did not mount"; poweroff -f; }
mount -t 9p -o trans=virtio,version=9p2000.L,msize=512000 out "/root@OUT@" ||
  { echo "=== the output folder did not mount"; poweroff -f; }
echo "=== chroot at $(cut -d' ' -f1 /proc/uptime) s"
chroot /root /usr/bin/env -i PATH=/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin LANG=C.UTF-8 \
  /bin/bash "@HERE@/wine_guest.sh" "@OUT@" 2>&1
"""

# The rootfs modules: 9p over virtio and overlayfs (fetch-kernel.sh).
LOAD_ORDERS = ("load-order", "load-order-rootfs")


def build_initramfs(work, kernel, out, drives):
    root = initramfs_root(work, kernel, LOAD_ORDERS)
    body = INIT_BODY.replace("@OUT@", out).replace("@HERE@", HERE).replace("@SOURCE@", SOURCE)
    initrd = pack_initramfs(work, root, LOAD_ORDERS, drives, body)
    shutil.rmtree(root)
    return initrd


# ---------------------------------------------------------------------------------------------
# What came back

class Command:
    """One line of a target's trace: when (host clock), which unit, the block as received."""
    def __init__(self, line, started):
        words = line.split()
        self.line = line
        self.at = started + int(words[0]) / 1000
        self.lun = int(words[3])
        k = 4
        self.cdb = []
        while k < len(words) and re.fullmatch(r"[0-9A-F]{2}", words[k]):
            self.cdb.append(int(words[k], 16))
            k += 1
        self.ok = line.endswith(" ok") or " ok sense " in line

    def address(self):
        return self.cdb[3] << 16 | self.cdb[4] << 8 | self.cdb[5] if len(self.cdb) > 5 else -1


class Target:
    def __init__(self, case, process, portal, trace_file, flash_file, started):
        self.case, self.process, self.portal = case, process, portal
        self.trace_file, self.flash_file, self.started = trace_file, flash_file, started

    def commands(self):
        if not os.path.exists(self.trace_file):
            return []
        return [Command(line, self.started) for line in open(self.trace_file).read().splitlines()
                if re.match(r"\s*\d+ ms lun \d+  [0-9A-F]{2}", line)]


class CaseCheck(Check):
    """run.py's checks of a target's flash, and this suite's of its trace: the commands that
    arrived while the guest ran the case."""
    def __init__(self, case, target, window):
        trace = open(target.trace_file).read() if os.path.exists(target.trace_file) else ""
        flash = open(target.flash_file, "rb").read() if os.path.exists(target.flash_file) else None
        super().__init__(Result("", trace, flash), case.name)
        self.case, self.target, self.window = case, target, window

    def ours(self, lun=None):
        """The program's commands: this target's, inside the case's time, for one unit or all."""
        begin, end = self.window
        return [c for c in self.target.commands()
                if begin <= c.at <= end and (lun is None or c.lun == lun)]

    def opcode(self, op, lun=None):
        return [c for c in self.ours(lun) if c.cdb and c.cdb[0] == op]

    def buffer_writes(self, lun=None):
        return [c for c in self.opcode(0x3B, lun) if c.cdb[1] == 0x02]

    def commits(self, lun=None):
        return [c for c in self.opcode(0x3B, lun) if c.cdb[1:3] == [0x01, 0x01]]


def check_update(c, lun=0):
    """A whole update: every block once, in order, read back; one accepted commit; polls while
    the drive programmed; the flash the file's image with the drive's boot data and seal."""
    c.flashed(firmware())
    writes = c.buffer_writes(lun)
    c.that([w.address() for w in writes] == [k * BLOCK for k in range(BLOCKS)],
           f"{len(writes)} WRITE BUFFER blocks, not blocks 0..{BLOCKS - 1} once each in order")
    c.that(all(w.ok for w in writes), "a WRITE BUFFER failed")
    reads = [r for r in c.opcode(0x3C, lun) if r.cdb[1] == 0x02 and r.address() < IMAGE]
    c.that(len(reads) == BLOCKS, f"{len(reads)} read-backs of the image's blocks")
    commits = c.commits(lun)
    c.that(len(commits) == 1 and commits[0].ok, f"commits: {[x.line for x in commits]}")
    c.that(any("sense 02/04/07 info" in x.line for x in c.opcode(0x03, lun)),
           "no progress poll reached the drive while it programmed")
    c.that(len(c.opcode(0xF1, lun)) == 1, "not one 0xF1 (boot data prepared) in the case")


def check_update_then_started_again(c, nt4_discovery):
    check_update(c)
    # The program finds drives by its own INQUIRY (allocation length 127) on the NT 5 path; on
    # NT 4 it asks for the stored inquiry data, for which Wine sends an INQUIRY of its own.
    own_inquiry = [x for x in c.opcode(0x12) if x.cdb[4] == 0x7F]
    if nt4_discovery:
        c.that(not own_inquiry, "the program's own INQUIRY on the NT 4 path")
        c.that(c.opcode(0x12), "no INQUIRY for the stored inquiry data reached the drive")
    else:
        c.that(len(own_inquiry) == 2, f"{len(own_inquiry)} discovery INQUIRYs, expected 2 "
                                      "(the update's start, and the start again)")


def check_write_fail_6(c):
    at3 = [w for w in c.buffer_writes() if w.address() == 3 * BLOCK]
    c.that(len(at3) == 6 and all("fail 04/44/00" in w.line for w in at3),
           f"block 3: {len(at3)} attempts at the target, expected 6 failed ones")
    c.that(max((w.address() for w in c.buffer_writes()), default=0) == 3 * BLOCK,
           "a block after block 3 was sent")
    c.that(not c.commits(), "a commit reached the target")
    c.not_flashed()


def check_commit_refused(c):
    c.that(len(c.buffer_writes()) == BLOCKS, f"{len(c.buffer_writes())} blocks before the commit")
    commits = c.commits()
    c.that(len(commits) == 1 and "fail 04/44/00" in commits[0].line,
           f"commits: {[x.line for x in commits]}")
    c.not_flashed()


def check_terminate(c):
    # The terminate request was answered while the drive held block SLOW_BLOCK: the run sent
    # that block whole (and read it back) and stopped before the next one.
    writes = [w.address() for w in c.buffer_writes()]
    c.that(writes == [k * BLOCK for k in range(SLOW_BLOCK + 1)],
           f"blocks written: {[a // BLOCK for a in writes]}, expected 0..{SLOW_BLOCK}")
    c.that(not c.commits(), "a commit reached the target")
    c.not_flashed()


def check_two_drives(c):
    check_update(c, lun=1)
    changing = [x.line for x in c.ours(lun=0) if x.cdb[0] in (0x1B, 0x3B, 0x3C, 0xF1)]
    c.that(not changing, f"the other model was sent {changing[:3]}")
    c.that(c.opcode(0x12, lun=0), "the other model was never asked INQUIRY")


def check_readback_differs(c):
    # Every attempt at the block wrote it and read it back, the read-back never matched, and the
    # run ended there: no later block, no commit.
    at = [w for w in c.buffer_writes() if w.address() == BAD_BLOCK * BLOCK]
    reads = [r for r in c.opcode(0x3C) if r.cdb[1] == 0x02 and r.address() == BAD_BLOCK * BLOCK]
    c.that(len(at) == 6 and len(reads) == 6,
           f"block {BAD_BLOCK}: {len(at)} writes and {len(reads)} read-backs, expected 6 of each")
    c.that(max((w.address() for w in c.buffer_writes()), default=0) == BAD_BLOCK * BLOCK,
           f"a block after block {BAD_BLOCK} was sent")
    c.that(not c.commits(), "a commit reached the target")
    c.not_flashed()


def check_nothing_sent(c, targets):
    # Wine's own ASPI library carries no command: in the case's time no drive of any case
    # received anything.
    begin, end = c.window
    for target in targets:
        seen = [x.line for x in target.commands() if begin <= x.at <= end]
        c.that(not seen, f"{target.case.name}'s drive received {seen[:3]}")
    c.not_flashed()


BAD_BLOCK = 5


class Case:
    """One case: the target's scenario (its drives become d:, e:, ... in the guest), the check
    of what the target saw, and the window steps (case_NAME in wine_cases.sh)."""
    def __init__(self, name, scenario, check, what):
        self.name, self.scenario, self.check, self.what = name, scenario, check, what
        m = re.search(r"drives=([a-z+]+)", scenario)
        self.drives = len(m.group(1).split("+")) if m else 1


# In the order the guest runs them; the first has no case before it whose commands could
# still arrive while it watches every drive.
CASES = [
    Case("win98_wine_aspi", "drives=kdr", lambda c, targets: check_nothing_sent(c, targets),
         "Windows 98 with Wine's own ASPI library: no drive, an empty list, nothing sent"),
    Case("xp_update", "drives=kdr",
         lambda c, _: check_update_then_started_again(c, nt4_discovery=False),
         "Windows XP: a whole update through \\\\.\\d:, then the program started again finds "
         "the new revision"),
    Case("nt4_update", "drives=kdr",
         lambda c, _: check_update_then_started_again(c, nt4_discovery=True),
         "Windows NT 4: the same, drives found by their stored inquiry data"),
    Case("two_drives", "drives=other+kdr", lambda c, _: check_two_drives(c),
         "another model on d:, the supported one on e:: both listed, only the second updated"),
    Case("block_fails", "drives=kdr,write-fail=3:6", lambda c, _: check_write_fail_6(c),
         "block 3 fails six times: the failure boxes, the sense on the status line"),
    Case("commit_refused", "drives=kdr,commit-fail", lambda c, _: check_commit_refused(c),
         "the drive refuses the commit: 'Unable to start upgrade firmware.'"),
    # Through QEMU's iSCSI pass-through a short read-back arrives as a whole block, zeros where
    # the bytes did not come, with no residual (README.md): a read-back that differs.
    Case("readback_differs", f"drives=kdr,verify-corrupt={BAD_BLOCK}:6",
         lambda c, _: check_readback_differs(c),
         "a read-back that differs from its block six times: the update fails, nothing "
         "committed"),
    Case("terminate", f"drives=kdr,slow-write={SLOW_BLOCK}:{SLOW_MS}",
         lambda c, _: check_terminate(c),
         "'Terminate???' answered OK during the transfer: the run stops before its next block"),
]


# ---------------------------------------------------------------------------------------------
# The run

def missing_tools():
    missing = [t for t in ("qemu-system-x86_64", "busybox", "cpio", "Xvfb", "import",
                           "i686-w64-mingw32-g++", "cmake")
               if shutil.which(t) is None]
    if not os.path.exists("/usr/lib/x86_64-linux-gnu/qemu/block-iscsi.so"):
        missing.append("QEMU's iSCSI initiator (qemu-block-extra)")
    if not os.path.exists("/usr/lib/wine/wine") or \
            not os.path.isdir("/usr/lib/i386-linux-gnu/wine/i386-windows"):
        missing.append("32-bit Wine (wine32:i386)")
    return missing


def install_deliverables(build, out):
    """`cmake --install` of the i686 build into OUT/install: exactly the files users get.
    Returns an error text, or None."""
    install = os.path.join(out, "install")
    shutil.rmtree(install, ignore_errors=True)
    done = subprocess.run(["cmake", "--install", build, "--prefix", install],
                          capture_output=True, text=True, timeout=120)
    if done.returncode != 0:
        return f"cmake --install {build} failed: {done.stderr.strip()}"
    files = sorted(os.listdir(install))
    if files != ["fwloader.exe", "sumseal.dll"]:
        return f"cmake --install put {files} in {install}"
    lines = []
    for name in files:
        data = open(os.path.join(install, name), "rb").read()
        pe = int.from_bytes(data[0x3C:0x40], "little") if len(data) > 0x40 else 0
        if data[pe:pe + 4] != b"PE\0\0" or data[pe + 4:pe + 6] != b"\x4c\x01":
            return f"{name} is not an i386 PE file: {build} is not the win32 build"
        lines.append(f"{hashlib.sha256(data).hexdigest()}  {name}")
    with open(os.path.join(out, "install.sha256"), "w") as f:
        f.write("\n".join(lines) + "\n")
    return None


def build_window_driver(out):
    """tests/e2e/wine/uidriver.cpp for i686, as the project builds it (its own CMake target) in
    OUT/tools. Returns the .exe's path, or None (the reason in OUT/tools/build.txt)."""
    tools = os.path.join(out, "tools")
    os.makedirs(tools, exist_ok=True)
    log = open(os.path.join(tools, "build.txt"), "w")
    toolchain = os.path.join(SOURCE, "cmake", "toolchain-i686-w64-mingw32.cmake")
    steps = [["cmake", "-S", SOURCE, "-B", tools, "-G", "Ninja", "--toolchain", toolchain,
              "-DCMAKE_BUILD_TYPE=MinSizeRel", "-DFWLOADER_BUILD_TESTS=ON"],
             ["cmake", "--build", tools, "--target", "uidriver"]]
    for step in steps:
        if subprocess.run(step, stdout=log, stderr=subprocess.STDOUT, timeout=600).returncode:
            return None
    exe = os.path.join(tools, "bin", "uidriver.exe")
    return exe if os.path.exists(exe) else None


def watch(qemu, console, marks, timeout):
    """Waits for QEMU to end (at most `timeout` s), noting on the host's clock when the guest
    printed each "=== case NAME begin|end" line."""
    deadline = time.monotonic() + timeout
    seen = 0
    while time.monotonic() < deadline:
        ended = qemu.poll() is not None
        if os.path.exists(console):
            with open(console, "rb") as f:
                f.seek(seen)
                chunk = f.read()
            last = chunk.rfind(b"\n") + 1
            seen += last
            now = time.monotonic()
            for m in re.finditer(rb"=== case (\S+) (begin|end)", chunk[:last]):
                marks.setdefault(m.group(1).decode(), {})[m.group(2).decode()] = now
        if ended:
            return True
        time.sleep(0.2)
    return False


def main(argv):
    # A runner stopped from outside still stops QEMU and the targets (the finally below).
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    if argv[1:2] == ["--list"]:
        for case in CASES:
            print(f"{case.name:16} {case.what}")
        return 0
    if len(argv) < 4:
        print(__doc__, file=sys.stderr)
        return 2
    build, native, out = (os.path.abspath(a) for a in argv[1:4])
    names = argv[4:]
    unknown = [n for n in names if n not in [c.name for c in CASES]]
    if unknown:
        print(f"wine-guest: no case {unknown}", file=sys.stderr)
        return 2
    missing = missing_tools()
    if missing:
        print(f"wine-guest: missing {', '.join(missing)}: "
              "bash scripts/setup-debian --with-wine --with-wine32 --with-kernel-tests",
              file=sys.stderr)
        return 1
    target_program = os.path.join(native, "sim", "fwsim-iscsi-target")
    if not os.access(target_program, os.X_OK):
        print(f"wine-guest: no {target_program}: build the native preset's fwsim-iscsi-target",
              file=sys.stderr)
        return 1
    started = time.monotonic()
    os.makedirs(out, exist_ok=True)
    error = install_deliverables(build, out)
    if error:
        print(f"wine-guest: {error}", file=sys.stderr)
        return 1
    if build_window_driver(out) is None:
        print(f"wine-guest: the window driver did not build, see {out}/tools/build.txt",
              file=sys.stderr)
        return 1
    kernel = fetch_kernel(native)
    if kernel is None:
        return 1

    cases = [c for c in CASES if not names or c.name in names]
    guest = os.path.join(out, "guest")
    os.makedirs(os.path.join(out, "firmware"), exist_ok=True)
    with open(os.path.join(out, "firmware", FIRMWARE_NAME), "wb") as f:
        f.write(firmware())
    shutil.rmtree(guest, ignore_errors=True)
    os.makedirs(guest)
    targets, drives, lines, refused = [], [], [], {}
    qemu = None
    marks = {}
    prepared = time.monotonic() - started
    try:
        for case in cases:
            work = os.path.join(out, case.name)
            shutil.rmtree(work, ignore_errors=True)
            os.makedirs(work)
            try:
                process, portal, trace_file, flash_file = start_target(
                    target_program, work, case.scenario, BOOT_TIMEOUT_S + 60)
            except RuntimeError as e:
                reason = open(os.path.join(work, "target-stderr.txt")).read().strip()
                refused[case.name] = f"{e}: {reason.splitlines()[0] if reason else ''}"
                continue
            targets.append(Target(case, process, portal, trace_file, flash_file,
                                  time.monotonic()))
            ids = list(range(len(drives), len(drives) + case.drives))
            drives += [(portal, lun) for lun in range(case.drives)]
            lines.append(f"{case.name} {','.join(map(str, ids))}")
        if not targets:
            print("wine-guest: no case has a target to run against", file=sys.stderr)
            return 1
        with open(os.path.join(guest, "cases.txt"), "w") as f:
            f.write("\n".join(lines) + "\n")
        initrd = build_initramfs(guest, kernel, out, len(drives))
        console = os.path.join(guest, "console.txt")
        command = qemu_command(
            kernel, initrd, console, drives, memory_mb=GUEST_MEMORY_MB,
            extra=["-virtfs", "local,path=/,mount_tag=hostroot,security_model=none,"
                              "readonly=on,multidevs=remap",
                   "-virtfs", f"local,path={out},mount_tag=out,security_model=none,"
                              "multidevs=remap"])
        booted = time.monotonic()
        qemu = subprocess.Popen(command, stdout=open(os.path.join(guest, "qemu-output.txt"), "w"),
                                stderr=subprocess.STDOUT)
        if not watch(qemu, console, marks, BOOT_TIMEOUT_S):
            print(f"wine-guest: the guest did not power off within {BOOT_TIMEOUT_S} s",
                  file=sys.stderr)
        boot_seconds = time.monotonic() - booted
    finally:
        stop(qemu, "QEMU")
        for target in targets:
            stop(target.process, f"{target.case.name}'s target")

    console_text = open(console, errors="replace").read() if os.path.exists(console) else ""
    m = re.search(r"=== wine ready after ([\d.]+) s", console_text)
    print(f"wine-guest: {prepared:.1f} s to install, build the window driver and fetch the "
          f"kernel; the guest ready for the first case after {m.group(1) if m else '?'} s")
    if not marks:
        # The guest never reached a case: its last words say why.
        said = re.findall(r"^=== .*$", console_text, re.M)
        print("\n".join(f"    guest: {line}" for line in said[-3:]) or "    guest: nothing")
    failed = []
    for name, reason in refused.items():
        report(name, "not run", [reason], failed)
    for target in targets:
        case = target.case
        times = marks.get(case.name, {})
        window = (times.get("begin", 0.0), times.get("end", 0.0))
        c = CaseCheck(case, target, window)
        if "end" not in times:
            c.failures.append("the guest did not finish the case (see guest/console.txt)")
        failures = os.path.join(out, case.name, "failures.txt")
        if os.path.exists(failures):
            c.failures += open(failures).read().splitlines()
        case.check(c, targets)
        seconds = f"{window[1] - window[0]:.1f} s" if "end" in times else "unfinished"
        report(case.name, seconds, c.failures, failed)
    print(f"wine-guest: {time.monotonic() - started:.1f} s in all, the boot {boot_seconds:.1f} s; "
          f"{'failed: ' + ' '.join(failed) if failed else 'all cases held'}; output in {out}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
