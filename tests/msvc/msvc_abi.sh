# Components and clients built for the MSVC ABI against the mingw-w64 build
# of TAVOCOM64.dll: clang-cl in its MSVC mode with libc++'s headers and
# Wine's headers, lld-link with Wine's import libraries and an import
# library made from the runtime's own export list; no MSVC library is used.
# Sourced by build.sh, which provides log, $ROOT, $BUILD and a running
# wineserver.

MSVC_PACKAGES=(clang-tools-14 lld-14 llvm-14 libc++-14-dev libwine-dev)

msvc_flags() {
    # libc++ without the MSVC runtime's headers and its DLL; shim/ fills
    # what Wine's C headers lack.
    echo --target=x86_64-pc-windows-msvc /std:c++17 /O2 /W4 /WX -D_LIBCPP_NO_VCRUNTIME \
        -D_LIBCPP_DISABLE_VISIBILITY_ANNOTATIONS -imsvc /usr/lib/llvm-14/include/c++/v1 -imsvc "$ROOT/tests/msvc/shim" \
        -imsvc /usr/include/wine/wine/msvcrt -imsvc /usr/include/wine/wine/windows -I "$ROOT/include"
}

check_msvc_abi() {
    log "MSVC ABI: public headers, a component and a client (clang-cl, lld-link)"
    local out=$BUILD/msvc wine_libs=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
    local flags
    read -ra flags <<<"$(msvc_flags)"
    rm -rf "$out"
    mkdir -p "$out"
    # Every public header on its own, as an MSVC project compiles it.
    local header
    for header in "$ROOT"/include/tavocom/*.h; do
        printf '#include <tavocom/%s>\n' "$(basename "$header")" >"$out/header.cpp"
        clang-cl-14 "${flags[@]}" /EHsc /Zs -- "$out/header.cpp" || { echo "$header does not compile for the MSVC ABI"; return 1; }
    done
    echo "every public header compiles in clang-cl's MSVC mode"
    # The test programs: no exceptions, RTTI or security cookies, whose
    # runtime support only MSVC's libraries have (crt.cpp gives the rest).
    flags+=(/EHs-c- /GR- /GS- -D_HAS_EXCEPTIONS=0)

    local source
    for source in component client crt; do
        clang-cl-14 "${flags[@]}" /c "/Fo$out/$source.obj" -- "$ROOT/tests/msvc/$source.cpp" || return 1
    done
    llvm-dlltool-14 -m i386:x86-64 -d "$BUILD/windows/generated/exports.def" -l "$out/TAVOCOM64.lib"
    local link=(lld-link-14 /nodefaultlib "$out/crt.obj" "$out/TAVOCOM64.lib" "$wine_libs/libmsvcrt.a"
        "$wine_libs/libkernel32.a")
    "${link[@]}" /dll /noentry "/out:$out/msvc_probe.dll" "$out/component.obj" || return 1
    "${link[@]}" /entry:ClientMain /subsystem:console "/out:$out/msvc_client.exe" "$out/client.obj" || return 1
    # The runtime loads components from its own directory.
    cp "$BUILD/windows/bin/TAVOCOM64.dll" "$out/"
    local status=0
    COM_VERSION=MSVC-ABI-CHECK wine "$out/msvc_client.exe" || status=$?
    wine reg delete 'HKLM\Software\Quorvalltech\MSVC-ABI-CHECK' /f >/dev/null 2>&1 || true
    return $status
}
