#!/usr/bin/env python3
"""Checks the hardening of linked Windows binaries (preset msvc-wine), after
the rules of Microsoft's BinSkim (their ids in brackets).

    CheckHardening.py check --readobj R BINARY...
        every rule below holds for every binary;

    CheckHardening.py planted --readobj R --scratch DIR BINARY
                              [PROBE=RULE,RULE...]...
        the check's own test: BINARY must pass; then copies of it with one
        fault planted each (a flag cleared, a section made executable, a
        table pointer zeroed, ...) must each fail with exactly the rules that
        fault breaks, and each PROBE (a binary the build links with a flag
        left out) with exactly the RULEs given.

The rules, read from the headers as llvm-readobj prints them and from the
bytes of the file:

  ASLR              [BA2009] IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE, and base
                    relocations to move the image with
  HighEntropyVA     [BA2015] HIGH_ENTROPY_VA, and the image is large-address
                    aware
  DEP               [BA2016] NX_COMPAT
  ControlFlowGuard  [BA2008] GUARD_CF; a load configuration whose guard check
                    and dispatch pointers are set, whose GuardFlags say
                    CF_INSTRUMENTED and CF_FUNCTION_TABLE_PRESENT, with a
                    non-empty table of call targets; and code that makes
                    indirect calls through the dispatch pointer (a binary
                    linked with /guard:cf from objects compiled without it
                    has the flags and the table, but no guarded call)
  EHContinuation    GuardFlags say EH_CONTINUATION_TABLE_PRESENT (/guard:ehcont)
  StackCookie       [BA2011, BA2012] the load configuration points at the
                    /GS cookie, in a writable section that does not execute;
                    its value in the file is MSVC's default, which the loader
                    replaces with a random one; and code reads it (frames
                    compiled with /GS)
  ShadowStack       [BA2025] the debug directory's extended DLL
                    characteristics say CET_COMPAT
  WritableExecutable
                    [BA2021] no section both writable and executable
  SharedWritable    [BA2019] no section both writable and shared
  ImportsNotExecutable
                    [BA2010] the section of the import directory and of the
                    import address table does not execute

Exit status 0 when everything holds; otherwise every failure is printed and
the status is 1.
"""
import argparse
import re
import shutil
import struct
import subprocess
import sys
from pathlib import Path

DYNAMIC_BASE, HIGH_ENTROPY_VA, NX_COMPAT, GUARD_CF = 0x40, 0x20, 0x100, 0x4000
LARGE_ADDRESS_AWARE = 0x20
SCN_SHARED, SCN_EXECUTE, SCN_WRITE = 0x10000000, 0x20000000, 0x80000000
CF_INSTRUMENTED, CF_FUNCTION_TABLE_PRESENT, EH_CONTINUATION_TABLE_PRESENT = 0x100, 0x400, 0x400000
CET_COMPAT = 0x1
DEFAULT_SECURITY_COOKIE = 0x00002B992DDFA232
RULES = ["ASLR", "HighEntropyVA", "DEP", "ControlFlowGuard", "EHContinuation", "StackCookie", "ShadowStack",
         "WritableExecutable", "SharedWritable", "ImportsNotExecutable"]


def number(text):
    """The number a llvm-readobj value starts with: "0x4160" or "39"."""
    match = re.match(r"0x([0-9A-Fa-f]+)|(\d+)", text)
    if not match:
        return None
    return int(match.group(1), 16) if match.group(1) else int(match.group(2))


