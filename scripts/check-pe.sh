#!/usr/bin/env bash
# Inspects the 32-bit Windows deliverables of a win32 build, the files as they are shipped:
#
#   scripts/check-pe.sh BUILD_DIR
#
# - fwloader.exe and sumseal.dll are PE32 images for i386 (not PE32+);
# - fwloader.exe is a GUI program, imports DoCheck by name from sumseal.dll and nothing else from
#   it, and otherwise imports only from system DLLs that every 32-bit Windows has;
# - sumseal.dll exports exactly one name, DoCheck, undecorated, and imports only system DLLs;
# - both carry subsystem version 4.0, so that Windows 95 and NT 4 load them;
# - where the build holds the Wine tests' stand-in wnaspi32.dll, it exports the two ASPI entry
#   points under their plain names.
# Prints one line per check; exits 1 when any check fails, 2 when the files are missing.
set -u

if [ $# -ne 1 ] || [ ! -d "$1" ]; then
  echo "usage: $0 BUILD_DIR (a win32 build folder)" >&2
  exit 2
fi
build=$1
# The host objdump reads PE32 and PE32+ alike, so that a wrong build is named as such.
OBJDUMP=${OBJDUMP:-$(command -v objdump || command -v i686-w64-mingw32-objdump)}

# The system DLLs a 32-bit Windows from 95 and NT 4 on provides.
SYSTEM_DLLS="kernel32.dll user32.dll gdi32.dll comctl32.dll advapi32.dll msvcrt.dll shell32.dll comdlg32.dll"

failures=0
ok() { echo "ok    $*"; }
bad() {
  echo "FAIL  $*"
  failures=$((failures + 1))
}

find_file() {
  find "$build" -name "$1" -type f -not -path '*/CMakeFiles/*' 2>/dev/null | sort | head -n 1
}

exe=$(find_file fwloader.exe)
dll=$(find_file sumseal.dll)
[ -n "$exe" ] || { echo "FAIL  no fwloader.exe under $build" >&2; exit 2; }
[ -n "$dll" ] || { echo "FAIL  no sumseal.dll under $build" >&2; exit 2; }

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

# The stand-in ASPI library of the Wine tests, where the build has it: only the 32-bit build shows
# whether its __cdecl entry points keep their plain names, as the program looks them up.
aspi=$(find_file wnaspi32.dll)
if [ -n "$aspi" ]; then
  aspi_exports=$(exports "$aspi" | sort | tr '\n' ' ')
  if [ "$aspi_exports" = "GetASPI32SupportInfo SendASPI32Command " ]; then
    ok "wnaspi32.dll (test stand-in) exports GetASPI32SupportInfo and SendASPI32Command"
  else
    bad "wnaspi32.dll (test stand-in) exports [${aspi_exports% }]"
  fi
fi

if [ "$failures" -eq 0 ]; then
  echo "check-pe: all checks passed ($exe, $dll)"
else
  echo "check-pe: $failures check(s) failed"
  exit 1
fi
