#!/usr/bin/env python3
"""Every --json document of the built fwloader against tests/app/fwloader.schema.json.

  json_schema_test.py FWLOADER SCHEMA

Runs the program on each path (--version, --help, usage and set-up errors, --list, --check, and
simulated updates), each in a temporary folder of its own with standard input not a terminal,
validates the one document on standard output against the schema, and checks the members that
say what happened. The schema itself must refuse documents that break the envelope. --check's
text for a file that is plainly not firmware, and for standard Intel HEX, is checked here too.
"""
import gzip
import json
import os
import random
import re
import subprocess
import sys
import tempfile

try:
    import jsonschema
except ImportError:
    sys.exit("json_schema_test: python3-jsonschema is missing (bash scripts/setup-debian)")

IMAGE = 0x80000
VENDOR, PRODUCT = b"KORVADSK", b"RW/DVD KDR-7305C"


def record(count, address, kind, data=b""):
    body = bytes([count, address >> 8, address & 0xFF, kind]) + data
    return ":" + body.hex().upper() + "%02X" % (-sum(body) & 0xFF) + "\r\n"


def firmware():
    """A full image that names the drive where a real one would: vendor and product apart."""
    rng = random.Random(7305)
    image = bytearray(rng.getrandbits(8) for _ in range(IMAGE))
    image[0x5000:0x5008] = VENDOR
    image[0x6000:0x6010] = PRODUCT
    return bytes(image)


# Standard Intel HEX as srec_cat and objcopy write it: an extended linear address record (type
# 04) on line 3. This drive's format addresses its banks with type 55 instead.
STANDARD_HEX = (record(16, 0x4000, 0, bytes(range(16))) + record(16, 0x4010, 0, bytes(16)) +
                record(2, 0, 4, b"\x00\x01") + record(16, 0, 0, bytes(16)) + record(0, 0, 1))


def make_files(folder):
    with open(os.path.join(folder, "QF2TR08.BIN"), "wb") as f:
        f.write(firmware())
    # A compressed image renamed .bin: any bytes are a raw image, so the loaders accept it.
    with open(os.path.join(folder, "packed.bin"), "wb") as f:
        rng = random.Random(1)
        f.write(gzip.compress(bytes(rng.getrandbits(8) for _ in range(40000)), mtime=0))
    with open(os.path.join(folder, "standard.hex"), "w", newline="") as f:
        f.write(STANDARD_HEX)
    with open(os.path.join(folder, "notes.txt"), "w") as f:
        f.write("not firmware\n")


SIM = "--simulate=time-scale=20"


def error_has(**members):
    def check(doc, stderr):
        error = doc.get("error", {})
        for key, value in members.items():
            got = error.get(key)
            ok = re.search(value, got or "") if isinstance(value, re.Pattern) else got == value
            if not ok:
                return f"error.{key} {got!r}, want {value!r}"
        return None
    return check


def file_has(**members):
    def check(doc, stderr):
        file = doc.get("file", {})
        for key, value in members.items():
            if file.get(key) != value:
                return f"file.{key} {file.get(key)!r}, want {value!r}"
        return None
    return check


def update_has(**members):
    def check(doc, stderr):
        update = doc.get("update", {})
        for key, value in members.items():
            if update.get(key) != value:
                return f"update.{key} {update.get(key)!r}, want {value!r}"
        return None
    return check


def says(text):
    def check(doc, stderr):
        return None if text in stderr else f"standard error lacks {text!r}: {stderr!r}"
    return check


def drives(*entries):
    def check(doc, stderr):
        got = [(d["device"], d["supported"]) for d in doc.get("drives", [])]
        return None if got == list(entries) else f"drives {got!r}, want {list(entries)!r}"
    return check


def help_text(doc, stderr):
    text = doc.get("help", {}).get("text", "")
    return None if text.startswith("Usage: fwloader") else f"help text {text[:40]!r}"


