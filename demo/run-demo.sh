#!/usr/bin/env bash
# Runs Tarvel against the virtual handset, which serves a copy of demo/phone on a pseudo-terminal.
#   demo/run-demo.sh BIN_DIR     (BIN_DIR holds tarvel and tarvel-handset; ./tarvel.sh demo calls it)
# The demo works in a fresh folder (demo/ itself is never changed): the handset's files, a PC
# folder with files to upload, and the tarvel.ini that names the handset's port. Closing Tarvel
# stops the handset.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
if [ $# -ne 1 ]; then
    echo "usage: $0 BIN_DIR" >&2
    exit 2
fi
bin="$(cd "$1" && pwd)"
for program in tarvel tarvel-handset; do
    if [ ! -x "$bin/$program" ]; then
        echo "run-demo.sh: $bin/$program is missing; build first (./tarvel.sh build)" >&2
        exit 1
    fi
done

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    cat >&2 <<'MSG'
Tarvel is a desktop program and there is no display to show its window on
(neither DISPLAY nor WAYLAND_DISPLAY is set).

Run the demo from a desktop session, or under a virtual display:

    xvfb-run -a ./tarvel.sh demo

(xvfb-run comes with the package xvfb: sudo apt-get install xvfb)
MSG
    exit 1
fi

base="${XDG_RUNTIME_DIR:-}"
[ -n "$base" ] && [ -d "$base" ] && [ -w "$base" ] || base="${TMPDIR:-/tmp}"
work="$(mktemp -d "$base/tarvel-demo-XXXXXX")"
cp -R "$here/phone" "$work/phone"
cp -R "$here/pc" "$work/pc"
# A file big enough to watch a transfer's rate and time left (and to cancel a queue with it).
head -c 300000 /dev/urandom >"$work/phone/big-file.bin"
port="$work/handset-port"

# The line is paced as a real cable at 115200 bit/s carries it.
"$bin/tarvel-handset" --root "$work/phone" --create-tree --link "$port" --rate 11520 \
    >"$work/handset.out" 2>"$work/handset.log" &
handset_pid=$!

stop_handset() {
    if kill -0 "$handset_pid" 2>/dev/null; then
        kill -TERM "$handset_pid" 2>/dev/null || true
        wait "$handset_pid" 2>/dev/null || true
    fi
}
trap stop_handset EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# The handset prints its terminal's path once it is ready.
for _ in $(seq 100); do
    [ -s "$work/handset.out" ] && [ -L "$port" ] && break
    if ! kill -0 "$handset_pid" 2>/dev/null; then
        break
    fi
    sleep 0.05
done
if [ ! -L "$port" ]; then
    echo "run-demo.sh: the virtual handset did not start:" >&2
    cat "$work/handset.log" >&2
    exit 1
fi

cat >"$work/tarvel.ini" <<INI
[COMMON]
PORT=$port
COMPortBaudRate=115200
HOMEDIR=$work/pc
COMCheckLineStatus=0
COMHwFlow=1
INI

echo "Demo folder: $work"
echo "  phone/   the handset's files (served on $(head -n 1 "$work/handset.out"), linked as $port)"
echo "  pc/      the PC folder Tarvel opens"
echo "  handset.log  the handset's messages"
echo "From another terminal, while Tarvel runs: cd $work && $bin/tarvel-cli ls /"

status=0
(cd "$work" && "$bin/tarvel") || status=$?
exit "$status"
