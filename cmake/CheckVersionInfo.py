#!/usr/bin/env python3
"""Reads the version resource (VERSIONINFO) back from linked Windows binaries.

    CheckVersionInfo.py --version X.Y.Z --product P --company C --copyright L
                        --comments T BINARY=FILETYPE=INTERNALNAME=DESCRIPTION...

For every binary, from its resource section (RT_VERSION, id 1):
  - the fixed part: signature 0xFEEF04BD, FILEVERSION and PRODUCTVERSION
    equal to X.Y.Z (tweak 0), the file type (1 an application, 2 a DLL),
    the OS VOS_NT_WINDOWS32;
  - the strings of the U.S. English, UTF-16 table (040904B0): FileVersion
    and ProductVersion X.Y.Z, ProductName, CompanyName, LegalCopyright,
    Comments, InternalName, FileDescription as given, and OriginalFilename
    the binary's own file name;
  - the translation VarFileInfo announces: 0x0409, 1200.

The PE file and its resource tree are read here, without other tools, so
that the check means the same in every Windows build (mingw-w64's windres,
llvm-rc). Exit status 0 when everything holds; otherwise every difference is
printed and the status is 1.
"""
import argparse
import struct
import sys
from pathlib import Path

RT_VERSION = 16
VS_FIXEDFILEINFO_SIGNATURE = 0xFEEF04BD
VOS_NT_WINDOWS32 = 0x40004


class Image:
    """A PE file: its sections, to read bytes at a relative virtual address."""

    def __init__(self, path):
        self.data = Path(path).read_bytes()
        if self.data[:2] != b"MZ":
            raise ValueError("not a PE file (no MZ header)")
        pe = struct.unpack_from("<I", self.data, 0x3C)[0]
        if self.data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("not a PE file (no PE signature)")
        sections = struct.unpack_from("<H", self.data, pe + 6)[0]
        optional_size = struct.unpack_from("<H", self.data, pe + 20)[0]
        optional = pe + 24
        magic = struct.unpack_from("<H", self.data, optional)[0]
        directories = optional + (112 if magic == 0x20B else 96)
        self.resource_rva, self.resource_size = struct.unpack_from("<II", self.data, directories + 2 * 8)
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            _, vsize, vaddr, raw_size, raw_ptr = struct.unpack_from("<8sIIII", self.data, table + 40 * i)
            self.sections.append((vaddr, max(vsize, raw_size), raw_ptr, raw_size))

    def read(self, rva, size):
        for vaddr, vsize, raw_ptr, raw_size in self.sections:
            if vaddr <= rva and rva + size <= vaddr + vsize:
                start = rva - vaddr
                if start + size > raw_size:
                    raise ValueError(f"bytes at {rva:#x} lie outside the file")
                return self.data[raw_ptr + start:raw_ptr + start + size]
        raise ValueError(f"no section holds {size} bytes at {rva:#x}")


def version_resources(image):
    """The data of every RT_VERSION resource: {(name id, language): bytes}."""
    if not image.resource_rva:
        return {}
    base = image.resource_rva
    tree = image.read(base, image.resource_size)

    def entries(offset):
        named, numbered = struct.unpack_from("<HH", tree, offset + 12)
        for i in range(named + numbered):
            name, target = struct.unpack_from("<II", tree, offset + 16 + 8 * i)
            yield name, target

    found = {}
    for type_id, type_target in entries(0):
        if type_id != RT_VERSION or not type_target & 0x80000000:
            continue
        for name_id, name_target in entries(type_target & 0x7FFFFFFF):
            if not name_target & 0x80000000:
                continue
            for language, data_entry in entries(name_target & 0x7FFFFFFF):
                rva, size = struct.unpack_from("<II", tree, data_entry & 0x7FFFFFFF)
                found[(name_id, language)] = image.read(rva, size)
    return found


def align4(offset):
    return (offset + 3) & ~3


def parse_block(data, offset):
    """One VS_VERSIONINFO-style block at offset: (key, value bytes, children).

    A block is wLength, wValueLength, wType, a NUL-terminated UTF-16 key,
    padding to 4 bytes, the value (wValueLength bytes for binary values, that
    many UTF-16 units for text), padding, then child blocks up to wLength."""
    length, value_length, value_type = struct.unpack_from("<HHH", data, offset)
    if length < 6 or offset + length > len(data):
        raise ValueError(f"a block at {offset} claims {length} bytes of {len(data) - offset}")
    end = offset + length
    key_start = offset + 6
    key_end = key_start
    while key_end + 1 < end and data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = data[key_start:key_end].decode("utf-16-le")
    value_start = align4(key_end + 2)
    value_bytes = value_length * 2 if value_type == 1 else value_length
    value = data[value_start:min(value_start + value_bytes, end)]
    children = []
    child = align4(value_start + value_bytes)
    while child + 6 <= end:
        child_length = struct.unpack_from("<H", data, child)[0]
        if child_length == 0:
            break
        children.append(parse_block(data, child))
        child = align4(child + child_length)
    return key, value, children, value_type


