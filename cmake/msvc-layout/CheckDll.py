#!/usr/bin/env python3
"""Checks the boundary of linked MSVC-ABI binaries (preset msvc-wine).

    CheckDll.py imports --readobj R --allow A.dll,B.dll BINARY...
        every DLL a binary imports is one of the allowed names (case does
        not matter, as on Windows);

    CheckDll.py layout --pdbutil P --undname U --slots Slots.txt
                       --offsets Offsets.txt NAME=BINARY...
        the virtual tables and record layouts, read from the linked binaries
        and the PDB the linker wrote beside each (BINARY with .pdb):

        - Slots.txt lines "<binary> | <class> | <slot> | <function>": the
          table ??_7<class>@@6B@ of that binary (found among the PDB's public
          symbols) holds in slot N the address of a function whose name, as
          llvm-undname writes it, ends in <function>; a listed class has
          exactly the listed slots (the word after the last one is no
          function of the class);
        - Offsets.txt lines "<binary> | <type> | <member path> | <offset>
          [| <type of the member>]", or "... | <type> | sizeof | <bytes>": a
          member path names members of members ("extra" or
          "_Mypair._Myval2._Mysize"); the offsets add up from the type's
          start, through base classes where a member lives in one. The type
          names std::string and std::wstring stand for the standard
          library's class names.

    CheckDll.py host-imports --readobj R --undname U --doc DOC.md [--write] BINARY
        the names BINARY (sapp.dll) imports from the host libraries
        (pktcore.dll, tarnbase.dll) are the table between the lines
        "<!-- host-imports: begin -->" and "<!-- host-imports: end -->" of
        DOC.md, one row per name: DLL, decorated name, what llvm-undname
        makes of it. With --write the table is written from the binary
        instead.

    CheckDll.py slot-tables --slots Slots.txt --doc DOC.md [--write]
        the slot tables between "<!-- slot-tables: begin -->" and
        "<!-- slot-tables: end -->" of DOC.md are those Slots.txt gives:
        one table per class whose slots follow a line "## CAPTION" there,
        with each operation's MSVC slot and its Itanium slots (a virtual
        destructor takes two there, and overloads keep their declaration
        order, which MSVC reverses). With --write the tables are written
        from Slots.txt instead.

Exit status 0 when everything holds; otherwise every difference is printed
and the status is 1.
"""
import argparse
import re
import struct
import subprocess
import sys
from pathlib import Path

ALIASES = {
    "std::string": "std::basic_string<char,std::char_traits<char>,std::allocator<char> >",
    "std::wstring": "std::basic_string<wchar_t,std::char_traits<wchar_t>,std::allocator<wchar_t> >",
}


def run(*command):
    result = subprocess.run(command, capture_output=True, text=True)
    if result.returncode != 0:
        sys.exit(f"CheckDll: {' '.join(command)} failed:\n{result.stderr}")
    return result.stdout


def table_lines(path):
    """The '|'-separated fields of a list file's lines; '#' starts a comment."""
    for number, line in enumerate(Path(path).read_text().splitlines(), 1):
        line = line.split("#", 1)[0].strip()
        if line:
            yield number, [field.strip() for field in line.split("|")]


# --- the PE image ---------------------------------------------------------------
class Image:
    """The sections of a PE32+ file, to read the words at a relative address."""

    def __init__(self, path):
        self.data = Path(path).read_bytes()
        pe = struct.unpack_from("<I", self.data, 0x3C)[0]
        if self.data[pe:pe + 4] != b"PE\0\0":
            sys.exit(f"CheckDll: {path} is not a PE file")
        sections = struct.unpack_from("<H", self.data, pe + 6)[0]
        optional_size = struct.unpack_from("<H", self.data, pe + 20)[0]
        optional = pe + 24
        if struct.unpack_from("<H", self.data, optional)[0] != 0x20B:
            sys.exit(f"CheckDll: {path} is not a 64-bit image")
        self.image_base = struct.unpack_from("<Q", self.data, optional + 24)[0]
        self.sections = []  # (name, virtual address, virtual size, file offset, raw size)
        table = optional + optional_size
        for i in range(sections):
            name, vsize, vaddr, raw_size, raw_ptr = struct.unpack_from("<8sIIII", self.data, table + 40 * i)
            self.sections.append((name.rstrip(b"\0").decode(), vaddr, vsize, raw_ptr, raw_size))

    def rva_of(self, section_number, offset):
        return self.sections[section_number - 1][1] + offset

    def section_of(self, rva):
        for name, vaddr, vsize, _, _ in self.sections:
            if vaddr <= rva < vaddr + vsize:
                return name
        return None

    def word(self, rva):
        for _, vaddr, vsize, raw_ptr, raw_size in self.sections:
            if vaddr <= rva and rva + 8 <= vaddr + min(vsize, raw_size):
                return struct.unpack_from("<Q", self.data, raw_ptr + rva - vaddr)[0]
        return None