# name: (arguments, command, exit status, further checks)
CASES = {
    "version": (["--json", "--version"], "version", 0, []),
    "version_first": (["--version", "--json"], "version", 0, []),
    "help": (["--json", "-h"], "help", 0, [help_text]),
    "usage_unknown_option": (["--json", "--bogus"], "usage", 2,
                             [error_has(message="unrecognized option '--bogus'")]),
    "usage_bad_scenario": (["--json", "--list", "--simulate=drives=cdrom"], "usage", 2,
                           [error_has(message=re.compile(r"^option '--simulate': "))]),
    "list": (["--json", "--list", "--simulate=drives=other+kdr"], "list", 0,
             [drives(("/dev/sr0", False), ("/dev/sr1", True))]),
    "list_other_only": (["--json", "--list", "--simulate=drives=other"], "list", 3,
                        [drives(("/dev/sr0", False)),
                         error_has(message="none of them is the supported KORVADSK "
                                           "RW/DVD KDR-7305C")]),
    "list_none": (["--json", "--list", "--simulate=drives=none"], "list", 3,
                  [drives(), error_has(message="no optical drive found"),
                   says("fwloader: no optical drive found\n")]),
    "list_set_up": (["--json", "--list", "--simulate", "--trace", "no-folder/trace.txt"],
                    "list", 2, [error_has(message=re.compile("trace"))]),
    "check": (["--json", "--check"], "check", 0,
              [file_has(path="QF2TR08.BIN", format="binary", accepted=True, size=IMAGE,
                        image_bytes=IMAGE, image_percent=100.0, looks_like=None,
                        identification={"vendor_offset": 0x5000, "product_offset": 0x6000,
                                        "searched": "image"})]),
    "check_packed": (["--json", "--check", "packed.bin"], "check", 0,
                     [file_has(accepted=True, looks_like="starts with gzip signature 1f 8b",
                               identification={"vendor_offset": None, "product_offset": None,
                                               "searched": "image"})]),
    "check_standard_hex": (["--json", "--check", "standard.hex"], "check", 4,
                           [file_has(format="text records", accepted=False),
                            error_has(message="ERR: input file format mismatched!", line=3,
                                      reason="line 3: record type 04 is not used by this "
                                             "format (00, 01 and 55 are)",
                                      hint=re.compile("srec_cat"))]),
    "check_wrong_extension": (["--json", "--check", "notes.txt"], "check", 4,
                              [file_has(format=None),
                               error_has(message="Update file name is not correct!")]),
    "check_missing": (["--json", "--check", "missing.bin"], "check", 4,
                      [file_has(size=0, first_bytes=""),
                       error_has(message="ERR: fail to read input file!")]),
    "update": (["--json", SIM, "--yes", "--file", "QF2TR08.BIN"], "update", 0,
               [update_has(outcome="updated", revision_before="TR07", revision_after="TR08")]),
    "update_untouched": (["--json", "--simulate=time-scale=20,write-fail=3:6", "--yes"],
                         "update", 5, [update_has(outcome="untouched")]),
    "update_not_confirmed": (["--json", SIM], "update", 3, []),
    "update_file_refused": (["--json", SIM, "--yes", "--file", "standard.hex"], "update", 4,
                            [file_has(accepted=False), error_has(line=3)]),
    "update_device_refused": (["--json", SIM, "--yes", "--device", "/dev/sr4"], "update", 3, []),
    "update_set_up": (["--json", SIM, "--yes", "--trace", "no-folder/trace.txt"], "update", 2,
                      []),
}

# --check's text: (arguments, exit status, lines that must stand on standard output)
TEXT_CASES = {
    "text_check_packed": (["--check", "packed.bin"], 0, [
        r"first bytes: 1f 8b 08 00 00 00 00 00 .*\(starts with gzip signature 1f 8b\)",
        r"model id: +none: neither \"KORVADSK\" nor \"RW/DVD KDR-7305C\" appears in the image",
        r"note: +nothing in the file names the drive; a raw image is any bytes",
        r"verdict: +accepted"]),
    "text_check_standard_hex": (["--check", "standard.hex"], 4, [
        r"verdict: +refused: ERR: input file format mismatched!",
        r"reason: +line 3: record type 04 is not used by this format \(00, 01 and 55 are\)",
        r"hint: +types 02 and 04 are the extended address records of standard Intel HEX"]),
    "text_check_full": (["--check"], 0, [
        r"image bytes: 524288 supplied by the file \(100\.0 % of the 524288-byte image; "
        r"507896 of them reach the drive",
        r"model id: +\"KORVADSK\" at 0x5000 and \"RW/DVD KDR-7305C\" at 0x6000 in the image"]),
}

# Documents the schema must refuse: each breaks one rule of the envelope.
ENVELOPE = {"format": 1, "program": "fwloader", "version": "2.50", "command": "list",
            "exit_status": 0, "drives": [{"device": "/dev/sr0", "vendor": "KORVADSK",
                                          "product": "RW/DVD KDR-7305C", "revision": "TR07",
                                          "supported": True}]}
