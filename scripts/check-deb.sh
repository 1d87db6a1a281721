#!/usr/bin/env bash
# The Debian package of the native build: made with cpack, checked with lintian (no errors),
# installed with dpkg, exercised from the installed files only, and removed again.
# Usage: bash scripts/check-deb.sh [BUILD_DIR]   (default build/native; dpkg runs as root,
# through sudo when needed)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build/native}"
arch="$(dpkg --print-architecture)"
version="$(sed -n 's/^project(fwloader VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)"
deb="$build/fwloader_${version}_${arch}.deb"

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
rm -f "$deb"
(cd "$build" && cpack -G DEB >/dev/null)
echo "check-deb: $deb"
dpkg-deb --contents "$deb"

echo "check-deb: lintian"
lint="$(lintian --fail-on error --display-info "$deb")" || { echo "$lint"; exit 1; }
echo "$lint"
# The binaries are built hardened (-z relro -z now, _FORTIFY_SOURCE): lintian's hardening tags,
# informational as they are, must not appear.
if grep -q "hardening-" <<<"$lint"; then
  echo "check-deb: lintian reports a hardening tag" >&2
  exit 1
fi

if dpkg-query -W -f='${Status}' fwloader 2>/dev/null | grep -q "install ok installed"; then
  echo "check-deb: fwloader is installed already; not touching it" >&2
  exit 1
fi
folder="$(mktemp -d)"
cleanup() {
  "${as_root[@]}" dpkg -r fwloader >/dev/null 2>&1 || true
  rm -rf "$folder"
}
trap cleanup EXIT
"${as_root[@]}" dpkg -i "$deb"

# From the installed files alone: a clean environment, run from a folder of its own.
run() { (cd "$folder" && env -i PATH=/usr/bin:/bin "$@"); }
test "$(run sh -c "command -v fwloader")" = /usr/bin/fwloader
run fwloader --version
test "$(run man -w fwloader)" = /usr/share/man/man1/fwloader.1.gz
run man -w fwloader
# The program finds its private library through its RUNPATH, not the loader's search path.
libsumseal="$(realpath "$(ldd /usr/bin/fwloader | awk '/libsumseal/ {print $3}')")"
echo "libsumseal.so: $libsumseal"
case "$libsumseal" in /usr/lib/*/fwloader/libsumseal.so|/usr/lib/fwloader/libsumseal.so) ;; *)
  echo "check-deb: libsumseal.so not found in its private folder" >&2; exit 1 ;;
esac
bash -c 'source /usr/share/bash-completion/completions/fwloader && complete -p fwloader'
# A whole simulated update by the installed program: the seal comes from the installed library.
head -c 524288 /dev/urandom > "$folder/QF2TR08.BIN"
run fwloader --simulate=time-scale=20 --yes --json </dev/null 2>/dev/null |
  python3 -c 'import json, sys; d = json.load(sys.stdin); print("simulated update:", d["command"], d["update"]["outcome"]); sys.exit(d["exit_status"])'

"${as_root[@]}" dpkg -r fwloader
test ! -e /usr/bin/fwloader
echo "check-deb: built, linted, installed, run and removed"
