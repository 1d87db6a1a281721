"""Firmware files and flash checks for the Wine end-to-end runs.

  firmware.py make FILE                 writes a 512 KiB raw firmware image (a fixed pseudo-random
                                        pattern, so that a misplaced block shows)
  firmware.py check FIRMWARE FLASH BOOT  checks the simulated drive's flash after an update: the
                                        firmware file's bytes, with addresses 0..0x3FFF replaced
                                        by the drive's boot data (BOOT, 16 KiB) and the ImageSeal
                                        trailer in the last eight bytes

The seal is computed independently of the program, by the model that the native and kernel runs
check their flash with (tests/e2e/native/fwloader_e2e.py): CRC-32 with the generator 0x04C11DB7,
most significant bit first, initial register 0x33943510, no final XOR, over the big-endian words
below the last eight bytes less the window 0x3000..0x3FFF, stored big-endian and followed by four
0xFF bytes. Exit status 0 when the check holds, 1 otherwise (with the first differing offset).
"""
import os
import random
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "native"))
from fwloader_e2e import seal  # noqa: E402

IMAGE_LENGTH = 0x80000
BOOT_LENGTH = 0x4000


def make(path):
    rng = random.Random(0x7305)
    data = bytes(rng.getrandbits(8) for _ in range(IMAGE_LENGTH))
    with open(path, "wb") as out:
        out.write(data)


def expected_flash(firmware, boot):
    image = bytearray(firmware[:IMAGE_LENGTH].ljust(IMAGE_LENGTH, b"\0"))
    image[:BOOT_LENGTH] = boot[:BOOT_LENGTH]
    image[-8:] = seal(image)
    return bytes(image)


def check(firmware_path, flash_path, boot_path):
    with open(firmware_path, "rb") as f:
        firmware = f.read()
    with open(flash_path, "rb") as f:
        flash = f.read()
    with open(boot_path, "rb") as f:
        boot = f.read()
    if len(boot) < BOOT_LENGTH:
        print(f"boot data holds {len(boot)} bytes, expected {BOOT_LENGTH}")
        return 1
    expected = expected_flash(firmware, boot)
    if len(flash) != len(expected):
        print(f"flash holds {len(flash)} bytes, expected {len(expected)}")
        return 1
    if flash != expected:
        first = next(i for i in range(len(flash)) if flash[i] != expected[i])
        print(f"flash differs first at 0x{first:05X}: 0x{flash[first]:02X}, "
              f"expected 0x{expected[first]:02X}")
        return 1
    print(f"flash equals the firmware file with the boot data and seal "
          f"0x{int.from_bytes(expected[-8:-4], 'big'):08X}")
    return 0


def main(argv):
    if len(argv) == 3 and argv[1] == "make":
        make(argv[2])
        return 0
    if len(argv) == 5 and argv[1] == "check":
        return check(argv[2], argv[3], argv[4])
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
