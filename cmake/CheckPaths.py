#!/usr/bin/env python3
"""Every repository path the docs and the comments name must exist.

    CheckPaths.py SOURCE_DIR [--plant SCRATCH]

Reads the Markdown files, and the comments of the sources, scripts and
CMake files, of the tree at SOURCE_DIR, and collects the words that look
like a path: a folder, a slash, and more (`marshal/Fields.h`,
`tools/sapp-host/records/`, `scripts/test.sh`). A word is a path of the
tree when its first folder is one, either at the top of the tree or beside
the file that names it (or beside one of that file's folders): such a word
must lead to a file or folder. `share/doc/sapp` or `build/dev/bin` start
with no folder of the tree, or with one that CMake makes, and are left
alone.

A word with a placeholder is not checked: a part in capitals (`NAME.json`,
`build/PRESET`, `fuzz_<target>_replay`), a wildcard or a variable. Name a
file that need not exist that way.

Prints each stale path with the file and line that names it, and fails.
With --plant, copies a page of the tree into SCRATCH with a path changed to
one that does not exist, and fails unless the check finds it: a check that
finds nothing would pass too.
"""
import os
import re
import sys

# Folders that hold no file of the tree: what builds and runs write.
SKIPPED_DIRS = {".git", "build", "third_party", "corpus", "corpus-full"}
# The build folder a word may start with; never a path of the tree.
OUTPUT_ROOTS = {"build", "bin", "lib", "share", "include"}

MARKDOWN = (".md",)
HASH_COMMENTS = (".sh", ".cmake", ".py", ".txt", ".in", ".exports")
SLASH_COMMENTS = (".h", ".cc", ".cxx", ".rc", ".proto")

PATH_WORD = re.compile(r"(?<![\w./~$@-])((?:\.\.?/)?[A-Za-z0-9_.-]+(?:/[A-Za-z0-9_.<>{}*$+-]*)+)")
# A part in capitals (NAME, PRESET, NAMECommand), but for the capitals of
# real file names; or the marks of a pattern or a variable.
CAPITALS = re.compile(r"(?:^|(?<=[/._-]))([A-Z][A-Z0-9]*(?=$|[/._-])|[A-Z]{3,}(?=[A-Z][a-z]))")
REAL_CAPITALS = {"README", "LICENSE", "ARCHITECTURE"}
PATTERN_MARKS = re.compile(r"[<>{}*$]|\.\.\.")


def placeholder(word):
    return bool(PATTERN_MARKS.search(word)) or any(part not in REAL_CAPITALS for part in CAPITALS.findall(word))


def comments(path, text):
    """The parts of TEXT that are prose: all of a Markdown page, the
    comments of a source file or script."""
    if path.endswith(MARKDOWN):
        return text.splitlines()
    lines = []
    if path.endswith(SLASH_COMMENTS):
        in_block = False
        for line in text.splitlines():
            kept = ""
            rest = line
            while rest:
                if in_block:
                    end = rest.find("*/")
                    kept += rest if end < 0 else rest[:end]
                    if end < 0:
                        rest = ""
                    else:
                        rest, in_block = rest[end + 2:], False
                    continue
                slash = rest.find("//")
                block = rest.find("/*")
                if slash >= 0 and (block < 0 or slash < block):
                    kept += rest[slash + 2:]
                    rest = ""
                elif block >= 0:
                    rest, in_block = rest[block + 2:], True
                else:
                    rest = ""
            lines.append(kept)
        return lines
    for line in text.splitlines():
        hash_at = line.find("#")
        lines.append(line[hash_at + 1:] if hash_at >= 0 else "")
    return lines


def checked_files(root):
    for folder, dirs, files in os.walk(root):
        dirs[:] = sorted(d for d in dirs if d not in SKIPPED_DIRS and not d.startswith("build"))
        for name in sorted(files):
            if name == "CMakeLists.txt" or name.endswith(MARKDOWN + HASH_COMMENTS + SLASH_COMMENTS):
                yield os.path.join(folder, name)


def bases(root, page):
    """The folders a path named in PAGE may start from: the page's own
    folder and each folder above it, up to the top of the tree."""
    folder = os.path.dirname(page)
    found = []
    while True:
        found.append(folder)
        if os.path.samefile(folder, root):
            return found
        folder = os.path.dirname(folder)


def stale_paths(root):
    """The stale paths, and how many paths were checked."""
    problems = []
    checked = 0
    for page in checked_files(root):
        try:
            with open(page, encoding="utf-8") as f:
                text = f.read()
        except UnicodeDecodeError:
            continue
        for number, line in enumerate(comments(page, text), start=1):
            for word in PATH_WORD.findall(line):
                word = word.rstrip(".,:;")
                if "//" in word or word.startswith(("/", "http")) or placeholder(word):
                    continue
                first = word.split("/", 1)[0]
                if first in OUTPUT_ROOTS or first in (".", ".."):
                    continue
                starts = [base for base in bases(root, page) if os.path.isdir(os.path.join(base, first))]
                if not starts:
                    continue  # not a path of the tree (share/doc/sapp, a URI, a ratio)
                checked += 1
                if not any(os.path.exists(os.path.join(base, word)) for base in starts):
                    problems.append(f"{os.path.relpath(page, root)}:{number}: {word}: no such file or folder")
    return problems, checked


def plant(root, scratch):
    """A copy of the tree's README with one path made stale must fail."""
    import shutil
    shutil.rmtree(scratch, ignore_errors=True)
    os.makedirs(scratch)
    for entry in os.listdir(root):
        if entry not in SKIPPED_DIRS and os.path.isdir(os.path.join(root, entry)) and not entry.startswith("build"):
            os.makedirs(os.path.join(scratch, entry))
    with open(os.path.join(root, "README.md"), encoding="utf-8") as f:
        readme = f.read()
    if "scripts/test.sh" not in readme:
        sys.exit("CheckPaths --plant: README.md names no scripts/test.sh to make stale")
    os.makedirs(os.path.join(scratch, "scripts"), exist_ok=True)
    with open(os.path.join(scratch, "scripts", "test.sh"), "w") as f:
        f.write("")
    with open(os.path.join(scratch, "README.md"), "w", encoding="utf-8") as f:
        f.write(readme.replace("scripts/test.sh", "scripts/tests.sh", 1))
    found, _ = stale_paths(scratch)
    if not any("scripts/tests.sh" in problem for problem in found):
        sys.exit("CheckPaths --plant: a stale path planted in README.md was not found")
    print("CheckPaths --plant: the planted stale path scripts/tests.sh was found")


def main():
    args = sys.argv[1:]
    if len(args) not in (1, 3) or (len(args) == 3 and args[1] != "--plant"):
        sys.exit(__doc__)
    root = os.path.abspath(args[0])
    if len(args) == 3:
        plant(root, os.path.abspath(args[2]))
        return
    problems, checked = stale_paths(root)
    for problem in problems:
        print(problem)
    if problems:
        sys.exit(f"CheckPaths: {len(problems)} of the {checked} paths the docs and comments name are stale")
    if checked == 0:
        sys.exit("CheckPaths: no path found in the docs and comments; is SOURCE_DIR the tree?")
    print(f"CheckPaths: the {checked} paths the docs and comments name exist")


if __name__ == "__main__":
    main()