class Binary:
    """What llvm-readobj prints of a PE file's headers, sections, load
    configuration and debug directory, and the file's bytes."""

    def __init__(self, readobj, path):
        self.path = Path(path)
        self.data = self.path.read_bytes()
        result = subprocess.run([readobj, "--file-headers", "--section-headers", "--coff-load-config",
                                 "--coff-debug-directory", str(path)], capture_output=True, text=True)
        if result.returncode != 0:
            raise ValueError(result.stderr.strip() or f"llvm-readobj failed ({result.returncode})")
        self.file, self.optional, self.sections, self.debug = {}, {}, [], []
        self.load_config = None
        stack = []
        for raw in result.stdout.splitlines():
            line = raw.strip()
            opened = re.match(r"^([A-Za-z]+)(?::[^\[{(]*)?\s*[\[{(]\s*(?:\((0x[0-9A-Fa-f]+)\))?$", line)
            if opened:
                name, flags = opened.groups()
                if name == "Section":
                    self.sections.append({})
                elif name == "DebugEntry":
                    self.debug.append({})
                elif name == "LoadConfig":
                    self.load_config = {}
                if flags is not None:
                    self.current(stack)[name] = int(flags, 16)
                stack.append(name)
                continue
            if line in ("}", "]", ")"):
                if stack:
                    stack.pop()
                continue
            key, separator, value = line.partition(": ")
            if separator and key.isidentifier():
                self.current(stack)[key] = value

    def current(self, stack):
        for name in reversed(stack):
            if name == "ImageFileHeader":
                return self.file
            if name in ("ImageOptionalHeader", "DataDirectory"):
                return self.optional
            if name == "Section":
                return self.sections[-1]
            if name == "DebugEntry":
                return self.debug[-1]
            if name == "LoadConfig":
                return self.load_config
            if name in ("Sections", "DebugDirectory"):
                break
        return {}

    def value(self, table, key):
        found = table.get(key) if table is not None else None
        if isinstance(found, int):
            return found
        return number(found) if found is not None else None

    @property
    def image_base(self):
        return self.value(self.optional, "ImageBase") or 0

    def section_at(self, rva):
        for section in self.sections:
            start = self.value(section, "VirtualAddress")
            size = max(self.value(section, "VirtualSize") or 0, self.value(section, "RawDataSize") or 0)
            if start is not None and start <= rva < start + size:
                return section
        return None

    def read(self, rva, size):
        section = self.section_at(rva)
        if section is None:
            return None
        start = rva - self.value(section, "VirtualAddress")
        if start + size > (self.value(section, "RawDataSize") or 0):
            return None
        offset = self.value(section, "PointerToRawData") + start
        return self.data[offset:offset + size]

    def rip_relative_references(self, target_va, patterns):
        """How many instructions of the executable sections address target_va
        RIP-relatively: each pattern is the bytes before a disp32 that ends
        the instruction (call/jmp [rip+d], mov reg, [rip+d])."""
        count = 0
        for section in self.sections:
            if not (self.value(section, "Characteristics") or 0) & SCN_EXECUTE:
                continue
            start = self.value(section, "PointerToRawData")
            size = min(self.value(section, "VirtualSize"), self.value(section, "RawDataSize"))
            code = self.data[start:start + size]
            base = self.image_base + self.value(section, "VirtualAddress")
            for match in re.finditer(patterns, code, re.DOTALL):
                end = match.end() + 4
                if end <= len(code):
                    displacement = struct.unpack_from("<i", code, match.end())[0]
                    if base + end + displacement == target_va:
                        count += 1
        return count


# call qword ptr [rip+d], jmp qword ptr [rip+d]
INDIRECT_CALL = rb"\xFF[\x15\x25]"
# mov r64, qword ptr [rip+d]: REX.W (any of R), 8B, ModRM mod=00 rm=101
LOAD_QWORD = rb"[\x48\x4C]\x8B[\x05\x0D\x15\x1D\x25\x2D\x35\x3D]"


