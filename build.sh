#!/usr/bin/env bash
# Builds and checks TAVOCOM64 for Linux x86-64 and for 64-bit Windows (run
# under Wine). Usage:
#   ./build.sh demo   install what is missing, build both targets, run the demo
#   ./build.sh test   install what is missing, build everything, run every test
#                     (Linux, Linux with sanitizers, Windows under Wine), each
#                     fuzzer for 20 seconds, the Linux tests under valgrind
#                     and a short benchmark pass
#   ./build.sh fuzz [SECONDS]
#                     build the libFuzzer harnesses (clang, ASan, UBSan) and
#                     run each for SECONDS (default 30) from its seed corpus
#   ./build.sh bench  build both targets, run every benchmark program and
#                     print the table of our paths against their baselines
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$PWD
JOBS=${JOBS:-$(nproc)}
BUILD=${TAVOCOM_BUILD_DIR:-$ROOT/build}
PACKAGES=(cmake make g++ mingw-w64 wine wine64 libsqlite3-dev googletest libgtest-dev libbenchmark-dev dpkg-dev
    clang-14 libclang-rt-14-dev python3 valgrind)

log() { printf '\n=== %s\n' "$*"; }

install_deps() {
    local missing=()
    for p in "${PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    if ((${#missing[@]})); then
        log "installing: ${missing[*]}"
        apt-get update -q
        DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
    fi
    fetch_benchmark_sources
}