# --- the PDB ------------------------------------------------------------------
def publics(pdbutil, pdb):
    """The public symbols of a PDB: (decorated name, section, offset)."""
    dump = run(pdbutil, "dump", "-publics", str(pdb))
    return [(name, int(section), int(offset))
            for name, section, offset in re.findall(r"S_PUB32 \[size = \d+\] `([^`]+)`\n\s+flags = [^,]+, addr = (\d+):(\d+)", dump)]


class Types:
    """The type records of a PDB (llvm-pdbutil dump -types), enough to lay out
    classes: complete definitions by name, their members and base classes."""

    RECORD = re.compile(r"^\s+0x([0-9A-F]+) \| (LF_\w+) \[size = \d+\](?: `(.*)`)?$")

    def __init__(self, pdbutil, pdb):
        self.records = {}  # index -> (kind, name, lines)
        current = None
        for line in run(pdbutil, "dump", "-types", str(pdb)).splitlines():
            match = self.RECORD.match(line)
            if match:
                current = (match.group(2), match.group(3), [])
                self.records[int(match.group(1), 16)] = current
            elif current is not None:
                current[2].append(line.strip())
        self.definitions = {}  # class name -> index of its complete definition
        for index, (kind, name, lines) in self.records.items():
            if kind in ("LF_STRUCTURE", "LF_CLASS", "LF_UNION") and name:
                text = " ".join(lines)
                if "forward ref" not in text:
                    self.definitions.setdefault(name, index)

    def size_of(self, index):
        if index < 0x1000:  # a simple type: "(unsigned __int64)"
            return None
        kind, name, lines = self.records[index]
        text = " ".join(lines)
        if kind in ("LF_STRUCTURE", "LF_CLASS", "LF_UNION"):
            index = self.definitions.get(name, index)
            match = re.search(r"sizeof (\d+)", " ".join(self.records[index][2]))
            return int(match.group(1)) if match else None
        if kind == "LF_MODIFIER":
            return self.size_of(int(re.search(r"referent = 0x([0-9A-F]+)", text).group(1), 16))
        if kind == "LF_ARRAY":
            return int(re.search(r"size: (\d+)", text).group(1))
        if kind == "LF_POINTER":
            return 8
        return None

    def name_of(self, index):
        if index < 0x1000:
            return None
        kind, name, lines = self.records[index]
        if kind == "LF_MODIFIER":
            return self.name_of(int(re.search(r"referent = 0x([0-9A-F]+)", " ".join(lines)).group(1), 16))
        return name

    def members(self, class_name):
        """(name, type index, offset) of a class's data members, and its base
        classes as ("<base>", type index, offset)."""
        index = self.definitions.get(class_name)
        if index is None:
            return None
        field_list = re.search(r"field list: 0x([0-9A-F]+)", " ".join(self.records[index][2]))
        if not field_list:
            return []
        lines = self.records[int(field_list.group(1), 16)][2]
        result = []
        for i, line in enumerate(lines):
            member = re.match(r"- LF_MEMBER \[name = `([^`]+)`, Type = 0x([0-9A-F]+).*, offset = (\d+),", line)
            if member:
                result.append((member.group(1), int(member.group(2), 16), int(member.group(3))))
            elif line == "- LF_BCLASS" and i + 1 < len(lines):
                base = re.match(r"type = 0x([0-9A-F]+), offset = (\d+)", lines[i + 1])
                if base:
                    result.append(("<base>", int(base.group(1), 16), int(base.group(2))))
        return result

    def find_member(self, class_name, member_name):
        """(type index, offset) of a member, looked up in base classes too."""
        members = self.members(class_name)
        if members is None:
            return None
        for name, type_index, offset in members:
            if name == member_name:
                return type_index, offset
        for name, type_index, offset in members:
            if name == "<base>":
                found = self.find_member(self.name_of(type_index), member_name)
                if found:
                    return found[0], offset + found[1]
        return None