def check_binary(binary):
    """{rule: [reasons]} for every rule that fails."""
    failures = {}

    def fail(rule, reason):
        failures.setdefault(rule, []).append(reason)

    dll = binary.value(binary.optional, "Characteristics") or 0
    file_characteristics = binary.value(binary.file, "Characteristics") or 0
    load_config = binary.load_config
    guard_flags = binary.value(load_config, "GuardFlags") or 0

    if not dll & DYNAMIC_BASE:
        fail("ASLR", "DYNAMIC_BASE is not set")
    if not binary.value(binary.optional, "BaseRelocationTableSize"):
        fail("ASLR", "no base relocations: the image cannot move")
    if not dll & HIGH_ENTROPY_VA:
        fail("HighEntropyVA", "HIGH_ENTROPY_VA is not set")
    if not file_characteristics & LARGE_ADDRESS_AWARE:
        fail("HighEntropyVA", "the image is not LARGE_ADDRESS_AWARE")
    if not dll & NX_COMPAT:
        fail("DEP", "NX_COMPAT is not set")

    if not dll & GUARD_CF:
        fail("ControlFlowGuard", "GUARD_CF is not set")
    if load_config is None:
        for rule in ("ControlFlowGuard", "EHContinuation", "StackCookie"):
            fail(rule, "no load configuration directory")
    else:
        dispatch = binary.value(load_config, "GuardCFCheckDispatch")
        if not binary.value(load_config, "GuardCFCheckFunction") or not dispatch:
            fail("ControlFlowGuard", "the guard's check or dispatch pointer is not set")
        if not guard_flags & CF_INSTRUMENTED or not guard_flags & CF_FUNCTION_TABLE_PRESENT:
            fail("ControlFlowGuard", f"GuardFlags {guard_flags:#x} lack CF_INSTRUMENTED or CF_FUNCTION_TABLE_PRESENT")
        if not binary.value(load_config, "GuardCFFunctionTable") or not binary.value(load_config, "GuardCFFunctionCount"):
            fail("ControlFlowGuard", "no table of call targets")
        if dispatch and not binary.rip_relative_references(dispatch, INDIRECT_CALL):
            fail("ControlFlowGuard", "no indirect call goes through the guard's dispatch pointer "
                                     "(objects compiled without /guard:cf)")
        if not guard_flags & EH_CONTINUATION_TABLE_PRESENT:
            fail("EHContinuation", f"GuardFlags {guard_flags:#x} lack EH_CONTINUATION_TABLE_PRESENT")

        cookie = binary.value(load_config, "SecurityCookie")
        if not cookie:
            fail("StackCookie", "the load configuration names no security cookie")
        else:
            rva = cookie - binary.image_base
            section = binary.section_at(rva)
            flags = binary.value(section, "Characteristics") if section else 0
            if section is None or not flags & SCN_WRITE or flags & SCN_EXECUTE:
                fail("StackCookie", f"the cookie at {cookie:#x} is not in a writable data section")
            value = binary.read(rva, 8)
            if value is None or struct.unpack("<Q", value)[0] != DEFAULT_SECURITY_COOKIE:
                shown = f"{struct.unpack('<Q', value)[0]:#x}" if value else "not in the file"
                fail("StackCookie", f"the cookie's initial value is {shown}, not MSVC's default "
                                    f"{DEFAULT_SECURITY_COOKIE:#x} the loader replaces")
            if not binary.rip_relative_references(cookie, LOAD_QWORD):
                fail("StackCookie", "no code reads the cookie (frames compiled without /GS)")

    extended = [entry for entry in binary.debug if "ExtendedCharacteristics" in entry]
    if not extended or not binary.value(extended[0], "ExtendedCharacteristics") & CET_COMPAT:
        fail("ShadowStack", "the extended DLL characteristics do not say CET_COMPAT")

    for section in binary.sections:
        flags = binary.value(section, "Characteristics") or 0
        name = (section.get("Name") or "?").split(" ")[0]
        if flags & SCN_WRITE and flags & SCN_EXECUTE:
            fail("WritableExecutable", f"section {name} is writable and executable")
        if flags & SCN_WRITE and flags & SCN_SHARED:
            fail("SharedWritable", f"section {name} is writable and shared")
    for directory in ("ImportTableRVA", "IATRVA"):
        rva = binary.value(binary.optional, directory)
        section = binary.section_at(rva) if rva else None
        if section is not None and (binary.value(section, "Characteristics") or 0) & SCN_EXECUTE:
            name = (section.get("Name") or "?").split(" ")[0]
            fail("ImportsNotExecutable", f"{directory} lies in the executable section {name}")
    return failures


