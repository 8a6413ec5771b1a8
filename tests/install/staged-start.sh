#!/usr/bin/env bash
# Installs a build into a staging folder (DESTDIR, prefix /usr; nothing outside it is touched),
# checks the installed tree and starts the installed tarvel (start-check.sh).
#
#   staged-start.sh BUILD_DIR [CMAKE]
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build="$1"
cmake="${2:-cmake}"
stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT

DESTDIR="$stage" "$cmake" --install "$build" --prefix /usr >"$stage.log" 2>&1 || {
    cat "$stage.log" >&2; rm -f "$stage.log"; exit 1; }
rm -f "$stage.log"

status=0
for f in bin/tarvel bin/tarvel-cli share/man/man1/tarvel-cli.1.gz bin/tarvel-handset bin/smaf2wav bin/smafcompose lib/tarvel/libma3smwemu_gsm.so \
    share/applications/tarvel.desktop share/doc/tarvel/README.md; do
    [ -f "$stage/usr/$f" ] || { echo "staged-start: /usr/$f was not installed" >&2; status=1; }
done
for size in 16 22 24 32 48 64 128 256; do
    f="share/icons/hicolor/${size}x${size}/apps/tarvel.png"
    [ -f "$stage/usr/$f" ] || { echo "staged-start: /usr/$f was not installed" >&2; status=1; }
done
# The programs and nothing else: no test, benchmark or generator.
programs="$(cd "$stage/usr/bin" && ls | tr '\n' ' ')"
[ "$programs" = "smaf2wav smafcompose tarvel tarvel-cli tarvel-handset " ] || {
    echo "staged-start: bin/ holds: $programs" >&2; status=1; }
# A private library: no development link, nothing else in its folder.
libs="$(cd "$stage/usr/lib/tarvel" && ls | tr '\n' ' ')"
[ "$libs" = "libma3smwemu_gsm.so " ] || { echo "staged-start: lib/tarvel/ holds: $libs" >&2; status=1; }
[ "$(ls "$stage/usr/lib")" = "tarvel" ] || { echo "staged-start: lib/ holds: $(ls "$stage/usr/lib")" >&2; status=1; }

"$here/start-check.sh" "$stage" /usr || status=1
exit "$status"
