#!/usr/bin/env python3
"""Compiles fwloader.rc with windres and checks dialog templates 102 and 100, string 101, icon 128
and bitmap 129 field by field: ids, classes, texts, positions, styles, fonts and captions.

    dialog_templates_test.py WINDRES RC_FILE VERSION GENERATED_DIR

VERSION is the project's version, which the main dialog's version line shows; GENERATED_DIR holds
the configured version resource and manifest that the script includes.

A mistyped style or a statement that windres stores differently from how it reads (the ICON
statement drops its size, for one) shows here without Windows or Wine.
"""
import os
import struct
import subprocess
import sys
import tempfile

# Window, dialog and control styles.
WS_POPUP, WS_CHILD, WS_VISIBLE, WS_DISABLED = 0x80000000, 0x40000000, 0x10000000, 0x08000000
WS_CAPTION, WS_BORDER, WS_SYSMENU = 0x00C00000, 0x00800000, 0x00080000
WS_VSCROLL, WS_GROUP, WS_TABSTOP = 0x00200000, 0x00020000, 0x00010000
DS_MODALFRAME, DS_SETFONT = 0x80, 0x40
WS_EX_DLGMODALFRAME, WS_EX_TRANSPARENT, WS_EX_APPWINDOW = 0x1, 0x20, 0x40000
BS_DEFPUSHBUTTON, BS_AUTOCHECKBOX, BS_GROUPBOX, BS_FLAT = 0x1, 0x3, 0x7, 0x8000
CBS_DROPDOWN, CBS_SORT = 0x2, 0x100
ES_MULTILINE, ES_AUTOVSCROLL, ES_AUTOHSCROLL = 0x4, 0x40, 0x80
SS_ICON, SS_BITMAP, SS_NOPREFIX = 0x3, 0xE, 0x80
PBS_SMOOTH = 0x1
SHOWN = WS_CHILD | WS_VISIBLE
HIDDEN = WS_CHILD
STATIC_TEXT = SHOWN | WS_GROUP  # LTEXT: left-aligned, starts a group
NO_ID = 0xFFFFFFFF  # IDC_STATIC (-1)

# (id, class, text, (x, y, cx, cy), style, extended style), in template (tab) order.
MAIN_CONTROLS = [
    (2, "Button", "Close", (209, 120, 44, 13), SHOWN | WS_TABSTOP | BS_FLAT, 0),
    (NO_ID, "Static", "Target Drive At", (7, 8, 45, 8), STATIC_TEXT, 0),
    (NO_ID, "Static", "Source File", (7, 26, 40, 8), STATIC_TEXT, 0),
    (1000, "ComboBox", "", (55, 5, 125, 65),
     SHOWN | CBS_DROPDOWN | CBS_SORT | WS_VSCROLL | WS_TABSTOP, 0),
    (1001, "Edit", "", (55, 25, 90, 12),
     SHOWN | WS_DISABLED | WS_BORDER | ES_AUTOHSCROLL | WS_TABSTOP, 0),
    (1003, "Button", "Browse", (150, 25, 30, 14), SHOWN | WS_DISABLED | WS_TABSTOP, 0),
    (NO_ID, "Static", "Status:", (7, 67, 26, 8), STATIC_TEXT, 0),
    (1011, "msctls_progress32", "", (7, 84, 246, 12), SHOWN | PBS_SMOOTH | WS_BORDER, 0),
    (1012, "Edit", "", (123, 44, 46, 33),
     HIDDEN | ES_MULTILINE | ES_AUTOVSCROLL | WS_VSCROLL | WS_BORDER | WS_TABSTOP, 0),
    (1014, "Static", "Static", (42, 67, 138, 8), STATIC_TEXT, 0),
    (1015, "Button", "Upgrade", (209, 101, 44, 13), SHOWN | WS_TABSTOP | BS_FLAT, 0),
    (NO_ID, "Static", 129, (190, 10, 53, 33), SHOWN | SS_BITMAP, WS_EX_DLGMODALFRAME),
    (NO_ID, "Static", "Korvane", (196, 45, 49, 8), STATIC_TEXT, 0),
    (NO_ID, "Button", "", (185, 0, 65, 70), SHOWN | BS_GROUPBOX, WS_EX_TRANSPARENT),
    (NO_ID, "Static", "Version {version}", (196, 55, 45, 8), STATIC_TEXT, 0),
    (NO_ID, "Static", "Device Revision:", (7, 50, 60, 8), STATIC_TEXT, 0),
    (1016, "Static", "Static", (69, 50, 105, 8), STATIC_TEXT, 0),
    (1017, "Button", "Force to overwrite boot code", (7, 99, 134, 9),
     HIDDEN | BS_AUTOCHECKBOX | WS_TABSTOP, 0),
    (1019, "Button", "Disable checksum protect", (7, 125, 148, 8),
     HIDDEN | BS_AUTOCHECKBOX | WS_TABSTOP, 0),
]