# Google Benchmark for the Windows build is compiled from Debian's source
# package of the same library the Linux build uses.
fetch_benchmark_sources() {
    local dest=$BUILD/deps/benchmark
    [[ -f $dest/CMakeLists.txt ]] && return
    log "fetching Google Benchmark sources (Debian source package)"
    if ! ls /etc/apt/sources.list.d/*.sources 2>/dev/null | xargs grep -qs '^Types:.*deb-src'; then
        sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources \
            >/etc/apt/sources.list.d/tavocom-deb-src.sources
        apt-get update -q
    fi
    local tmp
    tmp=$(mktemp -d)
    (cd "$tmp" && apt-get source -q --download-only benchmark >/dev/null 2>&1)
    mkdir -p "$dest"
    tar -xzf "$tmp"/benchmark_*.orig.tar.gz -C "$dest" --strip-components=1
    rm -rf "$tmp"
}

configure() { # name, extra cmake args...
    local name=$1
    shift
    cmake -S "$ROOT" -B "$BUILD/$name" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DTAVOCOM_BENCHMARK_SOURCE="$BUILD/deps/benchmark" "$@" >/dev/null
}

build_linux() {
    log "Linux build"
    configure linux
    cmake --build "$BUILD/linux" -j "$JOBS"
}
build_windows() {
    log "Windows build (mingw-w64)"
    configure windows -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64.cmake"
    cmake --build "$BUILD/windows" -j "$JOBS"
}
build_sanitize() {
    log "Linux build with AddressSanitizer and UndefinedBehaviorSanitizer"
    configure linux-sanitize -DTAVOCOM_SANITIZE=ON -DTAVOCOM_BUILD_BENCH=OFF
    cmake --build "$BUILD/linux-sanitize" -j "$JOBS"
}

build_fuzz() {
    log "libFuzzer harnesses (clang, AddressSanitizer, UndefinedBehaviorSanitizer)"
    CC=clang-14 CXX=clang++-14 configure fuzz -DTAVOCOM_FUZZ=ON -DTAVOCOM_BUILD_TESTS=OFF -DTAVOCOM_BUILD_BENCH=OFF
    cmake --build "$BUILD/fuzz" -j "$JOBS"
}

# Each harness runs for $1 seconds on a working copy of its seed corpus;
# the seeds in the repository are never rewritten.
run_fuzz() {
    local seconds=$1
    for f in "$BUILD"/fuzz/bin/fuzz_*; do
        local name
        name=$(basename "$f")
        local work=$BUILD/fuzz/corpus/$name
        mkdir -p "$work"
        log "fuzz: $name for ${seconds}s"
        local status=0
        (cd "$BUILD/fuzz" && ASAN_OPTIONS=allocator_may_return_null=1:detect_leaks=1 \
            "$f" -max_total_time="$seconds" -print_final_stats=1 "$work" "$ROOT/tests/fuzz/corpus/$name" \
            >"$BUILD/fuzz/$name.log" 2>&1) || status=$?
        grep -E '^(stat::number_of_executed_units|Done)' "$BUILD/fuzz/$name.log" || true
        if ((status != 0)); then
            tail -n 40 "$BUILD/fuzz/$name.log"
            echo "$name found a failure (exit $status); the input is in $BUILD/fuzz"
            return 1
        fi
    done
}

# One persistent wineserver for the whole run. Wine's background services are
# started here, detached from the test runner's output pipes, so that test
# processes exit as soon as their program does.
start_wine() {
    export WINEPREFIX=${WINEPREFIX:-$BUILD/wineprefix}
    export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    mkdir -p "$WINEPREFIX"
    # An already running server for this prefix is kept.
    wineserver -p >/dev/null 2>&1 </dev/null || true
    wine wineboot -i >/dev/null 2>&1 </dev/null || true
    trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
}

run_tests() { # build dir name
    log "tests: $1"
    (cd "$BUILD/$1" && ctest --output-on-failure -j "$JOBS")
}

# The Linux test programs under valgrind's memcheck. The fault test replaces
# operator new, which memcheck replaces too, so it is left to the sanitizer
# build; the store tests fork children that leave by _exit
# with their state abandoned, so their leak check is off (memory errors
# still count).
run_valgrind() {
    log "valgrind memcheck: Linux tests"
    local supp=$ROOT/tests/valgrind.supp
    for t in "$BUILD"/linux/bin/test_*; do
        local name
        name=$(basename "$t")
        [[ $name == test_fault ]] && continue
        local leaks=full
        [[ $name == test_registry_store ]] && leaks=no
        if ! valgrind -q --error-exitcode=99 --leak-check=$leaks --suppressions="$supp" "$t" --gtest_brief=1 \
            >"$BUILD/linux/$name.valgrind.log" 2>&1; then
            tail -n 60 "$BUILD/linux/$name.valgrind.log"
            echo "$name failed under valgrind"
            return 1
        fi
        echo "$name: clean"
    done
}

run_bench() { # build dir name, runner prefix...
    local dir=$BUILD/$1
    shift
    log "benchmark smoke run: $(basename "$dir")"
    for b in "$dir"/bin/bench_*; do
        # Programs only: bench_*.exe, or no suffix at all.
        [[ -x $b && ( $b == *.exe || $(basename "$b") != *.* ) ]] || continue
        "$@" "$b" --benchmark_min_time=0.01 >/dev/null
        echo "$(basename "$b"): ok"
    done
}

# Every benchmark program of one build, with its results kept as JSON for
# the table.
run_bench_full() { # build dir name, runner prefix...
    local name=$1
    shift
    local out=$BUILD/bench-results
    mkdir -p "$out"
    for b in "$BUILD/$name"/bin/bench_*; do
        [[ -x $b && ( $b == *.exe || $(basename "$b") != *.* ) ]] || continue
        local program
        program=$(basename "$b" .exe)
        program=${program#bench_}
        log "benchmark: $name $program"
        local file=$out/$name-$program.json
        # Windows programs take the file in their own path form.
        [[ $# -gt 0 ]] && file="Z:${file//\//\\}"
        "$@" "$b" --benchmark_out="$file" --benchmark_out_format=json
    done
}

case "${1:-}" in
demo)
    install_deps
    build_linux
    build_windows
    start_wine
    log "tavocom demo (Linux)"
    "$BUILD/linux/bin/tavocom" demo
    log "tavocom demo (Windows, under Wine)"
    wine "$BUILD/windows/bin/tavocom.exe" demo
    ;;
test)
    install_deps
    python3 "$ROOT/tools/check_guide.py"
    build_linux
    build_sanitize
    build_windows
    build_fuzz
    start_wine
    run_tests linux
    run_tests linux-sanitize
    run_tests windows
    run_fuzz "${TAVOCOM_FUZZ_SECONDS:-20}"
    run_valgrind
    run_bench linux
    run_bench windows wine
    log "all tests passed"
    ;;
fuzz)
    install_deps
    build_fuzz
    run_fuzz "${2:-30}"
    ;;
bench)
    install_deps
    build_linux
    build_windows
    start_wine
    rm -rf "$BUILD/bench-results"
    run_bench_full linux
    run_bench_full windows wine
    log "benchmark table ($(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'))"
    python3 "$ROOT/tools/bench_table.py" "$ROOT/bench/table.tsv" "$BUILD/bench-results"
    ;;
*)
    sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'
    exit 2
    ;;
esac
