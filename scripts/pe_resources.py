#!/usr/bin/env python3
"""Reads the resources of a Windows image through a mingw windres and prints what
scripts/check-pe.sh compares, one fact a line.

    pe_resources.py WINDRES FILE version
        file-version 2.50.0.0          (VS_FIXEDFILEINFO)
        product-version 2.50.0.0
        string CompanyName=...         (each value of the StringFileInfo tables)
    pe_resources.py WINDRES FILE manifest
        manifest 1                     (the name of each resource of type 24)
        execution-level requireAdministrator uiAccess=false
        dependency Microsoft.Windows.Common-Controls 6.0.0.0
        supported-os {GUID}

Exit status 1 when the resource is missing or does not parse, 2 on wrong arguments.
"""
import os
import struct
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

RT_VERSION, RT_MANIFEST = 16, 24
FIXED_FILE_INFO_SIGNATURE = 0xFEEF04BD


def align(at):
    return (at + 3) & ~3


def text_or_ordinal(data, at):
    if struct.unpack_from("<H", data, at)[0] == 0xFFFF:
        return struct.unpack_from("<H", data, at + 2)[0], at + 4
    end = at
    while data[end:end + 2] != b"\0\0":
        end += 2
    return data[at:end].decode("utf-16-le"), end + 2


def resources(data):
    """(type, name, bytes) of every entry of a .res file."""
    at = 0
    while at < len(data):
        size, header = struct.unpack_from("<II", data, at)
        kind, after = text_or_ordinal(data, at + 8)
        name, _ = text_or_ordinal(data, after)
        body = at + header
        yield kind, name, data[body:body + size]
        at = align(body + size)


def read_resources(windres, image):
    with tempfile.TemporaryDirectory() as folder:
        res = os.path.join(folder, "image.res")
        subprocess.run([windres, "-i", image, "-O", "res", "-o", res], check=True)
        return list(resources(open(res, "rb").read()))


def version_node(data, at):
    """One node of a VERSIONINFO tree: (key, value bytes, text?, children), and its end."""
    length, value_length, is_text = struct.unpack_from("<HHH", data, at)
    end = at + length
    key, pos = text_or_ordinal(data, at + 6)
    pos = align(pos)
    size = value_length * 2 if is_text else value_length
    value = data[pos:min(pos + size, end)]
    pos = align(pos + size)
    children = []
    while pos < end:
        child, pos = version_node(data, pos)
        children.append(child)
        pos = align(pos)
    return (key, value, is_text, children), end


def print_version(entries):
    bodies = [body for kind, _, body in entries if kind == RT_VERSION]
    if not bodies:
        print("no version resource")
        return 1
    (key, fixed, _, children), _ = version_node(bodies[0], 0)
    signature, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<6I", fixed, 0)
    if key != "VS_VERSION_INFO" or signature != FIXED_FILE_INFO_SIGNATURE:
        print("version resource without VS_FIXEDFILEINFO")
        return 1
    for label, ms, ls in (("file-version", file_ms, file_ls),
                          ("product-version", product_ms, product_ls)):
        print(f"{label} {ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}")
    for block, _, _, tables in children:
        if block != "StringFileInfo":
            continue
        for _, _, _, values in tables:
            for name, value, _, _ in values:
                print(f"string {name}={value.decode('utf-16-le').rstrip(chr(0))}")
    return 0


def local(tag):
    return tag.rsplit("}", 1)[-1]


def print_manifest(entries):
    manifests = [(name, body) for kind, name, body in entries if kind == RT_MANIFEST]
    if not manifests:
        print("no manifest")
        return 1
    for name, body in manifests:
        print(f"manifest {name}")
        try:
            root = ET.fromstring(body)
        except ET.ParseError as error:
            print(f"manifest does not parse: {error}")
            return 1
        for element in root.iter():
            tag = local(element.tag)
            if tag == "requestedExecutionLevel":
                print(f"execution-level {element.get('level')} uiAccess={element.get('uiAccess')}")
            elif tag == "dependentAssembly":
                for identity in element:
                    if local(identity.tag) == "assemblyIdentity":
                        print(f"dependency {identity.get('name')} {identity.get('version')}")
            elif tag == "supportedOS":
                print(f"supported-os {element.get('Id')}")
    return 0


def main():
    if len(sys.argv) != 4 or sys.argv[3] not in ("version", "manifest"):
        print(__doc__, file=sys.stderr)
        return 2
    windres, image, what = sys.argv[1:]
    entries = read_resources(windres, image)
    return print_version(entries) if what == "version" else print_manifest(entries)


if __name__ == "__main__":
    sys.exit(main())
