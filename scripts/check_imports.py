#!/usr/bin/env python3
"""Fails when an executable imports a DLL function that is not in the reviewed Windows 7 allowlist.

Also checks that the PE header asks for subsystem version 6.1 or lower, so Windows 7 loads it;
with --max-bytes, that the file stays within its size limit; and that each DLL named with
--delay-loaded is not imported statically but bound at first use (its name stands in the
delay-load descriptors, which objdump does not list).
"""
import argparse
import os
import re
import subprocess
import sys


def imports(objdump, exe):
    out = subprocess.run([objdump, "-p", exe], check=True, capture_output=True, text=True).stdout
    names, dll = set(), None
    subsystem = None
    for line in out.splitlines():
        m = re.match(r"^MajorSubsystemVersion\s+(\d+)", line)
        if m:
            subsystem = [int(m.group(1))]
        m = re.match(r"^MinorSubsystemVersion\s+(\d+)", line)
        if m and subsystem:
            subsystem.append(int(m.group(1)))
        m = re.match(r"^\s*DLL Name:\s*(\S+)", line)
        if m:
            dll = m.group(1).lower()
            continue
        m = re.match(r"^\s+[0-9a-f]+\s+(?:<none>\s+)?[0-9a-f]+\s+(\S+)\s*$", line)
        if dll and m:
            names.add(f"{dll}!{m.group(1)}")
    return names, subsystem


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--objdump", required=True)
    ap.add_argument("--allow", required=True)
    ap.add_argument("--print", action="store_true", help="list the imports and exit")
    ap.add_argument("--max-bytes", type=int, help="fail when an executable is larger")
    ap.add_argument("--delay-loaded", action="append", default=[], help="a DLL that must be delay-loaded")
    ap.add_argument("exe", nargs="+")
    a = ap.parse_args()
    allowed = set()
    with open(a.allow, encoding="utf-8") as f:
        for line in f:
            line = line.split("#", 1)[0].strip()
            if line:
                allowed.add(line.lower())
    bad = False
    for exe in a.exe:
        names, subsystem = imports(a.objdump, exe)
        if a.print:
            print("\n".join(sorted(names)))
            continue
        if not names:
            print(f"{exe}: no imports found (objdump output not understood)")
            bad = True
        for n in sorted(names):
            if n.lower() not in allowed:
                print(f"{exe}: import not on the Windows 7 allowlist: {n}")
                bad = True
        static_dlls = {n.split("!", 1)[0] for n in names}
        data = open(exe, "rb").read().lower()
        for dll in a.delay_loaded:
            if dll.lower() in static_dlls:
                print(f"{exe}: {dll} is imported statically, not delay-loaded")
                bad = True
            elif dll.lower().encode() + b"\0" not in data:
                print(f"{exe}: {dll} is not delay-loaded either")
                bad = True
            else:
                print(f"{exe}: delay-loaded from the System32 folder: {dll}")
        if subsystem is None or len(subsystem) != 2 or tuple(subsystem) > (6, 1):
            print(f"{exe}: subsystem version {subsystem} is newer than 6.1")
            bad = True
        size = os.path.getsize(exe)
        if a.max_bytes is not None and size > a.max_bytes:
            print(f"{exe}: {size} bytes, more than {a.max_bytes} (is the release link stripped?)")
            bad = True
        if not bad:
            print(f"{exe}: {len(names)} imports, all on the allowlist; subsystem {subsystem[0]}.{subsystem[1]}; "
                  f"{size} bytes")
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