REFUSED = {
    "a bare array": [ENVELOPE["drives"][0]],
    "no format": {k: v for k, v in ENVELOPE.items() if k != "format"},
    "another format": dict(ENVELOPE, format=2),
    "an error beside status 0": dict(ENVELOPE, error={"message": "x"}),
    "no error beside status 3": dict(ENVELOPE, exit_status=3),
    "status 0 without a supported drive": dict(
        ENVELOPE, drives=[dict(ENVELOPE["drives"][0], supported=False)]),
    "an unknown command": dict(ENVELOPE, command="flash"),
    "a member of another command": dict(ENVELOPE, file={}),
    "a block outside the transfer": {
        "format": 1, "program": "fwloader", "version": "2.50", "command": "update",
        "exit_status": 5, "update": {"outcome": "untouched"},
        "error": {"message": "x", "phase": "commit", "block": 3}},
    "sense without its texts": {
        "format": 1, "program": "fwloader", "version": "2.50", "command": "update",
        "exit_status": 5, "update": {"outcome": "untouched"},
        "error": {"message": "x", "phase": "transfer", "block": 3,
                  "sense": {"key": 4, "asc": 68, "ascq": 0}}},
}


def run(program, args, folder):
    return subprocess.run([program] + args, cwd=folder, stdin=subprocess.DEVNULL,
                          capture_output=True, text=True, timeout=60)


def main():
    program, schema_path = os.path.abspath(sys.argv[1]), sys.argv[2]
    with open(schema_path) as f:
        schema = json.load(f)
    validator_class = jsonschema.validators.validator_for(schema)
    validator_class.check_schema(schema)
    validator = validator_class(schema)
    failures = []

    for name, document in REFUSED.items():
        if validator.is_valid(document):
            failures.append(f"schema: accepts {name}")
    # The example in the schema's own terms: an update's failure with the whole error object.
    failed_block = {
        "format": 1, "program": "fwloader", "version": "2.50", "command": "update",
        "exit_status": 5, "update": {"outcome": "untouched"},
        "error": {"message": "block 3 would not go", "phase": "transfer", "block": 3,
                  "engine_text": "Execute command error!!  4/44/ 0",
                  "sense": {"key": 4, "asc": 68, "ascq": 0, "key_text": "Hardware Error",
                            "asc_text": "Internal target failure"}}}
    for error in validator.iter_errors(failed_block):
        failures.append(f"schema: refuses a failed block: {error.message}")

    for name, (args, command, status, checks) in CASES.items():
        with tempfile.TemporaryDirectory(prefix="fwloader-json-") as folder:
            make_files(folder)
            result = run(program, args, folder)
        where = f"{name} ({' '.join(args)})"
        if result.returncode != status:
            failures.append(f"{where}: exit status {result.returncode}, want {status}")
        try:
            doc = json.loads(result.stdout)
        except ValueError as e:
            failures.append(f"{where}: standard output is not one JSON document ({e}): "
                            f"{result.stdout[:200]!r}")
            continue
        for error in validator.iter_errors(doc):
            path = "/".join(str(p) for p in error.absolute_path)
            failures.append(f"{where}: schema: {path}: {error.message}")
        if doc.get("command") != command or doc.get("exit_status") != result.returncode:
            failures.append(f"{where}: command {doc.get('command')!r} exit_status "
                            f"{doc.get('exit_status')!r}, want {command!r} {result.returncode}")
        for check in checks:
            problem = check(doc, result.stderr)
            if problem:
                failures.append(f"{where}: {problem}")

    for name, (args, status, patterns) in TEXT_CASES.items():
        with tempfile.TemporaryDirectory(prefix="fwloader-json-") as folder:
            make_files(folder)
            result = run(program, args, folder)
        if result.returncode != status:
            failures.append(f"{name}: exit status {result.returncode}, want {status}")
        for pattern in patterns:
            if not re.search(pattern, result.stdout, re.MULTILINE):
                failures.append(f"{name}: no line /{pattern}/ in {result.stdout!r}")

    for failure in failures:
        print("FAIL", failure)
    print(f"json_schema_test: {len(CASES)} documents, {len(TEXT_CASES)} texts, "
          f"{len(REFUSED)} refusals of the schema; {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