def check(readobj, path):
    """Checks one binary; prints what it found; returns {rule: [reasons]}."""
    try:
        binary = Binary(readobj, path)
    except (OSError, ValueError) as error:
        return {"readable": [str(error)]}
    failures = check_binary(binary)
    if not failures:
        load_config = binary.load_config
        print(f"{Path(path).name}: {len(RULES)} rules hold: DllCharacteristics "
              f"{binary.value(binary.optional, 'Characteristics'):#x}, GuardFlags "
              f"{binary.value(load_config, 'GuardFlags'):#x}, "
              f"{binary.value(load_config, 'GuardCFFunctionCount')} call targets, "
              f"{binary.rip_relative_references(binary.value(load_config, 'GuardCFCheckDispatch'), INDIRECT_CALL)} "
              f"guarded calls, {binary.value(load_config, 'GuardEHContinuationCount')} EH continuations, "
              f"cookie at {binary.value(load_config, 'SecurityCookie'):#x} read by "
              f"{binary.rip_relative_references(binary.value(load_config, 'SecurityCookie'), LOAD_QWORD)} instructions")
    return failures


def report(path, failures):
    return [f"{Path(path).name}: {rule}: {reason}" for rule, reasons in failures.items() for reason in reasons]


# --- the planted faults ---------------------------------------------------------
class Patcher:
    """Offsets in a PE32+ file, to plant one fault in a copy of it."""

    def __init__(self, data):
        self.data = bytearray(data)
        pe = struct.unpack_from("<I", self.data, 0x3C)[0]
        self.file_characteristics = pe + 22
        self.optional = pe + 24
        self.dll_characteristics = self.optional + 70
        self.directories = self.optional + 112
        sections = struct.unpack_from("<H", self.data, pe + 6)[0]
        table = self.optional + struct.unpack_from("<H", self.data, pe + 20)[0]
        self.sections = {}
        for i in range(sections):
            name, vsize, vaddr, raw_size, raw_ptr = struct.unpack_from("<8sIIII", self.data, table + 40 * i)
            self.sections[name.rstrip(b"\0").decode()] = (table + 40 * i, vaddr, vsize, raw_ptr, raw_size)
        self.image_base = struct.unpack_from("<Q", self.data, self.optional + 24)[0]

    def offset_of(self, rva):
        for _, vaddr, vsize, raw_ptr, raw_size in self.sections.values():
            if vaddr <= rva < vaddr + min(vsize, raw_size):
                return raw_ptr + rva - vaddr
        raise ValueError(f"no section holds {rva:#x}")

    def directory(self, index):
        return struct.unpack_from("<II", self.data, self.directories + 8 * index)

    def load_config(self):
        rva, size = self.directory(10)
        if not rva:
            raise ValueError("no load configuration")
        return self.offset_of(rva)

    def clear16(self, offset, bits):
        struct.pack_into("<H", self.data, offset, struct.unpack_from("<H", self.data, offset)[0] & ~bits)

    def clear32(self, offset, bits):
        struct.pack_into("<I", self.data, offset, struct.unpack_from("<I", self.data, offset)[0] & ~bits)

    def set_section_flags(self, name, bits):
        offset = self.sections[name][0] + 36
        struct.pack_into("<I", self.data, offset, struct.unpack_from("<I", self.data, offset)[0] | bits)

    def zero_directory(self, index):
        struct.pack_into("<II", self.data, self.directories + 8 * index, 0, 0)

    def zero_directory_size(self, index):
        struct.pack_into("<I", self.data, self.directories + 8 * index + 4, 0)

    def cookie_offset(self):
        va = struct.unpack_from("<Q", self.data, self.load_config() + 0x58)[0]
        return self.offset_of(va - self.image_base)

    def extended_characteristics(self):
        rva, size = self.directory(6)
        start = self.offset_of(rva)
        for entry in range(size // 28):
            kind, _, _, pointer = struct.unpack_from("<IIII", self.data, start + 28 * entry + 12)
            if kind == 20:  # IMAGE_DEBUG_TYPE_EX_DLLCHARACTERISTICS
                return pointer
        raise ValueError("no extended DLL characteristics")


# name: (what the fault does to a copy, the rules it must break)
PLANTS = {
    "no-dynamic-base": (lambda p: p.clear16(p.dll_characteristics, DYNAMIC_BASE), {"ASLR"}),
    "no-relocations": (lambda p: p.zero_directory_size(5), {"ASLR"}),
    "no-high-entropy-va": (lambda p: p.clear16(p.dll_characteristics, HIGH_ENTROPY_VA), {"HighEntropyVA"}),
    "not-large-address-aware": (lambda p: p.clear16(p.file_characteristics, LARGE_ADDRESS_AWARE), {"HighEntropyVA"}),
    "no-nx-compat": (lambda p: p.clear16(p.dll_characteristics, NX_COMPAT), {"DEP"}),
    "no-guard-cf-flag": (lambda p: p.clear16(p.dll_characteristics, GUARD_CF), {"ControlFlowGuard"}),
    "no-guard-function-table": (lambda p: p.clear32(p.load_config() + 0x90, CF_FUNCTION_TABLE_PRESENT),
                                {"ControlFlowGuard"}),
    "no-guard-dispatch": (lambda p: struct.pack_into("<Q", p.data, p.load_config() + 0x78, 0), {"ControlFlowGuard"}),
    "no-eh-continuation-table": (lambda p: p.clear32(p.load_config() + 0x90, EH_CONTINUATION_TABLE_PRESENT),
                                 {"EHContinuation"}),
    "no-load-config": (lambda p: p.zero_directory(10), {"ControlFlowGuard", "EHContinuation", "StackCookie"}),
    "no-security-cookie": (lambda p: struct.pack_into("<Q", p.data, p.load_config() + 0x58, 0), {"StackCookie"}),
    "modified-security-cookie": (lambda p: struct.pack_into("<Q", p.data, p.cookie_offset(), 0x1234),
                                 {"StackCookie"}),
    "no-cet-compat": (lambda p: p.clear32(p.extended_characteristics(), CET_COMPAT), {"ShadowStack"}),
    # (the cookie lives in .data, which then executes too)
    "writable-executable-data": (lambda p: p.set_section_flags(".data", SCN_EXECUTE),
                                 {"WritableExecutable", "StackCookie"}),
    "writable-shared-data": (lambda p: p.set_section_flags(".data", SCN_SHARED), {"SharedWritable"}),
    "executable-imports": (lambda p: p.set_section_flags(".rdata", SCN_EXECUTE), {"ImportsNotExecutable"}),
}


def planted(args):
    problems = []
    failures = check(args.readobj, args.binary)
    if failures:
        return [f"the unmodified {Path(args.binary).name} does not pass:"] + report(args.binary, failures)
    scratch = Path(args.scratch)
    shutil.rmtree(scratch, ignore_errors=True)
    scratch.mkdir(parents=True)
    original = Path(args.binary).read_bytes()
    cases = []
    for name, (plant, expected) in PLANTS.items():
        patcher = Patcher(original)
        plant(patcher)
        copy = scratch / f"{name}-{Path(args.binary).name}"
        copy.write_bytes(patcher.data)
        cases.append((name, copy, expected))
    for probe in args.probes:
        path, _, rules = probe.partition("=")
        cases.append((Path(path).name, Path(path), set(rules.split(","))))
    for name, path, expected in cases:
        failures = check(args.readobj, path)
        if set(failures) != expected:
            problems.append(f"{name}: expected to fail {', '.join(sorted(expected))}; "
                            f"it fails {', '.join(sorted(failures)) or 'nothing'}"
                            + "".join(f"\n  {line}" for line in report(path, failures)))
        else:
            print(f"{name}: fails {', '.join(sorted(expected))}, as it must")
    print(f"{len(cases)} planted faults checked")
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(dest="command", required=True)
    check_command = commands.add_parser("check")
    check_command.add_argument("--readobj", required=True)
    check_command.add_argument("binaries", nargs="+")
    planted_command = commands.add_parser("planted")
    planted_command.add_argument("--readobj", required=True)
    planted_command.add_argument("--scratch", required=True)
    planted_command.add_argument("binary")
    planted_command.add_argument("probes", nargs="*", metavar="PROBE=RULE,RULE")
    args = parser.parse_args()
    if args.command == "check":
        problems = []
        for path in args.binaries:
            problems += report(path, check(args.readobj, path))
    else:
        problems = planted(args)
    for problem in problems:
        print(problem, file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
