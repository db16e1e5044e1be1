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
#   ./build.sh package
#                     build the Linux target and its Debian package
#                     (build/tavocom64_VERSION_amd64.deb)
#   ./build.sh msi    build the Windows target and its installer
#                     (build/tavocom64-VERSION-x64.msi), and install,
#                     upgrade and remove it under Wine
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$PWD
JOBS=${JOBS:-$(nproc)}
BUILD=${TAVOCOM_BUILD_DIR:-$ROOT/build}
PACKAGES=(cmake make g++ mingw-w64 wine wine64 libsqlite3-dev googletest libgtest-dev libbenchmark-dev dpkg-dev
    clang-14 libclang-rt-14-dev python3 valgrind pkgconf wixl)

log() { printf '\n=== %s\n' "$*"; }
# The Windows installer's build and check; components for the MSVC ABI.
source "$ROOT/packaging/windows/msi.sh"
source "$ROOT/tests/msvc/msvc_abi.sh"

install_deps() {
    local missing=()
    for p in "${PACKAGES[@]}" "${MSVC_PACKAGES[@]}"; do
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
# package of the same library the Linux build uses, fetched with an apt
# state of its own in a temporary directory, so that the machine's sources
# and package lists stay as they were.
fetch_benchmark_sources() {
    local dest=$BUILD/deps/benchmark
    # Left by earlier versions of this script.
    rm -f /etc/apt/sources.list.d/tavocom-deb-src.sources
    [[ -f $dest/CMakeLists.txt ]] && return
    log "fetching Google Benchmark sources (Debian source package)"
    local tmp
    tmp=$(mktemp -d)
    mkdir -p "$tmp/parts" "$tmp/lists/partial" "$tmp/download"
    local f
    for f in /etc/apt/sources.list.d/*.sources; do
        sed 's/^Types: deb$/Types: deb-src/' "$f" >"$tmp/parts/$(basename "$f")"
    done
    local apt=(apt-get -q -o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$tmp/parts"
        -o Dir::State::Lists="$tmp/lists" -o APT::Sandbox::User=root)
    "${apt[@]}" update >/dev/null
    (cd "$tmp/download" && "${apt[@]}" source --download-only benchmark >/dev/null 2>&1)
    mkdir -p "$dest"
    tar -xzf "$tmp"/download/benchmark_*.orig.tar.gz -C "$dest" --strip-components=1
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

# `tavocom demo` with a registry of its own: it must activate the sample
# component from the directory of the library it runs with.
check_demo() { # scratch dir, runner and tool...
    local scratch=$1
    shift
    mkdir -p "$scratch/hive"
    local out
    if ! out=$(COM_VERSION=TAVO-INSTALLCHECK TAVOCOM_MACHINE_HIVE="$scratch/hive/machine.db" \
        TAVOCOM_USER_HIVE="$scratch/hive/user.db" "$@" demo 2>&1) || ! grep -q "Hello, demo!" <<<"$out"; then
        echo "$out"
        echo "$*: the demo did not activate the sample component"
        return 1
    fi
    echo "$*: demo activated the sample component"
}

# The examples' client program, run in a directory of components with the
# runtime and the tool staged beside them, the components registered there.
check_client() { # directory, runner...
    local dir=$1
    shift
    local suffix=.so exe= windows=false
    [[ ${*: -1} == wine ]] && suffix=.dll exe=.exe windows=true
    local hive=$dir/client-hive
    rm -rf "$hive"
    mkdir -p "$hive"
    # Written by whoever runs the round (nobody, for a root run on Linux).
    [[ ${1:-} == setpriv ]] && chown 65534:65534 "$hive"
    local env=(env COM_VERSION=TAVO-CLIENTCHECK TAVOCOM_MACHINE_HIVE="$hive/machine.db" TAVOCOM_USER_HIVE="$hive/user.db")
    local out status=0
    local tool=("${env[@]}" "$@" "$dir/tavocom$exe")
    # Registered, activated and decoded by the client, listed, checked by
    # doctor, unregistered: the component writer's round.
    out=$("${tool[@]}" register --runtime 2>&1 && "${tool[@]}" register "$dir/counter$suffix" 2>&1 &&
        "${env[@]}" "$@" "$dir/client$exe" 2>&1 && "${tool[@]}" categories 2>&1 && "${tool[@]}" doctor 2>&1 &&
        "${tool[@]}" register /u "$dir/counter$suffix" 2>&1 && "${tool[@]}" classes 2>&1) || status=$?
    local expected
    for expected in "counted to 1000000" "Counter: the count would pass" "Components that count" "no problems: 6 classes" \
        "unregistered" "^4 classes"; do
        grep -q "$expected" <<<"$out" && continue
        echo "$out"
        echo "$dir: the counter's round (register, client, categories, doctor, unregister) missed: $expected (exit $status)"
        return 1
    done
    ((status == 0)) || { echo "$out"; echo "$dir: a step of the counter's round failed (exit $status)"; return 1; }
    $windows && wine reg delete 'HKLM\Software\Quorvalltech\TAVO-CLIENTCHECK' /f >/dev/null 2>&1
    rm -rf "$hive"
    echo "$dir: counter registered, its client activated it and decoded through its decoder, doctor clean, unregistered"
}

# A build as its users get it: installed into a scratch prefix, examples/
# built there as an outside project against the installed CMake package and
# installed beside the library, the installed tool's demo run with them;
# on Linux the greeter once more through pkg-config.
check_install() { # build dir name, runner...
    local name=$1
    shift
    local prefix=$BUILD/install-$name outside=$BUILD/examples-$name
    log "installed package: $name"
    rm -rf "$prefix" "$outside"
    local component
    for component in runtime development; do
        cmake --install "$BUILD/$name" --prefix "$prefix" --component "$component" >/dev/null
    done
    local args=() tool=$prefix/bin/tavocom
    if [[ $name == windows ]]; then
        # The toolchain file keeps package searches inside the mingw root.
        args=(-DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64.cmake")
        tool+=.exe
    fi
    # A component writer needs no root: on Linux, as root, the examples are
    # built and their round run as nobody.
    local writer=()
    if [[ $name != windows ]] && ((EUID == 0)); then
        writer=(setpriv --reuid=65534 --regid=65534 --clear-groups)
        mkdir -p "$outside"
        chown 65534:65534 "$outside"
    fi
    "${writer[@]}" cmake -S "$ROOT/examples" -B "$outside" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DTAVOCOM64_DIR="$prefix/lib/cmake/TAVOCOM64" "${args[@]}" >/dev/null
    "${writer[@]}" cmake --build "$outside" -j "$JOBS" >/dev/null
    # The build directory is a product directory of its own: the tool staged
    # there activates the components as built.
    check_demo "$outside/staged" "$@" "$outside/$(basename "$tool")"
    check_client "$outside" "${writer[@]}" "$@"
    cmake --install "$outside" --prefix "$prefix" >/dev/null
    check_demo "$outside" "$@" "$tool"
    [[ $name == windows ]] && return
    local pc=(env PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config)
    g++ -std=c++17 -shared -fPIC -fvisibility=hidden -Wall -Wextra -Werror -DCOM_COMPONENT_FILE_NAME='"greeter.so"' \
        $("${pc[@]}" --cflags tavocom64) "$ROOT/examples/greeter/greeter.cpp" \
        -o "$("${pc[@]}" --variable=componentdir tavocom64)/greeter.so" $("${pc[@]}" --libs tavocom64)
    check_demo "$outside/pkg-config" "$tool"
}

# The Debian package of the Linux build, left in $BUILD.
build_package() {
    log "Debian package"
    rm -rf "$BUILD/cpack" "$BUILD"/tavocom64_*.deb
    cpack -G DEB --config "$BUILD/linux/CPackConfig.cmake" -B "$BUILD/cpack" >/dev/null
    mv "$BUILD"/cpack/tavocom64_*.deb "$BUILD/"
    ls "$BUILD"/tavocom64_*.deb
}

# The package's contents and dependencies; as root it is also installed the
# way a user installs it, its tool run, and removed again. A tavocom64
# package that is already installed is left alone.
check_package() {
    local deb
    deb=$(ls "$BUILD"/tavocom64_*.deb)
    log "Debian package: $(basename "$deb")"
    local listing f
    listing=$(dpkg-deb -c "$deb")
    for f in bin/tavocom lib/libTAVOCOM64.so.0.1.0 lib/libTAVOCOM64.so.0 lib/libTAVOCOM64.so lib/libtavocom64-platform.so.0 \
        include/tavocom/tavocom.h \
        include/tavocom/component.h lib/cmake/TAVOCOM64/TAVOCOM64Config.cmake lib/pkgconfig/tavocom64.pc lib/greeter.so; do
        grep -Eq " \./usr/$f( -> |$)" <<<"$listing" || { echo "$deb lacks /usr/$f"; return 1; }
    done
    dpkg-deb -f "$deb" Depends | grep -q libsqlite3-0 || { echo "$deb does not depend on libsqlite3-0"; return 1; }
    echo "contents and dependencies: ok"
    if ((EUID != 0)) || dpkg-query -W -f='${Status}' tavocom64 2>/dev/null | grep -q "ok installed"; then
        echo "not root, or tavocom64 already installed: installation not tried"
        return 0
    fi
    local apt=(env DEBIAN_FRONTEND=noninteractive apt-get -y -q -o DPkg::Lock::Timeout=300)
    local hive_dir_existed=false
    [[ -d /var/lib/tavocom ]] && hive_dir_existed=true
    "${apt[@]}" install "$deb" >"$BUILD/cpack/install.log" 2>&1 || { cat "$BUILD/cpack/install.log"; return 1; }
    local status=0
    (/usr/bin/tavocom version | grep "^TAVOCOM64 " && check_installed_registrations "${apt[@]}" "$deb" &&
        check_demo "$BUILD/cpack" /usr/bin/tavocom) || status=$?
    "${apt[@]}" purge tavocom64 >>"$BUILD/cpack/install.log" 2>&1 || { cat "$BUILD/cpack/install.log"; return 1; }
    [[ ! -e /usr/bin/tavocom ]] || { echo "/usr/bin/tavocom is still there after removal"; return 1; }
    # The machine as it was: a hive that only this check made goes too.
    $hive_dir_existed || rm -rf /var/lib/tavocom
    return $status
}

# What the package's maintainer scripts register in the machine hive: the
# runtime and the sample decoder, usable right after installation, counted
# once also after a reinstallation.
check_installed_registrations() { # apt command..., package file
    local deb=${*: -1}
    local apt=("${@:1:$#-1}")
    local system=(env -u TAVOCOM_MACHINE_HIVE -u TAVOCOM_USER_HIVE -u COM_VERSION /usr/bin/tavocom)
    local decoded
    decoded=$("${system[@]}" decode 0x806F0005)
    grep -q "Session has expired" <<<"$decoded" || { echo "$decoded"; echo "no decode through the sample decoder"; return 1; }
    "${apt[@]}" install --reinstall "$deb" >>"$BUILD/cpack/install.log" 2>&1 || { cat "$BUILD/cpack/install.log"; return 1; }
    local counts
    counts=$("${system[@]}" classes | awk '$2 ~ /^Telva/ {print $2, $(NF-1)}' | sort)
    [[ $counts == "$(printf '%s\n' 'TelvaCOM.Decoder 1' 'TelvaCOM.Registry 1' 'TelvaCategoryManager 1' 'TelvaCom.Memory 1' \
        'TelvaCom.TavoDecoder 1' | sort)" ]] || { echo "$counts"; echo "install counts after a reinstallation"; return 1; }
    echo "registered by the package: decoding works, counts stay 1 across a reinstallation"
}

check_packages() {
    local start=$SECONDS
    check_install linux
    check_install windows wine
    check_msi
    build_package
    check_package
    echo "package checks: $((SECONDS - start)) s"
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
    check_msvc_abi
    check_packages
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
    python3 "$ROOT/bench/table.py" "$ROOT/bench/table.tsv" "$BUILD/bench-results"
    ;;
package)
    install_deps
    build_linux
    build_package
    ;;
msi)
    install_deps
    build_windows
    start_wine
    check_msi
    ;;
*)
    sed -n '2,19p' "$0" | sed 's/^# \{0,1\}//'
    exit 2
    ;;
esac
