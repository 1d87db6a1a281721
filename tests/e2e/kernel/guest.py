"""What both guest-kernel runners share (run.py, the Linux program; wine_guest.py, the Windows
deliverables under 32-bit Wine): the guest's init script and initramfs, the target, QEMU's
command line, the kernel folder and stopping what they started.
"""
import os
import re
import select
import shutil
import signal
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))

IQN = "iqn.2026-01.test.fwloader:sim"
ISCSI_TIMEOUT_S = 10      # QEMU's initiator fails a command the target leaves unanswered
PROGRAM_MS = 3000         # the simulated drive's programming time
FINISH_MS = 1500          # then "all bytes done" for this long: the end window the program sees

# The init's first part: busybox, the kernel's file systems, the modules of the load orders
# named and the wait for the drives. What the guest does then (the runner's part) follows it.
INIT_HEAD = r"""#!/bin/busybox sh
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
echo "=== guest up $(cut -d' ' -f1 /proc/uptime) s"
for m in $(cat @ORDERS@); do
  insmod /lib/modules/$(cat /lib/modules/version)/$m || echo "=== insmod $m failed"
done
# The drives appear as /dev/sr0.. once the controller has scanned its bus (bounded wait).
i=0
while [ ! -e /dev/sr@LAST@ ] && [ $i -lt 300 ]; do sleep 0.1; i=$((i + 1)); done
echo "=== drives after $(cut -d' ' -f1 /proc/uptime) s: $(ls /dev/sr* /dev/sg* 2>/dev/null | tr '\n' ' ')"
"""

INIT_TAIL = r"""echo "=== guest done $(cut -d' ' -f1 /proc/uptime) s"
poweroff -f
"""


def initramfs_root(work, kernel, orders, dirs=()):
    """A fresh root for the initramfs in WORK/root: busybox, the kernel's modules and the load
    orders named (files of the kernel folder), and the folders `dirs`. Returns its path."""
    root = os.path.join(work, "root")
    shutil.rmtree(root, ignore_errors=True)
    for d in ("bin", "dev", "proc", "sys", "tmp", "lib/modules") + tuple(dirs):
        os.makedirs(os.path.join(root, d), exist_ok=True)
    shutil.copy2(shutil.which("busybox"), os.path.join(root, "bin", "busybox"))
    version = open(os.path.join(kernel, "version")).read().strip()
    shutil.copytree(os.path.join(kernel, "lib", "modules", version),
                    os.path.join(root, "lib", "modules", version))
    for order in orders:
        shutil.copy2(os.path.join(kernel, order), os.path.join(root, "lib/modules", order))
    with open(os.path.join(root, "lib/modules/version"), "w") as f:
        f.write(version + "\n")
    return root


def pack_initramfs(work, root, orders, drives, body):
    """Writes ROOT/init (INIT_HEAD for the load orders and `drives` drives, then `body`, then
    the power-off) and packs ROOT into WORK/initrd.cpio, every file owned by root. Returns the
    archive's path."""
    head = INIT_HEAD.replace("@ORDERS@", " ".join("/lib/modules/" + o for o in orders)).replace("@LAST@", str(max(drives, 1) - 1))
    with open(os.path.join(root, "init"), "w") as f:
        f.write(head + body + INIT_TAIL)
    os.chmod(os.path.join(root, "init"), 0o755)
    initrd = os.path.join(work, "initrd.cpio")
    files = subprocess.run("find . | LC_ALL=C sort", shell=True, cwd=root, capture_output=True,
                           check=True, timeout=60).stdout
    with open(initrd, "wb") as out:
        subprocess.run(["cpio", "--quiet", "-o", "-H", "newc", "-R", "+0:+0"], cwd=root,
                       input=files, stdout=out, check=True, timeout=120)
    return initrd