# --- the checks -----------------------------------------------------------------
def check_imports(args):
    allowed = {name.strip().lower() for name in args.allow.split(",") if name.strip()}
    problems = []
    for binary in args.binaries:
        dump = run(args.readobj, "--coff-imports", binary)
        imported = re.findall(r"^\s*Import \{\s*\n\s*Name: (\S+)", dump, re.MULTILINE)
        imported += re.findall(r"^\s*DelayImport \{\s*\n\s*Name: (\S+)", dump, re.MULTILINE)
        unexpected = sorted(name for name in imported if name.lower() not in allowed)
        if unexpected:
            problems.append(f"{Path(binary).name} imports {', '.join(unexpected)}; allowed: {', '.join(sorted(allowed))}")
        else:
            print(f"{Path(binary).name}: imports {', '.join(sorted(imported))}")
    return problems


HOST_LIBRARIES = ("pktcore.dll", "tarnbase.dll")


def undecorated(undname, names):
    """llvm-undname's reading of each decorated name (the name itself where it has none)."""
    readable = {}
    output = subprocess.run([undname, *names], capture_output=True, text=True).stdout if names else ""
    for block in output.split("\n\n"):
        lines = block.strip("\n").split("\n")
        if len(lines) > 1 and lines[0] and not lines[1].startswith("error:"):
            readable[lines[0]] = lines[1]
    return [readable.get(name, name) for name in names]


def check_host_imports(args):
    dump = run(args.readobj, "--coff-imports", args.binary)
    rows = []
    for dll, body in re.findall(r"^\s*Import \{\s*\n\s*Name: (\S+)\n(.*?)^\s*\}", dump, re.MULTILINE | re.DOTALL):
        if dll.lower() in HOST_LIBRARIES:
            names = sorted(re.findall(r"^\s*Symbol: (\S+) \(\d+\)", body, re.MULTILINE))
            rows += [(dll.lower(), name, text) for name, text in zip(names, undecorated(args.undname, names))]
    if not rows:
        return [f"{Path(args.binary).name} imports nothing from {' or '.join(HOST_LIBRARIES)}"]
    table = ["| DLL | decorated name | llvm-undname |", "|---|---|---|"]
    table += [f"| `{dll}` | `{name}` | `{text}` |" for dll, name, text in rows]
    return check_block(Path(args.doc), "host-imports", table, args.write,
                       f"the {len(rows)} names {Path(args.binary).name} imports from the host libraries",
                       f"{Path(args.binary).name} imports")


def check_block(doc, block, lines, write, summary, source):
    """The generated block BLOCK of DOC must hold LINES; with WRITE it is
    written. SUMMARY says what it holds, SOURCE where the lines come from."""
    begin, end = f"<!-- {block}: begin -->", f"<!-- {block}: end -->"
    text = doc.read_text()
    if text.count(begin) != 1 or text.count(end) != 1 or text.index(begin) > text.index(end):
        return [f"{doc} has no block between {begin} and {end}"]
    head, rest = text.split(begin)
    documented, tail = rest.split(end)
    wanted = "\n" + "\n".join(lines) + "\n"
    if write:
        doc.write_text(head + begin + wanted + end + tail)
        print(f"{doc}: wrote {summary}")
        return []
    if documented.strip() != wanted.strip():
        have, want = documented.strip().splitlines(), wanted.strip().splitlines()
        return ([f"{doc} has, but {source} does not: {line}" for line in have if line not in want] +
                [f"{source}, but {doc} does not have: {line}" for line in want if line not in have] +
                [f"{doc}: the {block} block differs from what {source} gives; rewrite it with "
                 f"CheckDll.py {block} --write (cmake/MsvcWine.cmake has the command)"])
    print(f"{doc}: {summary}")
    return []


