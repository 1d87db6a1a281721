#!/usr/bin/env python3
"""Writes the firmware files that scripts/bench measures, into the folder it is given:

  full.hex   a whole 512 KiB image as this system's text records: 16 data bytes a record, a
             bank record (type 0x55) before each further 64 KiB, an end record, CR LF line ends
             (about 1.47 MB)
  plain.hex  the same bytes as plain Intel HEX: an extended linear address record (type 0x04)
             where full.hex has a bank record, which a standard tool reads
  full.bin   the image itself

and prints the image's 16-bit byte sum, the figure a check of either file must report.
"""
import os
import sys

from text_records import bank_record, linear_address_record, text_records

IMAGE_SIZE = 0x80000
RECORD_BYTES = 16


def pattern_image():
    # A fixed pseudo-random fill (a 32-bit linear congruential generator): every byte value
    # occurs, and nothing repeats from record to record.
    state = 0x2545F491
    out = bytearray(IMAGE_SIZE)
    for i in range(IMAGE_SIZE):
        state = (state * 1664525 + 1013904223) & 0xFFFFFFFF
        out[i] = state >> 24
    return bytes(out)


def main():
    folder = sys.argv[1]
    image = pattern_image()
    files = {
        "full.hex": text_records(image, RECORD_BYTES, bank_record),
        "plain.hex": text_records(image, RECORD_BYTES, linear_address_record),
    }
    for name, text in files.items():
        with open(os.path.join(folder, name), "w", newline="") as f:
            f.write(text)
    with open(os.path.join(folder, "full.bin"), "wb") as f:
        f.write(image)
    print(f"0x{sum(image) & 0xFFFF:04X}")


if __name__ == "__main__":
    main()
