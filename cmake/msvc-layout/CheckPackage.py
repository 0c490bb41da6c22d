#!/usr/bin/env python3
"""Checks the MSVC package (sapp-<version>-win64-msvc.zip) as a Windows
engineer opens it: unpacked into a scratch folder, and only from there.

    CheckPackage.py --source SOURCE_DIR ZIP

  - the zip holds the headers (include/sapp), the import libraries
    (lib/sapp.lib, pktcore.lib, tarnbase.lib), the binaries
    (bin/sapp.dll, pktcore.dll, tarnbase.dll, sapp-host.exe) each with its
    PDB beside it, the CMake package and the LICENSE;
  - every binary names its PDB by file name alone, and that PDB is the one
    the linker wrote with it: the GUID and age of the binary's debug
    directory are the PDB's;
  - a known function of each binary, its address taken from the export
    table (a DLL) or from the PDB's public symbols (sapp-host.exe), is
    mapped back by llvm-symbolizer, which finds the PDB beside the binary,
    to the function's name and to its source file and line: the line of
    SOURCE_DIR's file that defines the function.

Needs llvm-readobj, llvm-pdbutil and llvm-symbolizer (Debian: llvm-14).
Exit status 0 when everything holds; otherwise every failure is printed and
the status is 1.
"""
import argparse
import re
import shutil
import subprocess
import sys
import tempfile
import uuid
import zipfile
from pathlib import Path

REQUIRED = [
    "include/sapp/module/ISessionMod.h",
    "include/sapp/host/ISession.h",
    "lib/sapp.lib",
    "lib/pktcore.lib",
    "lib/tarnbase.lib",
    "lib/cmake/sapp/sappConfig.cmake",
    "lib/cmake/sapp/sappTargets.cmake",
    "share/doc/sapp/LICENSE",
]
BINARIES = ["sapp.dll", "pktcore.dll", "tarnbase.dll", "sapp-host.exe"]
# binary, where its address comes from, the symbol, the function's short
# name, the file that defines it (relative to the source tree)
KNOWN_FUNCTIONS = [
    ("sapp.dll", "export", "getModule", "getModule", "module/SAppModule.cc"),
    ("pktcore.dll", "export", "?getSid@ProtoUInfo@@QEBAIXZ", "getSid", "standin/pktcore/ProtoUInfo.cc"),
    ("tarnbase.dll", "export", "?GetLogInstance@@YAPEAVLogExport@@PEB_W@Z", "GetLogInstance",
     "standin/tarnbase/StandinLog.cc"),
    ("sapp-host.exe", "public", "main", "main", "tools/sapp-host/cli/main.cc"),
]


def tool(name):
    for candidate in (f"{name}-14", name):
        found = shutil.which(candidate)
        if found:
            return found
    sys.exit(f"CheckPackage: needs {name} (Debian: llvm-14)")


def run(*command, cwd=None):
    result = subprocess.run(command, capture_output=True, text=True, cwd=cwd)
    if result.returncode != 0:
        raise RuntimeError(f"{' '.join(map(str, command))} failed: {result.stderr.strip()}")
    return result.stdout


def field(text, name):
    match = re.search(rf"^\s*{name}: (.*)$", text, re.MULTILINE)
    return match.group(1).strip() if match else None


def check_pdb(readobj, pdbutil, binary):
    """The binary's debug directory names <stem>.pdb, which lies beside it
    and carries the same GUID and age."""
    pdb = binary.with_suffix(".pdb")
    if not pdb.is_file():
        return [f"bin/{binary.name}: no bin/{pdb.name} beside it"]
    debug = run(readobj, "--coff-debug-directory", binary)
    named = field(debug, "PDBFileName")
    if named != pdb.name:
        return [f"bin/{binary.name}: its debug directory names the PDB {named!r}, not {pdb.name!r}"]
    raw = bytes(int(byte, 16) for byte in re.search(r"PDBGUID: \(([0-9A-F ]+)\)", debug).group(1).split())
    binary_guid = str(uuid.UUID(bytes_le=raw)).upper()
    binary_age = int(field(debug, "PDBAge"))
    summary = run(pdbutil, "dump", "--summary", pdb)
    pdb_guid = field(summary, "GUID").strip("{}").upper()
    pdb_age = int(field(summary, "Age"))
    if (binary_guid, binary_age) != (pdb_guid, pdb_age):
        return [f"bin/{binary.name}: wants PDB {binary_guid} age {binary_age}; "
                f"bin/{pdb.name} is {pdb_guid} age {pdb_age}"]
    return []


