#!/usr/bin/env bash
# Inspects the 32-bit Windows deliverables of a win32 build as they are shipped: the folder that
# `cmake --install` fills and the release archive that `cpack -G ZIP` writes into the build.
#
#   scripts/check-pe.sh BUILD_DIR
#
# - the install folder holds exactly fwloader.exe and sumseal.dll, side by side at its top, and
#   the build holds no test program or stand-in beside the built fwloader.exe;
# - fwloader.exe and sumseal.dll are PE32 images for i386 (not PE32+);
# - fwloader.exe is a GUI program, imports DoCheck by name from sumseal.dll and nothing else from
#   it, and otherwise imports only from system DLLs that every 32-bit Windows has;
# - sumseal.dll exports exactly one name, DoCheck, undecorated, and imports only system DLLs;
# - both carry subsystem version 4.0, so that Windows 95 and NT 4 load them;
# - fwloader.exe carries manifest 1 asking for administrator rights (requireAdministrator,
#   uiAccess false) with no common-controls dependency;
# - both carry a version resource with the project's version (file and product, fixed and text);
# - fwloader-<version>-win32.zip holds exactly fwloader.exe and sumseal.dll, the same bytes as
#   installed, and README.txt, ASCII text with CRLF line ends;
# - where the build holds the Wine tests' stand-in wnaspi32.dll (test-fixtures/), it exports the
#   two ASPI entry points under their plain names.
# Prints one line per check; exits 1 when any check fails, 2 when the files are missing.
set -u

if [ $# -ne 1 ] || [ ! -d "$1" ]; then
  echo "usage: $0 BUILD_DIR (a win32 build folder, built and packaged with cpack -G ZIP)" >&2
  exit 2
fi
build=$1
here=$(cd "$(dirname "$0")" && pwd)
# The host objdump reads PE32 and PE32+ alike, so that a wrong build is named as such.
OBJDUMP=${OBJDUMP:-$(command -v objdump || command -v i686-w64-mingw32-objdump)}
WINDRES=${WINDRES:-$(command -v i686-w64-mingw32-windres || command -v x86_64-w64-mingw32-windres)}

# The system DLLs a 32-bit Windows from 95 and NT 4 on provides.
SYSTEM_DLLS="kernel32.dll user32.dll gdi32.dll comctl32.dll advapi32.dll msvcrt.dll shell32.dll comdlg32.dll"

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt" 2>/dev/null)
[ -n "$version" ] || { echo "FAIL  no project version in $build/CMakeCache.txt" >&2; exit 2; }
# The fixed version fields: 2.50 is major 2, minor 50.
fixed_version=$(echo "$version" | awk -F. '{ printf "%d.%d.%d.%d", $1, $2, $3, $4 }')

installed=$(mktemp -d /tmp/check-pe.XXXXXX)
trap 'rm -rf "$installed"' EXIT
if ! cmake --install "$build" --prefix "$installed" >"$installed.log" 2>&1; then
  echo "FAIL  cmake --install $build failed: $(tail -n 3 "$installed.log")" >&2
  rm -f "$installed.log"
  exit 2
fi
rm -f "$installed.log"
exe=$installed/fwloader.exe
dll=$installed/sumseal.dll
[ -f "$exe" ] || { echo "FAIL  the install folder has no fwloader.exe at its top" >&2; exit 2; }
[ -f "$dll" ] || { echo "FAIL  the install folder has no sumseal.dll at its top" >&2; exit 2; }

failures=0
ok() { echo "ok    $*"; }
bad() {
  echo "FAIL  $*"
  failures=$((failures + 1))
}

# "DLL member" lines of an image's import tables, lower-case DLL names: "kernel32.dll Sleep".
imports() {
  "$OBJDUMP" -p "$1" | awk '
    /^[[:space:]]*DLL Name:/ { dll = tolower($3); print dll " -"; next }
    /^[[:space:]]*$/ { dll = "" }
    dll != "" && /^[[:space:]]+[0-9a-f]+[[:space:]]+[0-9]+[[:space:]]+/ { print dll " " $3 }'
}

# Names in the export table of an image, one a line.
exports() {
  "$OBJDUMP" -p "$1" | awk '
    /^\[Ordinal\/Name Pointer\] Table/ { on = 1; next }
    on && /^[[:space:]]*\[[[:space:]]*[0-9]+\]/ { print $NF; next }
    on && /^[[:space:]]*$/ { on = 0 }'
}

field() { "$OBJDUMP" -p "$1" | awk -v f="$2" '$1 == f { print $2; exit }'; }

check_pe32_i386() {
  local file=$1 name
  name=$(basename "$file")
  if "$OBJDUMP" -f "$file" | grep -q 'file format pei-i386' &&
     "$OBJDUMP" -f "$file" | grep -q 'architecture: i386'; then
    ok "$name is PE32 for i386"
  else
    bad "$name is not PE32 for i386: $("$OBJDUMP" -f "$file" | grep -E 'file format|architecture' | tr '\n' ' ')"
  fi
  if command -v file >/dev/null; then
    if file -b "$file" | grep -q '^PE32 .*Intel 80386'; then
      ok "$name: $(file -b "$file" | cut -d, -f1)"
    else
      bad "$name: file(1) says $(file -b "$file")"
    fi
  fi
}

check_subsystem_version() {
  local file=$1 major minor
  major=$(field "$file" MajorSubsystemVersion)
  minor=$(field "$file" MinorSubsystemVersion)
  if [ "$major" = 4 ] && [ "$minor" = 0 ]; then
    ok "$(basename "$file") subsystem version 4.0"
  else
    bad "$(basename "$file") subsystem version $major.$minor, expected 4.0 (Windows 95 and NT 4)"
  fi
}

# Every imported DLL must be a system DLL, or sumseal.dll where $2 allows it.
check_import_dlls() {
  local file=$1 allow_sumseal=$2 dll
  for dll in $(imports "$file" | awk '$2 == "-" { print $1 }' | sort -u); do
    if [ "$allow_sumseal" = yes ] && [ "$dll" = sumseal.dll ]; then continue; fi
    case " $SYSTEM_DLLS " in
      *" $dll "*) ok "$(basename "$file") imports from $dll" ;;
      *) bad "$(basename "$file") imports from $dll, which is not a system DLL" ;;
    esac
  done
}