def text(value):
    return value.decode("utf-16-le").rstrip("\0")


def check(binary, expected_type, internal_name, description, args):
    problems = []
    path = Path(binary)
    try:
        resources = version_resources(Image(path))
        if not resources:
            return [f"{path.name}: no version resource (RT_VERSION)"]
        (name_id, _), data = sorted(resources.items())[0]
        if name_id != 1:
            problems.append(f"{path.name}: the version resource has id {name_id}, not 1")
        key, value, children, _ = parse_block(data, 0)
    except OSError as error:
        return [f"{path}: cannot be read: {error.strerror}"]
    except (ValueError, struct.error, UnicodeDecodeError) as error:
        return [f"{path.name}: the version resource cannot be read: {error}"]
    if key != "VS_VERSION_INFO":
        return [f"{path.name}: the version resource's root is {key!r}, not VS_VERSION_INFO"]
    if len(value) < 52:
        return [f"{path.name}: no VS_FIXEDFILEINFO ({len(value)} bytes)"]
    (signature, _, file_ms, file_ls, product_ms, product_ls, _, _, file_os, file_type,
     _) = struct.unpack_from("<11I", value)
    numbers = [int(part) for part in args.version.split(".")] + [0] * 4
    want_ms, want_ls = numbers[0] << 16 | numbers[1], numbers[2] << 16 | numbers[3]

    def dotted(ms, ls):
        return f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"

    want = dotted(want_ms, want_ls)
    if signature != VS_FIXEDFILEINFO_SIGNATURE:
        problems.append(f"{path.name}: VS_FIXEDFILEINFO's signature is {signature:#x}")
    if (file_ms, file_ls) != (want_ms, want_ls):
        problems.append(f"{path.name}: FILEVERSION is {dotted(file_ms, file_ls)}, expected {want}")
    if (product_ms, product_ls) != (want_ms, want_ls):
        problems.append(f"{path.name}: PRODUCTVERSION is {dotted(product_ms, product_ls)}, expected {want}")
    if file_type != int(expected_type, 0):
        problems.append(f"{path.name}: FILETYPE is {file_type}, expected {int(expected_type, 0)}")
    if file_os != VOS_NT_WINDOWS32:
        problems.append(f"{path.name}: FILEOS is {file_os:#x}, expected {VOS_NT_WINDOWS32:#x}")

    strings, translations = {}, []
    for child_key, _, grandchildren, _ in children:
        if child_key == "StringFileInfo":
            for table_key, _, entries, _ in grandchildren:
                if table_key.upper() == "040904B0":
                    strings = {name: text(entry_value) for name, entry_value, _, _ in entries}
        elif child_key == "VarFileInfo":
            for var_key, var_value, _, _ in grandchildren:
                if var_key == "Translation":
                    translations = [struct.unpack_from("<HH", var_value, i) for i in range(0, len(var_value) - 3, 4)]
    expected_strings = {
        "FileVersion": args.version,
        "ProductVersion": args.version,
        "ProductName": args.product,
        "CompanyName": args.company,
        "LegalCopyright": args.copyright,
        "Comments": args.comments,
        "InternalName": internal_name,
        "FileDescription": description,
        "OriginalFilename": path.name,
    }
    if not strings:
        problems.append(f"{path.name}: no string table 040904B0 in StringFileInfo")
    else:
        for name, wanted in expected_strings.items():
            if name not in strings:
                problems.append(f"{path.name}: no {name} string")
            elif strings[name] != wanted:
                problems.append(f"{path.name}: {name} is {strings[name]!r}, expected {wanted!r}")
    if (0x0409, 1200) not in translations:
        problems.append(f"{path.name}: VarFileInfo's Translation is {translations}, expected [(0x409, 1200)]")
    if not problems:
        print(f"{path.name}: version {dotted(file_ms, file_ls)}, {'DLL' if file_type == 2 else 'application'}, "
              f"\"{strings['FileDescription']}\", {len(strings)} strings")
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--version", required=True)
    parser.add_argument("--product", required=True)
    parser.add_argument("--company", required=True)
    parser.add_argument("--copyright", required=True)
    parser.add_argument("--comments", required=True)
    parser.add_argument("binaries", nargs="+", metavar="BINARY=FILETYPE=INTERNALNAME=DESCRIPTION")
    args = parser.parse_args()
    problems = []
    for entry in args.binaries:
        fields = entry.split("=", 3)
        if len(fields) != 4:
            sys.exit(f"CheckVersionInfo: {entry!r} is not BINARY=FILETYPE=INTERNALNAME=DESCRIPTION")
        problems += check(*fields, args)
    for problem in problems:
        print(problem, file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
