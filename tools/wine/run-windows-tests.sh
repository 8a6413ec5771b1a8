#!/usr/bin/env bash
# The Windows side of the platform layer, tried on Linux: cross-builds the Qt-free units and
# their tests with mingw-w64 into build-win and runs the tests under Wine, in a private Wine
# prefix whose COM5 is the virtual handset's pseudo-terminal.
#   tools/wine/run-windows-tests.sh HANDSET   (HANDSET: the Linux build's tarvel-handset)
# ./tarvel.sh windows installs what this needs and calls it.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
if [ $# -ne 1 ] || [ ! -x "$1" ]; then
    echo "usage: $0 PATH_TO_tarvel-handset" >&2
    exit 2
fi
handset="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
build="${TARVEL_WIN_BUILD_DIR:-$root/build-win}"
jobs="$(nproc 2>/dev/null || echo 2)"

cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DTARVEL_CORE_ONLY=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$jobs"

# A prefix of our own; no Mono or Gecko (nothing here needs them, and they would be fetched).
export WINEPREFIX="$build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "Making the Wine prefix $WINEPREFIX"
    wineboot --init >/dev/null 2>&1 || true
    wineserver --wait || true
fi
[ -f "$WINEPREFIX/system.reg" ] || { echo "run-windows-tests.sh: Wine could not make its prefix" >&2; exit 1; }

# The virtual handset on a pseudo-terminal, serving a scratch folder; COM5 of the prefix is it.
work="$(mktemp -d "${TMPDIR:-/tmp}/tarvel-wine-XXXXXX")"
mkdir -p "$work/phone"
"$handset" --root "$work/phone" --create-tree --link "$work/handset-port" \
    >"$work/handset.out" 2>"$work/handset.log" &
handset_pid=$!
cleanup() {
    kill -TERM "$handset_pid" 2>/dev/null || true
    wait "$handset_pid" 2>/dev/null || true
    rm -f "$WINEPREFIX/dosdevices/com5"
    wineserver --kill 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
for _ in $(seq 100); do
    [ -s "$work/handset.out" ] && [ -L "$work/handset-port" ] && break
    kill -0 "$handset_pid" 2>/dev/null || { cat "$work/handset.log" >&2; exit 1; }
    sleep 0.1
done
ln -sfn "$(readlink -f "$work/handset-port")" "$WINEPREFIX/dosdevices/com5"

export TARVEL_TEST_COM_PORT=COM5
export TARVEL_TEST_HANDSET_ROOT="Z:$(printf '%s' "$work/phone" | tr '/' '\\')"

cd "$build"
# One program at a time: the serial tests share the one port. A failed program runs once more,
# as in the Linux suite (Wine starting a process under a new locale failed once in a dozen runs).
ctest --output-on-failure --timeout 300