def stop(process, name):
    if process is None or process.poll() is not None:
        return
    process.send_signal(signal.SIGTERM)
    try:
        process.wait(timeout=10)
    except subprocess.TimeoutExpired:
        print(f"kernel-e2e: {name} ignored SIGTERM; killing it", file=sys.stderr)
        process.kill()
        process.wait(timeout=10)


def start_target(program, work, scenario, lifetime):
    """Starts fwsim-iscsi-target for `scenario`, with flash.bin, target-trace.txt and
    target-stderr.txt in `work`. Returns (process, portal, trace file, flash file); the caller
    stops it."""
    flash_file = os.path.join(work, "flash.bin")
    trace_file = os.path.join(work, "target-trace.txt")
    for f in (flash_file, trace_file):
        if os.path.exists(f):
            os.remove(f)
    target = subprocess.Popen(
        [program, "--port", "0", "--scenario", scenario, "--iqn", IQN,
         "--flash", flash_file, "--trace", trace_file, "--program-ms", str(PROGRAM_MS),
         "--finish-ms", str(FINISH_MS), "--lifetime", str(lifetime)],
        stdout=subprocess.PIPE, stderr=open(os.path.join(work, "target-stderr.txt"), "w"),
        text=True)
    ready, _, _ = select.select([target.stdout], [], [], 30)
    line = target.stdout.readline() if ready else ""
    m = re.match(r"listening (127\.0\.0\.1:\d+)", line)
    if not m:
        stop(target, "the target")
        raise RuntimeError(f"the target did not start: {line!r}")
    return target, m.group(1), trace_file, flash_file


def qemu_command(kernel, initrd, console, drives, memory_mb=256, extra=()):
    """QEMU under TCG with the guest's serial console in `console` and one scsi-generic device
    per (portal, lun) of `drives` on a virtio-scsi controller, SCSI ids 0, 1, ... in order."""
    command = ["qemu-system-x86_64", "-accel", "tcg", "-m", str(memory_mb), "-smp", "1",
               "-nodefaults", "-no-reboot", "-display", "none", "-monitor", "none",
               "-serial", "file:" + console,
               "-kernel", os.path.join(kernel, "vmlinuz"), "-initrd", initrd,
               "-append", "console=ttyS0 panic=-1 rdinit=/init loglevel=6",
               "-device", "virtio-scsi-pci,id=scsi0"] + list(extra)
    # virtio-scsi never times a command out in the guest (its driver leaves that to the host):
    # QEMU's initiator does, after ISCSI_TIMEOUT_S, as a real host adapter would by the
    # command's own time-out, so that a drive that stops answering fails its commands.
    for scsi_id, (portal, lun) in enumerate(drives):
        command += ["-drive", f"driver=iscsi,transport=tcp,portal={portal},target={IQN},"
                              f"lun={lun},timeout={ISCSI_TIMEOUT_S},if=none,id=drive{scsi_id}",
                    "-device", f"scsi-generic,drive=drive{scsi_id},bus=scsi0.0,channel=0,"
                               f"scsi-id={scsi_id},lun=0"]
    return command


def report(name, detail, failures, failed):
    """Prints a case's verdict, `detail` in brackets, and its failures one a line; a case that
    failed is added to `failed`."""
    print(f"{'ok' if not failures else 'FAILED'} {name} ({detail})")
    for failure in failures:
        print(f"    {failure}")
    if failures:
        failed.append(name)


def fetch_kernel(build):
    """The guest's kernel folder (fetch-kernel.sh), kept in kernel-cache beside the build folder;
    None, with the reason on standard error, when it cannot be had."""
    cache = os.path.join(os.path.dirname(build), "kernel-cache")
    os.makedirs(cache, exist_ok=True)
    kernel = subprocess.run(["bash", os.path.join(HERE, "fetch-kernel.sh"), cache],
                            capture_output=True, text=True, timeout=900)
    if kernel.returncode != 0:
        print(kernel.stderr, file=sys.stderr)
        return None
    return kernel.stdout.strip().splitlines()[-1]