def address_of(readobj, pdbutil, binary, source, symbol):
    """The virtual address of a function: its export's RVA, or its public
    symbol's section and offset in the PDB, plus the image base."""
    headers = run(readobj, "--file-headers", "--section-headers", binary)
    image_base = int(field(headers, "ImageBase"), 16)
    if source == "export":
        exports = run(readobj, "--coff-exports", binary)
        match = re.search(rf"Name: {re.escape(symbol)}\n\s*RVA: (0x[0-9A-F]+)", exports)
        return image_base + int(match.group(1), 16) if match else None
    publics = run(pdbutil, "dump", "--publics", binary.with_suffix(".pdb"))
    match = re.search(rf"S_PUB32 \[size = \d+\] `{re.escape(symbol)}`\n\s+flags = function, addr = (\d+):(\d+)",
                      publics)
    if not match:
        return None
    sections = re.findall(r"VirtualAddress: (0x[0-9A-F]+)", headers)
    section, offset = int(match.group(1)), int(match.group(2))
    return image_base + int(sections[section - 1], 16) + offset


def check_symbol(readobj, pdbutil, symbolizer, root, source_dir, entry):
    name, source, symbol, short_name, defined_in = entry
    binary = root / "bin" / name
    address = address_of(readobj, pdbutil, binary, source, symbol)
    if address is None:
        return [f"bin/{name}: no {source} {symbol}"]
    # Run from the scratch folder: the PDB can only be the one beside the binary.
    output = run(symbolizer, f"--obj={binary}", hex(address), cwd=root).strip().splitlines()
    function, location = (output + ["", ""])[:2]
    if short_name not in function:
        return [f"bin/{name}: {symbol} at {address:#x} symbolizes as {function!r}, not {short_name}"]
    match = re.match(r"(.*):(\d+):\d+$", location)
    if not match or not match.group(1).replace("\\", "/").endswith("/" + defined_in):
        return [f"bin/{name}: {short_name} at {address:#x} maps to {location!r}, not to {defined_in}"]
    line = int(match.group(2))
    lines = (Path(source_dir) / defined_in).read_text(encoding="utf-8").splitlines()
    if not 0 < line <= len(lines) or short_name not in lines[line - 1]:
        shown = lines[line - 1].strip() if 0 < line <= len(lines) else "no such line"
        return [f"bin/{name}: {short_name} at {address:#x} maps to {defined_in}:{line} ({shown!r}), "
                f"which does not define it"]
    print(f"bin/{name}: {source} {short_name} at {address:#x} -> {function} at {defined_in}:{line}")
    return []


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--source", required=True, help="the source tree the package was built from")
    parser.add_argument("zip")
    args = parser.parse_args()
    readobj, pdbutil, symbolizer = tool("llvm-readobj"), tool("llvm-pdbutil"), tool("llvm-symbolizer")

    problems = []
    with tempfile.TemporaryDirectory(prefix="sapp-msvc-package-") as scratch:
        try:
            with zipfile.ZipFile(args.zip) as archive:
                archive.extractall(scratch)
        except (OSError, zipfile.BadZipFile) as error:
            sys.exit(f"CheckPackage: {args.zip}: {error}")
        tops = list(Path(scratch).iterdir())
        if len(tops) != 1 or not tops[0].is_dir():
            sys.exit(f"CheckPackage: {args.zip} does not hold one top folder: {[top.name for top in tops]}")
        root = tops[0]
        for path in REQUIRED + [f"bin/{name}" for name in BINARIES]:
            if not (root / path).is_file():
                problems.append(f"{path}: not in the zip")
        try:
            for name in BINARIES:
                if (root / "bin" / name).is_file():
                    problems += check_pdb(readobj, pdbutil, root / "bin" / name)
            if not problems:
                for entry in KNOWN_FUNCTIONS:
                    problems += check_symbol(readobj, pdbutil, symbolizer, root, args.source, entry)
        except RuntimeError as error:
            problems.append(str(error))
    if not problems:
        print(f"{Path(args.zip).name}: {len(REQUIRED) + 2 * len(BINARIES)} files, every PDB its binary's, "
              f"{len(KNOWN_FUNCTIONS)} functions symbolized to their lines")
    for problem in problems:
        print(f"CheckPackage: {Path(args.zip).name}: {problem}", file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
