"""Loads libsumseal.so from Python, as another language would, and checks DoCheck's seals
against a plain shift-register reference on random buffers."""
import ctypes
import random
import sys


def reference_seal(buf, window_start, window_length):
    reg = 0x33943510
    end = (window_start + window_length) & 0xFFFFFFFF
    for offset in range(0, len(buf) - 8, 4):
        if offset < window_start or offset >= end:
            reg ^= int.from_bytes(buf[offset:offset + 4], "big")
            for _ in range(32):
                reg = ((reg << 1) ^ 0x04C11DB7) & 0xFFFFFFFF if reg & 0x80000000 else (reg << 1) & 0xFFFFFFFF
    return reg


def main():
    lib = ctypes.CDLL(sys.argv[1])
    lib.DoCheck.restype = ctypes.c_int32
    lib.DoCheck.argtypes = [ctypes.c_void_p, ctypes.c_uint32, ctypes.c_uint32, ctypes.c_uint32]
    rng = random.Random(99)
    failures = 0
    for _ in range(40):
        length = 8 + 4 * rng.randrange(0, 400)
        data = bytes(rng.randrange(256) for _ in range(length))
        window_start = rng.randrange(0, length + 8)
        window_length = rng.randrange(0, length + 8)
        buf = ctypes.create_string_buffer(data, length)
        if lib.DoCheck(buf, length, window_start, window_length) != 1:
            failures += 1
            continue
        out = buf.raw
        seal = reference_seal(data, window_start, window_length)
        if out[:-8] != data[:-8] or out[-8:] != seal.to_bytes(4, "big") + b"\xff" * 4:
            failures += 1
    print(f"{40 - failures} passed, {failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
