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


def record(kind, address, data):
    fields = bytes([len(data), (address >> 8) & 0xFF, address & 0xFF, kind]) + data
    checksum = (-sum(fields)) & 0xFF
    return ":" + (fields + bytes([checksum])).hex().upper() + "\r\n"


def text_records(image, segment_record):
    lines = []
    for a in range(0, len(image), RECORD_BYTES):
        if a and a % 0x10000 == 0:
            lines.append(segment_record(a >> 16))
        lines.append(record(0x00, a & 0xFFFF, image[a:a + RECORD_BYTES]))
    lines.append(record(0x01, 0, b""))
    return "".join(lines)


def main():
    folder = sys.argv[1]
    image = pattern_image()
    files = {
        "full.hex": text_records(image, lambda upper: record(0x55, 0, b"")),
        "plain.hex": text_records(image, lambda upper: record(0x04, 0, upper.to_bytes(2, "big"))),
    }
    for name, text in files.items():
        with open(os.path.join(folder, name), "w", newline="") as f:
            f.write(text)
    with open(os.path.join(folder, "full.bin"), "wb") as f:
        f.write(image)
    print(f"0x{sum(image) & 0xFFFF:04X}")


if __name__ == "__main__":
    main()