def operation(function):
    """An operation as the slot tables show it, from llvm-undname's name of
    the slot's function: without calling convention, class, the words class
    and struct, and (void)."""
    function = re.sub(r"\b(__cdecl|class|struct) ", "", function)
    if "`scalar deleting dtor'" in function:
        return "destructor"
    # The class's name may hold "::" itself (a namespace, a template
    # argument): the operation is what follows the last "::" before its "(".
    head, _, args = function.partition("(")
    if args.startswith("void)"):
        args = args[len("void"):]
    return f"{head.rsplit('::', 1)[-1]}({args}"


def itanium_slots(functions):
    """Each MSVC slot's Itanium slots: a destructor takes two; a run of
    overloads is laid out in declaration order, which MSVC reverses."""
    names = [re.sub(r"\(.*", "", operation(f)) for f in functions]
    result, slot, i = [], 0, 0
    while i < len(functions):
        if names[i] == "destructor":
            result.append(f"{slot}, {slot + 1}")
            slot, i = slot + 2, i + 1
            continue
        j = i
        while j < len(functions) and names[j] == names[i]:
            j += 1
        run = j - i
        result += [str(slot + run - 1 - k) for k in range(run)]
        slot, i = slot + run, j
    return result


def check_slot_tables(args):
    captions, groups, caption = {}, {}, None
    for line in Path(args.slots).read_text().splitlines():
        if line.startswith("## "):
            caption = line[3:].strip()
            continue
        fields = [field.strip() for field in line.split("#", 1)[0].split("|")]
        if len(fields) != 4:
            continue
        key = (fields[0], fields[1])
        if key not in groups:
            groups[key] = []
            if caption:
                captions[key] = caption
            caption = None
        groups[key].append(fields[3])
    lines = []
    for key, text in captions.items():
        functions = groups[key]
        lines += ["", text, "", "| operation | MSVC | Itanium |", "|---|---|---|"]
        lines += [f"| `{operation(f)}` | {msvc} | {itanium} |"
                  for msvc, (f, itanium) in enumerate(zip(functions, itanium_slots(functions)))]
    if not captions:
        return [f"{args.slots} has no caption line (## ...) before a class's slots"]
    return check_block(Path(args.doc), "slot-tables", lines[1:], args.write,
                       f"the slot tables of {len(captions)} classes", Path(args.slots).name)


