#!/usr/bin/env python3
"""Writes the installer source of the Windows build for wixl.

Usage: make_wxs.py ROOT VERSION > tavocom64.wxs   (then wixl, run in ROOT)

ROOT is a `cmake --install` tree of the Windows build (every component).
The package installs it per machine under Program Files\\TAVOCOM64, with one
component per file, and registers what it installs with the installed tool:
the runtime's classes and the sample decoder at the first installation,
and unregisters them again when it is removed (also when an upgrade removes
the older version), so that install counts stay right across upgrades.
"""
import hashlib
import os
import sys
from xml.sax.saxutils import quoteattr

# Stays the same for every version: upgrades find the installed product by it.
UPGRADE_CODE = "6C0B5E2A-3F1D-4C8E-9A57-2D41F0B6E913"

# Files the custom actions name.
KNOWN_FILES = {"bin/tavocom.exe": "ToolExe", "bin/tavo_decoder.dll": "DecoderDll"}


def ident(prefix, path):
    return prefix + hashlib.sha1(path.encode()).hexdigest()[:20].upper()


def tree(root):
    """{directory relative path: [file names]} with every directory present."""
    dirs = {"": []}
    for base, subdirs, files in os.walk(root):
        rel = os.path.relpath(base, root).replace(os.sep, "/")
        rel = "" if rel == "." else rel
        dirs.setdefault(rel, [])
        dirs[rel].extend(sorted(files))
        subdirs.sort()
    return dirs


def emit_directory(out, root, dirs, rel, indent):
    for name in dirs[rel]:
        path = f"{rel}/{name}" if rel else name
        file_id = KNOWN_FILES.get(path, ident("F", path))
        source = path  # wixl reads sources relative to where it runs: ROOT
        out.append(f'{indent}<Component Id="{ident("C", path)}" Guid="*" Win64="yes">')
        out.append(f'{indent}  <File Id="{file_id}" Source={quoteattr(source)} KeyPath="yes"/>')
        out.append(f"{indent}</Component>")
    children = sorted(d for d in dirs if d and os.path.dirname(d) == rel)
    for child in children:
        out.append(f'{indent}<Directory Id="{ident("D", child)}" Name={quoteattr(os.path.basename(child))}>')
        emit_directory(out, root, dirs, child, indent + "  ")
        out.append(f"{indent}</Directory>")


def main():
    root, version = sys.argv[1], sys.argv[2]
    dirs = tree(root)
    missing = [p for p in KNOWN_FILES if not os.path.isfile(os.path.join(root, p))]
    if missing:
        sys.exit(f"make_wxs: {root} lacks {', '.join(missing)}")
    body = []
    emit_directory(body, root, dirs, "", " " * 10)
    components = [ident("C", f"{d}/{n}" if d else n) for d in sorted(dirs) for n in dirs[d]]
    refs = "\n".join(f'      <ComponentRef Id="{c}"/>' for c in components)
    print(f"""<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="*" Name="TAVOCOM64" Version="{version}" Manufacturer="Quorvalltech" Language="1033"
           UpgradeCode="{UPGRADE_CODE}">
    <Package InstallerVersion="500" Compressed="yes" InstallScope="perMachine"
             Description="In-process component object runtime, its tool, headers and samples"/>
    <Media Id="1" Cabinet="tavocom.cab" EmbedCab="yes"/>
    <MajorUpgrade DowngradeErrorMessage="A newer version of TAVOCOM64 is already installed."/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="ProgramFiles64Folder">
        <Directory Id="INSTALLDIR" Name="TAVOCOM64">
{chr(10).join(body)}
        </Directory>
      </Directory>
    </Directory>
    <Feature Id="Complete" Level="1">
{refs}
    </Feature>
    <!-- The installed tool registers with the installed runtime, after the
         files are in place, and unregisters before they go. A failed
         unregistration (removed by hand already) does not stop removal. -->
    <CustomAction Id="RegisterRuntime" FileKey="ToolExe" ExeCommand="register --runtime" Execute="deferred"
                  Impersonate="no" Return="check"/>
    <CustomAction Id="RegisterDecoder" FileKey="ToolExe" ExeCommand='register "[#DecoderDll]"'
                  Execute="deferred" Impersonate="no" Return="check"/>
    <CustomAction Id="UnregisterDecoder" FileKey="ToolExe" ExeCommand='register --unregister "[#DecoderDll]"'
                  Execute="deferred" Impersonate="no" Return="ignore"/>
    <CustomAction Id="UnregisterRuntime" FileKey="ToolExe" ExeCommand="register --unregister --runtime"
                  Execute="deferred" Impersonate="no" Return="ignore"/>
    <InstallExecuteSequence>
      <Custom Action="UnregisterDecoder" Before="UnregisterRuntime">REMOVE~="ALL"</Custom>
      <Custom Action="UnregisterRuntime" Before="RemoveFiles">REMOVE~="ALL"</Custom>
      <Custom Action="RegisterRuntime" After="InstallFiles">NOT Installed AND NOT REMOVE</Custom>
      <Custom Action="RegisterDecoder" After="RegisterRuntime">NOT Installed AND NOT REMOVE</Custom>
    </InstallExecuteSequence>
  </Product>
</Wix>""")


if __name__ == "__main__":
    main()