check_pe32_i386 "$exe"
check_pe32_i386 "$dll"
check_subsystem_version "$exe"
check_subsystem_version "$dll"

subsystem=$(field "$exe" Subsystem)
if [ "$subsystem" = 00000002 ]; then
  ok "fwloader.exe is a Windows GUI program"
else
  bad "fwloader.exe subsystem $subsystem, expected 00000002 (Windows GUI)"
fi

check_import_dlls "$exe" yes
sumseal_imports=$(imports "$exe" | awk '$1 == "sumseal.dll" && $2 != "-" { print $2 }' | sort -u | tr '\n' ' ')
if [ "$sumseal_imports" = "DoCheck " ]; then
  ok "fwloader.exe imports DoCheck by name from sumseal.dll, and nothing else from it"
else
  bad "fwloader.exe imports from sumseal.dll: [${sumseal_imports% }], expected [DoCheck] by name"
fi

check_import_dlls "$dll" no
dll_exports=$(exports "$dll" | sort | tr '\n' ' ')
if [ "$dll_exports" = "DoCheck " ]; then
  ok "sumseal.dll exports DoCheck alone, undecorated"
else
  bad "sumseal.dll exports [${dll_exports% }], expected [DoCheck]"
fi

# Exactly the two deliverables in the install folder; no test program or stand-in beside the
# built program either (Windows 9x would load a WNASPI32.dll from the program's folder).
contents=$(cd "$installed" && find . -mindepth 1 | sed 's|^\./||' | sort | tr '\n' ' ')
if [ "$contents" = "fwloader.exe sumseal.dll " ]; then
  ok "the install folder holds fwloader.exe and sumseal.dll, nothing else"
else
  bad "the install folder holds [${contents% }], expected [fwloader.exe sumseal.dll]"
fi
beside=$(cd "$build/bin" 2>/dev/null && ls -1 wnaspi32.dll sumseal_import_check.exe 2>/dev/null | tr '\n' ' ')
if [ -z "$beside" ]; then
  ok "no test program or stand-in beside the built fwloader.exe"
else
  bad "beside the built fwloader.exe in $build/bin: ${beside% } (test files belong in test-fixtures/)"
fi

# The manifest: administrator rights, and the classic controls (no common-controls dependency).
manifest=$(python3 "$here/pe_resources.py" "$WINDRES" "$exe" manifest)
if echo "$manifest" | grep -qx 'manifest 1'; then
  ok "fwloader.exe carries manifest 1 (type 24)"
else
  bad "fwloader.exe has no manifest 1: $(echo "$manifest" | tr '\n' ' ')"
