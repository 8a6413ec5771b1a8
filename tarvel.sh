#!/usr/bin/env bash
# Tarvel's one entry point for people and CI.
#   ./tarvel.sh demo    install what is missing, build, start the virtual handset with the demo
#                       folder and run Tarvel against it
#   ./tarvel.sh test    install what is missing, build, run the whole test suite
#   ./tarvel.sh build   install what is missing and build
#   ./tarvel.sh sanitize  build with AddressSanitizer/UBSan in build-asan and run the tests there
#   ./tarvel.sh fuzz [seconds]  build the fuzz targets with clang and run each for a while
#   ./tarvel.sh package build (or bring up to date) build/ and make the Debian package there
#   ./tarvel.sh windows   cross-build the Qt-free units for Windows (mingw-w64) in build-win and
#                       run their tests under Wine, the serial ones against the virtual handset
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build="${TARVEL_BUILD_DIR:-$here/build}"
jobs="$(nproc 2>/dev/null || echo 2)"

# need_packages [--no-recommends] PACKAGE...
need_packages() {
    local missing=() options=()
    if [ "${1:-}" = --no-recommends ]; then
        options+=(--no-install-recommends)
        shift
    fi
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "Installing: ${missing[*]}"
        local sudo=""
        [ "$(id -u)" -ne 0 ] && sudo="sudo"
        $sudo apt-get update -qq
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${options[@]}" "${missing[@]}" >/dev/null
    fi
}

# libfuse3-dev builds the phone folder (tarvel-cli mount), fuse3 runs and tests it.
base_packages=(g++ cmake make qt6-base-dev libgl-dev libgtest-dev libgmock-dev libasound2-dev pkg-config libfuse3-dev fuse3)

configure_and_build() {
    local dir="$1"; shift
    cmake -S "$here" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
}

cmd="${1:-}"
case "$cmd" in
build)
    need_packages "${base_packages[@]}"
    configure_and_build "$build"
    ;;
test)
    need_packages "${base_packages[@]}"
    configure_and_build "$build"
    cd "$build"
    QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$jobs" --timeout 300
    ;;
sanitize)
    need_packages "${base_packages[@]}"
    configure_and_build "$here/build-asan" -DTARVEL_SANITIZE=ON
    cd "$here/build-asan"
    ASAN_OPTIONS=detect_leaks=0 QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$jobs" --timeout 600
    ;;
fuzz)
    need_packages "${base_packages[@]}" clang libclang-rt-14-dev
    secs="${2:-30}"
    CC=clang CXX=clang++ cmake -S "$here" -B "$here/build-fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DTARVEL_FUZZ=ON -DTARVEL_TESTS=OFF >/dev/null
    cmake --build "$here/build-fuzz" -j "$jobs" --target fuzz_all
    artifacts="$here/build-fuzz/artifacts"
    mkdir -p "$artifacts"
    found=0
    for f in "$here"/build-fuzz/fuzz/fuzz_*; do
        [ -f "$f" ] && [ -x "$f" ] || continue
        name="$(basename "$f")"
        corpus="$here/build-fuzz/corpus/$name"
        mkdir -p "$corpus"
        seeds="$here/fuzz/corpus/${name#fuzz_}"
        extra=()
        # The window keeps Qt's caches between inputs; leaks are looked for in the parsers.
        if [ "$name" = fuzz_receive ]; then extra+=(-detect_leaks=0); fi
        echo "== $name ($secs s)"
        rc=0
        QT_QPA_PLATFORM=offscreen "$f" -max_total_time="$secs" -timeout=20 -print_final_stats=1 \
            -artifact_prefix="$artifacts/$name-" "${extra[@]}" \
            "$corpus" $( [ -d "$seeds" ] && echo "$seeds" ) >"$artifacts/$name.log" 2>&1 || rc=$?
        grep -E '^stat::number_of_executed_units|^==[0-9]+==ERROR|^SUMMARY' "$artifacts/$name.log" || true
        if [ "$rc" -ne 0 ]; then
            echo "$name found a fault (log: $artifacts/$name.log)"
            tail -40 "$artifacts/$name.log"
            found=1
        fi
    done
    [ "$found" -eq 0 ] || exit 1
    ;;
windows)
    need_packages "${base_packages[@]}" googletest locales
    # Wine's recommendations (fonts, sound and media plug-ins) are not needed for the tests.
    need_packages --no-recommends g++-mingw-w64-x86-64 wine wine64
    # The virtual handset runs on Linux beside Wine: the Linux build's.
    cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$build" -j "$jobs" --target tarvel-handset
    exec "$here/tools/wine/run-windows-tests.sh" "$build/bin/tarvel-handset"
    ;;
package)
    # dpkg-shlibdeps (dpkg-dev) works out the package's dependencies; the other two are for
    # tests/install/check-package.sh.
    need_packages "${base_packages[@]}" dpkg-dev desktop-file-utils file
    configure_and_build "$build"
    rm -f "$build"/tarvel_*.deb
    (cd "$build" && cpack -G DEB >/dev/null)
    ls "$build"/tarvel_*.deb
    ;;
demo)
    need_packages "${base_packages[@]}"
    configure_and_build "$build"
    exec "$here/demo/run-demo.sh" "$build/bin"
    ;;
*)
    echo "usage: $0 demo|test|build|sanitize|fuzz [seconds]|windows|package" >&2
    exit 2
    ;;
esac