ABOUT_CONTROLS = [
    (NO_ID, "Static", 128, (7, 7, 20, 20), SHOWN | SS_ICON, 0),
    (NO_ID, "Static", "Romwright for Combo Series", (40, 10, 125, 8),
     STATIC_TEXT | SS_NOPREFIX, 0),
    (NO_ID, "Static", "Copyright (C) Korvane Storage", (40, 25, 119, 8), STATIC_TEXT, 0),
    (1, "Button", "OK", (178, 7, 50, 14), SHOWN | BS_DEFPUSHBUTTON | WS_GROUP | WS_TABSTOP, 0),
]

# name: (style, extended style, (x, y, cx, cy), caption, (points, face), controls)
DIALOGS = {
    102: (WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT,
          WS_EX_APPWINDOW, (0, 0, 260, 140), "Korvane WINDOWS DOWNLOAD for 48x COMBO DRIVE",
          (8, "System"), MAIN_CONTROLS),
    100: (WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT, 0, (0, 0, 235, 55),
          "About Korvane Romwright", (8, "MS Sans Serif"), ABOUT_CONTROLS),
}

CLASS_ORDINALS = {0x80: "Button", 0x81: "Edit", 0x82: "Static", 0x85: "ComboBox"}
RT_BITMAP, RT_ICON, RT_STRING, RT_DIALOG, RT_GROUP_ICON = 2, 3, 6, 5, 14


class Reader:
    def __init__(self, data, at=0):
        self.data, self.at = data, at

    def take(self, fmt):
        values = struct.unpack_from("<" + fmt, self.data, self.at)
        self.at += struct.calcsize("<" + fmt)
        return values if len(values) > 1 else values[0]

    def align(self):
        self.at = (self.at + 3) & ~3

    def text(self):
        end = self.at
        while self.data[end:end + 2] != b"\0\0":
            end += 2
        value = self.data[self.at:end].decode("utf-16-le")
        self.at = end + 2
        return value

    def text_or_ordinal(self):
        if struct.unpack_from("<H", self.data, self.at)[0] == 0xFFFF:
            self.at += 2
            return self.take("H")
        return self.text()


def resources(data):
    """(type, name, bytes) of every entry of a .res file."""
    r = Reader(data)
    while r.at < len(data):
        start = r.at
        size, header = r.take("II")
        kind, name = r.text_or_ordinal(), r.text_or_ordinal()
        body = start + header
        yield kind, name, data[body:body + size]
        r.at = body + size
        r.align()


