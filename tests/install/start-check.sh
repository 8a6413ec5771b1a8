#!/usr/bin/env bash
# Starts the tarvel of an installed tree offscreen from a fresh working folder and checks that it
# found its synthesizer library; then starts it again with the library taken out of the tree and
# checks that it says so. The first run counts only once the program has got past loading the
# library: its settings name a port that does not exist, and the report of that port (after the
# library is loaded, when the window first shows) ends the run.
#
#   start-check.sh ROOT [PREFIX]    the tree is ROOT/PREFIX (PREFIX: /usr)
set -euo pipefail
root="$1"
prefix="${2:-/usr}"
exe="$root$prefix/bin/tarvel"
lib="$root$prefix/lib/tarvel/libma3smwemu_gsm.so"
[ -x "$exe" ] || { echo "start-check: no program $exe" >&2; exit 1; }
[ -f "$lib" ] || { echo "start-check: no library $lib" >&2; exit 1; }

work="$(mktemp -d)"
aside="$work/aside"
cleanup() {
    # The library goes back into the tree whatever happened.
    [ -f "$aside/libma3smwemu_gsm.so" ] && mv "$aside/libma3smwemu_gsm.so" "$lib"
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/cwd" "$aside"
port="$work/no-such-port"
printf '[COMMON]\nPORT=%s\n' "$port" >"$work/cwd/tarvel.ini"

# run LOG PATTERN: starts the program, waits at most 60 s for a line of its standard error that
# matches PATTERN, then ends it (its message box would wait for a click for ever).
run() {
    local log="$1" pattern="$2" pid i
    (cd "$work/cwd" && exec env -u LD_LIBRARY_PATH -u LD_PRELOAD QT_QPA_PLATFORM=offscreen "$exe") \
        >/dev/null 2>"$log" &
    pid=$!
    for ((i = 0; i < 600; i++)); do
        grep -qE "$pattern" "$log" && break
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
}

status=0
loader='^tarvel: .*libma3smwemu_gsm'
reached="^tarvel: cannot open $port"

run "$work/with.log" "$reached|$loader"
if grep -qE "$loader" "$work/with.log"; then
    echo "start-check: $exe did not find its synthesizer library:" >&2
    grep -E "$loader" "$work/with.log" | sed 's/^/  /' >&2
    status=1
elif ! grep -qE "$reached" "$work/with.log"; then
    echo "start-check: $exe never reached its window (no report of the port); its output:" >&2
    sed 's/^/  /' "$work/with.log" >&2
    status=1
fi

mv "$lib" "$aside/"
run "$work/without.log" "$loader"
mv "$aside/libma3smwemu_gsm.so" "$lib"
if ! grep -qE "$loader" "$work/without.log"; then
    echo "start-check: without its library, $exe did not report it missing; its output:" >&2
    sed 's/^/  /' "$work/without.log" >&2
    status=1
fi

[ "$status" -eq 0 ] && echo "start-check: $exe starts and finds $lib"
exit "$status"