fi
levels=$(echo "$manifest" | grep '^execution-level ' | tr '\n' ' ')
if [ "$levels" = "execution-level requireAdministrator uiAccess=false " ]; then
  ok "fwloader.exe asks for administrator rights (requireAdministrator, uiAccess false)"
else
  bad "fwloader.exe execution level [${levels% }], expected requireAdministrator with uiAccess false"
fi
if echo "$manifest" | grep -qi '^dependency microsoft.windows.common-controls'; then
  bad "fwloader.exe's manifest asks for the common controls: $(echo "$manifest" | grep -i common-controls)"
else
  ok "fwloader.exe's manifest names no common-controls dependency"
fi

# The version resources: the project's version, fixed and as text, file and product.
check_version() {
  local file=$1 name facts want_line
  name=$(basename "$file")
  facts=$(python3 "$here/pe_resources.py" "$WINDRES" "$file" version)
  for want_line in "file-version $fixed_version" "product-version $fixed_version" \
                   "string FileVersion=$version" "string ProductVersion=$version" \
                   "string OriginalFilename=$name"; do
    echo "$facts" | grep -qxF "$want_line" || { bad "$name version resource lacks [$want_line]: $(echo "$facts" | tr '\n' ' ')"; return; }
  done
  for want_line in ProductName FileDescription LegalCopyright CompanyName; do
    echo "$facts" | grep -q "^string $want_line=." || { bad "$name version resource has no $want_line"; return; }
  done
  ok "$name version $version ($(echo "$facts" | sed -n 's/^string ProductName=//p'), $(echo "$facts" | sed -n 's/^string LegalCopyright=//p'))"
}
check_version "$exe"
check_version "$dll"

# The release archive: the installed files, byte for byte, and README.txt for Windows.
archive=$build/fwloader-$version-win32.zip
if [ ! -f "$archive" ]; then
  bad "no release archive $archive (run cpack -G ZIP in $build)"
else
  report=$(python3 - "$archive" "$installed" 2>&1 <<'PY'
import os, sys, zipfile
archive, installed = sys.argv[1], sys.argv[2]
name = os.path.basename(archive)
with zipfile.ZipFile(archive) as z:
    names = sorted(z.namelist())
    want = ["README.txt", "fwloader.exe", "sumseal.dll"]
    print(("ok " if names == want else "FAIL ") + f"{name} holds {' '.join(names)}"
          + ("" if names == want else f", expected {' '.join(want)}"))
    for file in ("fwloader.exe", "sumseal.dll"):
        if file in names:
            same = z.read(file) == open(os.path.join(installed, file), "rb").read()
            print(("ok " if same else "FAIL ") + f"{name}: {file} is "
                  + ("the installed file" if same else "not the installed file"))
    if "README.txt" in names:
        text = z.read("README.txt")
        problems = []
        if any(b > 0x7E or (b < 0x20 and b not in (0x0D, 0x0A)) for b in text):
            problems.append("not plain ASCII")
        if text.count(b"\n") != text.count(b"\r\n") or text.count(b"\r") != text.count(b"\r\n"):
            problems.append("line ends not all CRLF")
        if not text.endswith(b"\r\n"):
            problems.append("no line end at the end")
        lines = text.count(b"\r\n")
        print(("FAIL " + f"{name}: README.txt " + ", ".join(problems)) if problems else
              f"ok {name}: README.txt is ASCII with CRLF line ends ({lines} lines)")
PY
  ) || bad "cannot read $archive: $report"
  while IFS= read -r line; do
    case $line in
      "ok "*) ok "${line#ok }" ;;
      "FAIL "*) bad "${line#FAIL }" ;;
    esac
  done <<<"$report"
fi

# The stand-in ASPI library of the Wine tests, where the build has it: only the 32-bit build shows
# whether its __cdecl entry points keep their plain names, as the program looks them up.
aspi=$build/test-fixtures/wnaspi32.dll
if [ -f "$aspi" ]; then
  aspi_exports=$(exports "$aspi" | sort | tr '\n' ' ')
  if [ "$aspi_exports" = "GetASPI32SupportInfo SendASPI32Command " ]; then
    ok "wnaspi32.dll (test stand-in) exports GetASPI32SupportInfo and SendASPI32Command"
  else
    bad "wnaspi32.dll (test stand-in) exports [${aspi_exports% }]"
  fi
fi

if [ "$failures" -eq 0 ]; then
  echo "check-pe: all checks passed (version $version; $build installed and packaged)"
else
  echo "check-pe: $failures check(s) failed"
  exit 1
fi
