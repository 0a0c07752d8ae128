#!/usr/bin/env python3
"""Checks the shipped DLL's export table: an i386 PE with exactly the host API's 23
undecorated names, OrvexShow and OrvexMoveTo at one address."""
import re
import subprocess
import sys

EXPECTED = {
    "OrvexInitialize", "OrvexGetModule", "OrvexTerminal", "OrvexModifyAppInfo", "OrvexLogin",
    "OrvexLogout", "OrvexGetLoginState", "OrvexOnWindowProc", "OrvexHasUI", "OrvexShow",
    "OrvexMoveTo",
} | {f"OrvexDx{v}{op}" for v in (8, 9) for op in (
    "Initialize", "Render", "RenderEx", "Finalize", "OnDeviceReset", "OnDeviceLost")}


def main(path):
    dump = subprocess.run(["i686-w64-mingw32-objdump", "-p", path], check=True,
                          capture_output=True, text=True).stdout
    failures = []
    if "file format pei-i386" not in subprocess.run(
            ["i686-w64-mingw32-objdump", "-f", path], check=True, capture_output=True,
            text=True).stdout:
        failures.append("not a PE32 i386 image")
    section = dump.split("[Ordinal/Name Pointer] Table", 1)
    if len(section) != 2:
        failures.append("no export name table")
        names = {}
    else:
        # Lines look like "\t[   0] OrvexDx8Finalize" and follow the address table.
        names = dict(re.findall(r"\[\s*(\d+)\]\s+(\S+)", section[1].split("\n\n", 1)[0]))
    exported = set(names.values())
    if exported != EXPECTED:
        failures.append(f"unexpected exports: extra {sorted(exported - EXPECTED)}, "
                        f"missing {sorted(EXPECTED - exported)}")
    # Address table entries: "\t[   0] +base[   1] 00001234 Export RVA"
    rvas = dict(re.findall(r"\[\s*(\d+)\] \+base\[\s*\d+\]\s+([0-9a-fA-F]+) Export RVA", dump))
    by_name = {name: rvas.get(ordinal) for ordinal, name in names.items()}
    if not by_name.get("OrvexShow") or by_name.get("OrvexShow") != by_name.get("OrvexMoveTo"):
        failures.append("OrvexShow and OrvexMoveTo do not share one address")
    others = [rva for name, rva in by_name.items() if name not in ("OrvexShow", "OrvexMoveTo")]
    if len(set(others)) != len(others):
        failures.append("two other exports share an address")
    for failure in failures:
        print("FAIL:", failure)
    print(f"{len(exported)} exports checked" if not failures else "export table check failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