def check_layout(args):
    binaries = {}
    for entry in args.binaries:
        name, _, path = entry.partition("=")
        binaries[name] = Path(path)
    problems = []
    cache = {}

    def load(binary):
        if binary not in cache:
            if binary not in binaries:
                sys.exit(f"CheckDll: no binary named {binary} given")
            path = binaries[binary]
            cache[binary] = (Image(path), publics(args.pdbutil, path.with_suffix(".pdb")),
                             Types(args.pdbutil, path.with_suffix(".pdb")))
        return cache[binary]

    # Slots.
    expected = {}
    for number, fields in table_lines(args.slots):
        if len(fields) != 4 or not fields[2].isdigit():
            sys.exit(f"CheckDll: {args.slots}:{number}: not \"<binary> | <class> | <slot> | <function>\"")
        binary, class_name, slot, function = fields
        slots = expected.setdefault((binary, class_name), [])
        if int(slot) != len(slots):
            sys.exit(f"CheckDll: {args.slots}:{number}: {class_name}'s slots must be listed from 0 in order")
        slots.append(function)

    readable = {}

    def undecorate(names):
        names = [name for name in names if name not in readable]
        if not names:
            return
        output = subprocess.run([args.undname, *names], capture_output=True, text=True).stdout
        for block in output.split("\n\n"):
            lines = block.strip("\n").split("\n")
            if lines and lines[0]:
                text = lines[1] if len(lines) > 1 and not lines[1].startswith("error:") else lines[0]
                readable[lines[0]] = text
        for name in names:
            readable.setdefault(name, name)

    for binary in sorted({binary for binary, _ in expected}):
        image, symbols, _ = load(binary)
        tables = [name for name, _, _ in symbols if name.startswith("??_7")]
        undecorate(tables)
        by_address = {}
        for name, section, offset in symbols:
            by_address.setdefault(image.rva_of(section, offset), []).append(name)
        table_address = {readable[name]: image.rva_of(section, offset)
                         for name, section, offset in symbols if name.startswith("??_7")}
        for (slots_binary, class_name), functions in expected.items():
            if slots_binary != binary:
                continue
            address = table_address.get(f"const {class_name}::`vftable'")
            if address is None:
                problems.append(f"{binary}: no virtual table of {class_name} among the PDB's public symbols")
                continue
            found = []
            for slot in range(len(functions) + 1):
                word = image.word(address + 8 * slot)
                target = word - image.image_base if word else None
                names = by_address.get(target, []) if target is not None else []
                if slot == len(functions):
                    # One past the last: no function of this class may follow.
                    undecorate(names)
                    extra = [readable[name] for name in names if f" {class_name}::" in readable[name]]
                    if extra and image.section_of(target) == ".text":
                        found.append(extra[0])
                    break
                undecorate(names)
                found.append(" or ".join(readable[name] for name in names) if names else f"<no symbol at {target}>")
            differs = len(found) != len(functions) or any(
                not any(candidate.endswith(want) for candidate in got.split(" or "))
                for got, want in zip(found, functions))
            if differs:
                lines = "".join(f"  {binary} | {class_name} | {slot} | {got}\n" for slot, got in enumerate(found))
                problems.append(f"{binary}: {class_name}: {len(functions)} slots expected, the table holds\n{lines}")
        print(f"{binary}: {sum(1 for key in expected if key[0] == binary)} virtual tables checked")

    # Record offsets.
    checked = 0
    for number, fields in table_lines(args.offsets):
        if len(fields) not in (4, 5) or not re.fullmatch(r"\d+", fields[3]):
            sys.exit(f"CheckDll: {args.offsets}:{number}: not \"<binary> | <type> | <member> | <offset> [| <type>]\"")
        binary, type_name, path, number_text = fields[:4]
        want_type = ALIASES.get(fields[4], fields[4]) if len(fields) == 5 else None
        _, _, types = load(binary)
        class_name = ALIASES.get(type_name, type_name)
        checked += 1
        if types.definitions.get(class_name) is None:
            problems.append(f"{binary}: {type_name}: no complete type in the PDB")
            continue
        if path == "sizeof":
            size = types.size_of(types.definitions[class_name])
            if size != int(number_text):
                problems.append(f"{binary}: sizeof({type_name}) is {size}, expected {number_text}")
            continue
        offset, current, type_index = 0, class_name, None
        for part in path.split("."):
            found = types.find_member(current, part) if current else None
            if not found:
                problems.append(f"{binary}: {type_name}.{path}: no member {part} in {current}")
                break
            type_index, member_offset = found
            offset += member_offset
            current = types.name_of(type_index)
        else:
            if offset != int(number_text):
                problems.append(f"{binary}: {type_name}.{path} is at {offset}, expected {number_text}")
            if want_type and types.name_of(type_index) != want_type:
                problems.append(f"{binary}: {type_name}.{path} is a {types.name_of(type_index)}, expected {fields[4]}")
    print(f"{checked} record offsets and sizes checked")
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(dest="command", required=True)
    imports = commands.add_parser("imports")
    imports.add_argument("--readobj", required=True)
    imports.add_argument("--allow", required=True)
    imports.add_argument("binaries", nargs="+")
    layout = commands.add_parser("layout")
    layout.add_argument("--pdbutil", required=True)
    layout.add_argument("--undname", required=True)
    layout.add_argument("--slots", required=True)
    layout.add_argument("--offsets", required=True)
    layout.add_argument("binaries", nargs="+", metavar="NAME=BINARY")
    host_imports = commands.add_parser("host-imports")
    host_imports.add_argument("--readobj", required=True)
    host_imports.add_argument("--undname", required=True)
    host_imports.add_argument("--doc", required=True)
    host_imports.add_argument("--write", action="store_true")
    host_imports.add_argument("binary")
    slot_tables = commands.add_parser("slot-tables")
    slot_tables.add_argument("--slots", required=True)
    slot_tables.add_argument("--doc", required=True)
    slot_tables.add_argument("--write", action="store_true")
    args = parser.parse_args()
    checks = {"imports": check_imports, "layout": check_layout, "host-imports": check_host_imports,
              "slot-tables": check_slot_tables}
    problems = checks[args.command](args)
    for problem in problems:
        print(problem, file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
