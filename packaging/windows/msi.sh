# The Windows installer: built with wixl from an install tree of the Windows
# build, and checked with Wine's own msiexec and reg, as an administrator
# installs and removes it. Sourced by build.sh, which provides log, $ROOT,
# $BUILD and a running wineserver.

MSI_VERSION=0.1.0

# build_msi VERSION OUTPUT: the package of build/windows, stamped VERSION.
build_msi() {
    local version=$1 output=$2 root=$BUILD/msi/root
    rm -rf "$root"
    cmake --install "$BUILD/windows" --prefix "$root" >/dev/null
    python3 "$ROOT/packaging/windows/make_wxs.py" "$root" "$version" >"$BUILD/msi/tavocom64-$version.wxs"
    # wixl's warning about properties it does not know is not ours to fix.
    (cd "$root" && wixl -a x64 -o "$output" "$BUILD/msi/tavocom64-$version.wxs" 2> >(grep -v 'GLib-GObject-WARNING' >&2))
}

# The installed tree and what the platform's reg sees of the class root.
msi_dir() { echo "$WINEPREFIX/drive_c/Program Files/TAVOCOM64"; }
msi_classes() { wine reg query 'HKLM\Software\Quorvalltech\TAVO-2024.1\Classes' /s 2>/dev/null | tr -d '\r'; }
msi_count() { # CLSID text: the install count as reg shows it, or "none"
    wine reg query "HKLM\\Software\\Quorvalltech\\TAVO-2024.1\\Classes\\CLSID\\$1\\InstallCount" /ve 2>/dev/null |
        tr -d '\r' | awk '/REG_DWORD/ {print $NF; found=1} END {if (!found) print "none"}'
}
msi_expect() { # what, expected, actual
    [[ $2 == "$3" ]] && return 0
    echo "MSI check: $1: expected $2, got $3"
    return 1
}

check_msi() {
    log "Windows installer"
    mkdir -p "$BUILD/msi"
    local msi=$BUILD/tavocom64-$MSI_VERSION-x64.msi next=$BUILD/msi/tavocom64-0.1.99-x64.msi
    build_msi "$MSI_VERSION" "$msi"
    build_msi 0.1.99 "$next"
    local binder='{8348206A-E088-409F-9E95-1021C1F81B1B}' decoder='{5E0B7C1D-2A46-4F83-B17A-6C0F93D2486F}'
    local tool=(wine "$(msi_dir)/bin/tavocom.exe")
    # The default version key of a machine that has never had the product.
    wine reg delete 'HKLM\Software\Quorvalltech\TAVO-2024.1' /f >/dev/null 2>&1 || true
    local zmsi zenext
    zmsi=$(winepath -w "$msi" 2>/dev/null)
    zenext=$(winepath -w "$next" 2>/dev/null)

    wine msiexec /i "$zmsi" /qn || { echo "msiexec /i failed"; return 1; }
    [[ -f "$(msi_dir)/bin/TAVOCOM64.dll" && -f "$(msi_dir)/include/tavocom/tavocom.h" &&
        -f "$(msi_dir)/lib/cmake/TAVOCOM64/TAVOCOM64Config.cmake" ]] || { echo "MSI: files missing"; return 1; }
    msi_expect "runtime install count" 0x1 "$(msi_count "$binder")" || return 1
    local decoded
    decoded=$("${tool[@]}" decode 0x806F0005 | tr -d '\r')
    grep -q "Session has expired" <<<"$decoded" || { echo "$decoded"; echo "MSI: no decode through the sample decoder"; return 1; }
    # The guide's component and client, built against what the MSI installed.
    local examples=$BUILD/msi/examples
    rm -rf "$examples"
    cmake -S "$ROOT/examples" -B "$examples" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_PREFIX_PATH="$(msi_dir)" \
        -DCMAKE_TOOLCHAIN_FILE="$(msi_dir)/lib/cmake/TAVOCOM64/mingw-w64.cmake" >/dev/null || return 1
    cmake --build "$examples" -j "$JOBS" >/dev/null || return 1
    check_client "$examples" wine || return 1

    # An upgrade removes the older version and installs the newer: one count.
    wine msiexec /i "$zenext" /qn || { echo "msiexec upgrade failed"; return 1; }
    msi_expect "install count after an upgrade" 0x1 "$(msi_count "$binder")" || return 1
    wine msiexec /x "$zenext" /qn || { echo "msiexec /x failed"; return 1; }
    [[ ! -e "$(msi_dir)/bin/TAVOCOM64.dll" ]] || { echo "MSI: files left after removal"; return 1; }
    # What unregistration itself leaves: the empty Moniker\hresult keys.
    msi_expect "class root after removal" "$(printf '%s\n' '' \
        'HKEY_LOCAL_MACHINE\Software\Quorvalltech\TAVO-2024.1\Classes\Moniker' '' \
        'HKEY_LOCAL_MACHINE\Software\Quorvalltech\TAVO-2024.1\Classes\Moniker\hresult')" \
        "$(msi_classes | sed '/^$/N;/^\n$/D')" || return 1

    # Registered by other means first: the package adds one and takes one.
    wine "$BUILD/windows/bin/tavocom.exe" register --runtime >/dev/null
    wine msiexec /i "$zmsi" /qn || return 1
    msi_expect "count with an earlier registration" 0x2 "$(msi_count "$binder")" || return 1
    # Removed by hand meanwhile: the package still uninstalls.
    wine msiexec /x "$zmsi" /qn || { echo "msiexec /x failed"; return 1; }
    msi_expect "count left to the other registration" 0x1 "$(msi_count "$binder")" || return 1
    wine msiexec /i "$zmsi" /qn || return 1
    wine reg delete 'HKLM\Software\Quorvalltech\TAVO-2024.1' /f >/dev/null
    wine msiexec /x "$zmsi" /qn || { echo "msiexec /x failed after a removal by hand"; return 1; }
    if wine reg query "HKLM\\Software\\Quorvalltech\\TAVO-2024.1\\Classes\\CLSID\\$decoder" >/dev/null 2>&1; then
        echo "MSI: the sample decoder is still registered after removal"
        return 1
    fi
    wine reg delete 'HKLM\Software\Quorvalltech\TAVO-2024.1' /f >/dev/null 2>&1 || true
    echo "installed, upgraded, removed: install counts right"
}