def dialog(data):
    r = Reader(data)
    version, signature, _, exstyle, style, count = r.take("HHIIIH")
    assert (version, signature) == (1, 0xFFFF), "not a DIALOGEX template"
    rect = r.take("hhhh")
    menu, window_class, caption = r.text_or_ordinal(), r.text_or_ordinal(), r.text()
    assert menu == "" and window_class == "", "a menu or window class"
    points, _, _, _ = r.take("HHBB")
    face = r.text()
    controls = []
    for _ in range(count):
        r.align()
        _, item_exstyle, item_style = r.take("III")
        item_rect = r.take("hhhh")
        item_id = r.take("I")
        item_class = r.text_or_ordinal()
        item_class = CLASS_ORDINALS.get(item_class, item_class)
        if isinstance(item_class, str) and item_class.lower() in ("button", "static", "edit"):
            item_class = item_class.capitalize()
        if isinstance(item_class, str) and item_class.lower() == "msctls_progress32":
            item_class = "msctls_progress32"
        text = r.text_or_ordinal()
        extra = r.take("H")
        r.at += extra
        controls.append((item_id, item_class, text, item_rect, item_style, item_exstyle))
    return style, exstyle, rect, caption, (points, face), controls


def strings(name, data):
    """The 16 strings of one string-table block, keyed by id."""
    r, out = Reader(data), {}
    for i in range(16):
        length = r.take("H")
        out[(name - 1) * 16 + i] = data[r.at:r.at + 2 * length].decode("utf-16-le")
        r.at += 2 * length
    return out


def main():
    windres, version, generated = sys.argv[1], sys.argv[3], sys.argv[4]
    rc_file = os.path.abspath(sys.argv[2])
    with tempfile.TemporaryDirectory() as folder:
        res = os.path.join(folder, "fwloader.res")
        subprocess.run([windres, "-I", os.path.dirname(rc_file), "-I", generated, rc_file,
                        "-O", "res", "-o", res], check=True, cwd=os.path.dirname(rc_file))
        data = open(res, "rb").read()

    failures = []

    def check(what, got, want):
        if got != want:
            failures.append(f"{what}: got {got!r}, want {want!r}")

    found = {}
    for kind, name, body in resources(data):
        found.setdefault(kind, {})[name] = body
    for name, want in DIALOGS.items():
        if name not in found.get(RT_DIALOG, {}):
            failures.append(f"dialog {name} missing")
            continue
        got = dialog(found[RT_DIALOG][name])
        for label, g, w in zip(("style", "extended style", "rectangle", "caption", "font"),
                               got[:5], want[:5]):
            check(f"dialog {name} {label}", g, w)
        check(f"dialog {name} control count", len(got[5]), len(want[5]))
        for index, (g, w) in enumerate(zip(got[5], want[5])):
            for label, gv, wv in zip(("id", "class", "text", "position", "style", "ex style"),
                                     g, w):
                if label in ("style", "ex style"):
                    gv, wv = hex(gv), hex(wv)
                if label == "text" and isinstance(wv, str):
                    wv = wv.format(version=version)
                check(f"dialog {name} control {index} ({w[2]}) {label}", gv, wv)

    table = {}
    for name, body in found.get(RT_STRING, {}).items():
        table.update(strings(name, body))
    check("string 101", table.get(101), "&About Romwright...")

    group = found.get(RT_GROUP_ICON, {}).get(128)
    if group is None:
        failures.append("icon 128 missing")
    else:
        _, _, images = struct.unpack_from("<HHH", group, 0)
        width, height, colours = struct.unpack_from("<BBB", group, 6)
        check("icon 128 images", images, 1)
        check("icon 128 size and colours", (width, height, colours), (32, 32, 16))
    bitmap = found.get(RT_BITMAP, {}).get(129)
    if bitmap is None:
        failures.append("bitmap 129 missing")
    else:
        _, width, height, _, bits = struct.unpack_from("<IiiHH", bitmap, 0)
        check("bitmap 129 size and depth", (width, abs(height), bits), (99, 60, 8))

    for failure in failures:
        print("FAIL", failure)
    if not failures:
        print("ok: templates 102 and 100, string 101, icon 128, bitmap 129")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
