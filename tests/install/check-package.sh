#!/usr/bin/env bash
# Checks the Debian package that `./tarvel.sh package` made: its files, its control fields (the
# Depends field that dpkg-shlibdeps worked out included), the menu entry (desktop-file-validate
# where it is installed), the icons, and that the packaged program starts and finds its
# synthesizer library (start-check.sh on the unpacked tree).
#
#   check-package.sh [PACKAGE.deb]    default: the one tarvel_*.deb in build/ (TARVEL_BUILD_DIR)
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
repo="$(cd "$here/../.." && pwd)"

deb="${1:-}"
if [ -z "$deb" ]; then
    shopt -s nullglob
    found=("${TARVEL_BUILD_DIR:-$repo/build}"/tarvel_*.deb)
    if [ ${#found[@]} -ne 1 ]; then
        echo "check-package: expected one tarvel_*.deb in ${TARVEL_BUILD_DIR:-$repo/build}, found ${#found[@]}" >&2
        exit 1
    fi
    deb="${found[0]}"
fi
echo "check-package: $deb"

status=0
fail() {
    echo "check-package: $*" >&2
    status=1
}

# ---- control fields
version="$(sed -n 's/^project(Tarvel VERSION \([0-9.]*\).*/\1/p' "$repo/CMakeLists.txt")"
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = tarvel ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', the project's is '$version'"
[ "$(field Section)" = utils ] || fail "Section is '$(field Section)'"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
[ -n "$(field Description)" ] || fail "no Description"
depends="$(field Depends)"
echo "check-package: Depends: $depends"
# The package names of the comma-separated list (alternatives included), without versions.
names="$(printf '%s\n' "$depends" | tr ',|' '\n\n' | awk 'NF {print $1}')"
for p in libqt6widgets6 libqt6gui6 libqt6core6 libasound2 libc6 libstdc++6 fuse3 libfuse3-3; do
    printf '%s\n' "$names" | grep -qxF "$p" || fail "Depends does not name $p"
done

# ---- files
listing="$(dpkg-deb -c "$deb" | awk '{print $NF}' | sed 's|^\./|/|')"
expected=(/usr/bin/tarvel /usr/bin/tarvel-cli /usr/bin/tarvel-handset /usr/bin/smaf2wav /usr/bin/smafcompose
    /usr/share/man/man1/tarvel-cli.1.gz
    /usr/lib/tarvel/libma3smwemu_gsm.so /usr/share/applications/tarvel.desktop
    /usr/share/doc/tarvel/README.md)
sizes=(16 22 24 32 48 64 128 256)
for size in "${sizes[@]}"; do
    expected+=("/usr/share/icons/hicolor/${size}x${size}/apps/tarvel.png")
done
for f in "${expected[@]}"; do
    printf '%s\n' "$listing" | grep -qxF "$f" || fail "the package lacks $f"
done
# Every file of the package is one of those: no test programs, no development files.
while IFS= read -r f; do
    case "$f" in */) continue ;; esac
    printf '%s\n' "${expected[@]}" | grep -qxF "$f" || fail "the package holds an unexpected $f"
done <<<"$listing"

# ---- the unpacked tree
tree="$(mktemp -d)"
trap 'rm -rf "$tree"' EXIT
dpkg-deb -x "$deb" "$tree"
desktop="$tree/usr/share/applications/tarvel.desktop"
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$desktop" || fail "desktop-file-validate rejects tarvel.desktop"
else
    echo "check-package: desktop-file-validate is not installed; the menu entry was not validated"
fi
for key in 'Type=Application' 'Name=Tarvel' 'Exec=tarvel' 'Icon=tarvel' 'Terminal=false'; do
    grep -qxF "$key" "$desktop" || fail "tarvel.desktop lacks $key"
done
grep -qE '^Categories=.+;$' "$desktop" || fail "tarvel.desktop has no categories"
grep -qE '^Comment=.+' "$desktop" || fail "tarvel.desktop has no comment"
for size in "${sizes[@]}"; do
    png="$tree/usr/share/icons/hicolor/${size}x${size}/apps/tarvel.png"
    if command -v file >/dev/null; then
        file -b "$png" | grep -qF "PNG image data, $size x $size," || fail "$png is $(file -b "$png")"
    fi
done
if command -v readelf >/dev/null; then
    readelf -d "$tree/usr/bin/tarvel" | grep -qF 'Library runpath: [$ORIGIN/../lib/tarvel]' \
        || fail "tarvel has no RUNPATH to lib/tarvel"
fi
gzip -dc "$tree/usr/share/man/man1/tarvel-cli.1.gz" | grep -q '^\.TH TARVEL-CLI 1' \
    || fail "the manual page of tarvel-cli is not one"
"$tree/usr/bin/tarvel-cli" --version | grep -qxF "tarvel-cli $version" || fail "tarvel-cli --version does not tell $version"
"$here/start-check.sh" "$tree" /usr || status=1

[ "$status" -eq 0 ] && echo "check-package: all checks passed"
exit "$status"
