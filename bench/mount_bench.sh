#!/usr/bin/env bash
# The phone folder on the paced 115200 bit/s line (11,520 bytes/s), run by hand, not a test:
#   - cat of a 300 KB file through the mount against tarvel-cli get of the same file
#   - cp of a 300 KB file into the mount against tarvel-cli put
#   - ls -l of a folder of 200 entries, already listed, while a download runs
#
#   bench/mount_bench.sh [BUILD_DIR (build)]
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bin="$(cd "${1:-$here/build}" && pwd)/bin"
work="$(mktemp -d)"
handset_pid=""
cleanup() {
    fusermount3 -u -z "$work/mp" 2>/dev/null || true
    [ -n "$handset_pid" ] && kill "$handset_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/phone/images" "$work/phone/user/sounds" "$work/mp" "$work/pc"
head -c 300000 /dev/urandom > "$work/phone/images/big.bin"
head -c 300000 /dev/urandom > "$work/phone/images/big2.bin"
head -c 300000 /dev/urandom > "$work/pc/up.bin"
for i in $(seq -w 1 200); do echo "$i" > "$work/phone/user/sounds/tune$i.mmf"; done
"$bin/tarvel-handset" --root "$work/phone" --link "$work/port" --rate 11520 >/dev/null 2>&1 &
handset_pid=$!
while [ ! -e "$work/port" ]; do sleep 0.1; done
export TARVEL_PORT="$work/port"
cd "$work/pc"

seconds() { local start end; start=$(date +%s.%N); "$@" >/dev/null; end=$(date +%s.%N); printf "%.2f" "$(echo "$end - $start" | bc)"; }
rate() { echo "scale=0; 300000 / $1" | bc; }

get=$(seconds "$bin/tarvel-cli" --quiet get /images/big.bin --overwrite)
put=$(seconds "$bin/tarvel-cli" --quiet put up.bin /user --overwrite)
"$bin/tarvel-cli" --quiet rm --yes /user/up.bin

# Listings kept for the whole run: the folder of 200 entries is listed once.
"$bin/tarvel-cli" --quiet mount "$work/mp" -o relist=600
ls -l "$work/mp/user/sounds" "$work/mp/images" >/dev/null
cat_time=$(seconds cat "$work/mp/images/big.bin")
cp_time=$(seconds cp up.bin "$work/mp/user/")
cmp up.bin "$work/phone/user/up.bin"
# A download under way: a file not read before.
cat "$work/mp/images/big2.bin" >/dev/null &
reader=$!
sleep 2
ls_time=$(seconds ls -l "$work/mp/user/sounds")
wait "$reader"
fusermount3 -u "$work/mp"

printf '%-44s %8s s %8s B/s\n' "tarvel-cli get, 300 KB" "$get" "$(rate "$get")"
printf '%-44s %8s s %8s B/s\n' "cat through the mount, 300 KB" "$cat_time" "$(rate "$cat_time")"
printf '%-44s %8s s %8s B/s\n' "tarvel-cli put, 300 KB" "$put" "$(rate "$put")"
printf '%-44s %8s s %8s B/s\n' "cp into the mount, 300 KB" "$cp_time" "$(rate "$cp_time")"
printf '%-44s %8s s\n' "ls -l of 200 listed entries during a download" "$ls_time"
