#!/usr/bin/env bash
# Installs a build as an integrator gets it, checks the package and runs
# the hosts of examples/ (minimal-host, keep-events), built against that
# install tree alone.
#
#   scripts/minimal-host.sh PRESET [RUNNER...]
#
# PRESET is a configured and built preset (dev, windows, ...). Its build is
# installed afresh into build/PRESET-install, and then:
#   - every relative link of the installed Markdown files (the README first)
#     must lead to a file of the install tree;
#   - each example is configured and built with CMake in
#     build/PRESET-minimal-host and build/PRESET-keep-events (with the
#     preset's toolchain file, if any) and run: minimal-host drives a
#     session, keep-events keeps copies of every client event and sent
#     record the module hands it and reads them after the session and the
#     module are gone;
#   - minimal-host, and keep-events/copy-host.cc (a host whose only work is
#     copying an AppsAddedEvent and an AppsDeletedEvent), are compiled once
#     more by hand with the flags of `pkg-config --cflags --libs sapp`
#     (build/PRESET-minimal-host-pc) and run;
#   - for a Linux build, the README's pkg-config recipe is run as it is
#     written, in a new folder outside the tree (with the install tree for
#     its /opt/sapp), and the host it builds must start and succeed;
#   - the build's archive is made with cpack (sapp-<version>-Linux.tar.gz or
#     -win64-<msvc|mingw>.zip in build/PRESET) and must hold the LICENSE.
# Each example's output must be the one its README shows, but for the module
# file's path. Runs go through RUNNER when given (scripts/test-windows.sh and
# scripts/test-msvc-wine.sh pass Wine, inside their Wine server's lifetime).
# For an MSVC-ABI build, keep-events is built once more as a Debug host
# that keeps the release runtime (docs/msvc-host.md, "Debugging a host").
# An MSVC-ABI build (msvc-wine) links the examples against its own runtime
# libraries, as MSVC links its default ones, and is not built with
# pkg-config's flags, which are GCC's. Fails when any step fails or an
# example exits non-zero.
set -euo pipefail
cd "$(dirname "$0")/.."

preset="${1:?usage: scripts/minimal-host.sh PRESET [RUNNER...]}"
shift
build="build/$preset"
prefix="$PWD/build/$preset-install"
example="build/$preset-minimal-host"
keeper="build/$preset-keep-events"
handmade="build/$preset-minimal-host-pc"
docs="$prefix/share/doc/sapp"

# Runs a command quietly, showing its output only when it fails.
quiet() {
    local output
    if ! output=$("$@" 2>&1); then
        printf '%s\n' "$output" >&2
        return 1
    fi
}

fail() {
    echo "minimal-host.sh: $*" >&2
    exit 1
}

cache() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }

# The build's C++ compiler: cached, or, where a toolchain file set it, as
# CMake recorded it.
compiler() {
    local cxx
    cxx=$(cache CMAKE_CXX_COMPILER)
    [ -n "$cxx" ] || cxx=$(sed -n 's/^set(CMAKE_CXX_COMPILER "\(.*\)")$/\1/p' "$build"/CMakeFiles/*/CMakeCXXCompiler.cmake | head -1)
    [ -n "$cxx" ] || fail "no C++ compiler recorded in $build"
    printf '%s\n' "$cxx"
}

rm -rf "$prefix" "$example" "$keeper" "$keeper-debug" "$handmade"
quiet cmake --install "$build" --prefix "$prefix"

# The installed docs: the README, docs/ and examples/ keep the source tree's
# layout, so each relative link must find its file (anchors are not followed).
[ -f "$docs/README.md" ] || fail "no README.md in $docs"
[ -f "$docs/LICENSE" ] || fail "no LICENSE in $docs"
links=0
while IFS= read -r page; do
    while IFS= read -r link; do
        link="${link#](}"
        link="${link%)}"
        link="${link%%#*}"
        case "$link" in "" | http://* | https://* | mailto:*) continue ;; esac
        links=$((links + 1))
        [ -e "$(dirname "$page")/$link" ] || fail "${page#"$prefix"/} links to $link, which the package does not hold"
    done < <(grep -o '](\([^)]*\))' "$page" || true)
done < <(find "$docs" -name '*.md' | sort)
[ "$links" -gt 0 ] || fail "no relative link found in the installed docs"

toolchain=$(cache CMAKE_TOOLCHAIN_FILE)
msvc=$(cache SAPP_MSVC_WINE)

# Builds examples/NAME with CMake against the package in FOLDER, runs it
# (through the runner, if any) and checks that it prints what its README
# shows, from the line after "module:" to the fence. Prints its output.
build_and_run() {
    local name="$1" folder="$2" config="${HOST_CONFIG:-Release}"
    shift 2
    local args=(-S "examples/$name" -B "$folder" -Dsapp_DIR="$prefix/lib/cmake/sapp")
    [ -z "$toolchain" ] || args+=(-DCMAKE_TOOLCHAIN_FILE="$toolchain")
    if [ "$msvc" = ON ]; then
        local runtime=("$PWD/$build/lib/sapp_msvc_runtime.lib" "$PWD/$build"/msvc-runtime/*.lib)
        # Release, as the package; or a Debug host that keeps the release
        # runtime and library (docs/msvc-host.md, "Debugging a host").
        args+=(-DSAPP_MSVC_RUNTIME_LIBRARIES="${runtime[*]}" -DCMAKE_BUILD_TYPE="$config")
        [ "$config" = Release ] || args+=(-DCMAKE_MSVC_RUNTIME_LIBRARY=MultiThreadedDLL)
    fi
    quiet cmake "${args[@]}"
    quiet cmake --build "$folder"

    local exe="$folder/$name" output shown
    [ -e "$exe" ] || exe="$exe.exe"
    output=$("$@" "$exe") || { printf '%s\n' "$output" >&2; fail "the example $name failed"; }
    printf '%s\n' "$output"
    shown=$(sed -n '/^module: /,/^```/p' "examples/$name/README.md" | sed '1d;$d')
    [ "$(printf '%s\n' "$output" | tr -d '\r' | sed '1d')" = "$shown" ] ||
        fail "the example's output differs from examples/$name/README.md"
}

build_and_run minimal-host "$example" "$@"
build_and_run keep-events "$keeper" "$@"
if [ "$msvc" = ON ]; then
    # The MSVC host as a developer debugs it: /Od /Zi /RTC1, with /MD.
    HOST_CONFIG=Debug build_and_run keep-events "$keeper-debug" "$@" >/dev/null
fi

# The same example compiled by hand with what pkg-config says, as a host
# without CMake builds (PKG_CONFIG_LIBDIR: this package's .pc files only).
pc() { PKG_CONFIG_LIBDIR="$prefix/lib/pkgconfig" pkg-config "$@" sapp; }
module=$(pc --variable=module)
read -r -a flags <<<"$(pc --cflags --libs)"
mkdir -p "$handmade"
if [ "$msvc" = ON ]; then
    echo "minimal-host.sh: an MSVC host is not built with pkg-config's flags; skipped" >&2
elif [ -n "$toolchain" ]; then
    # A host linked against the DLLs' import libraries cannot be linked
    # -static, as the toolchain links ours, so the runtime's thread DLL goes
    # beside it, with our DLLs, where Windows looks for them.
    flags+=(-static-libgcc -static-libstdc++)
    cp "$prefix"/bin/pktcore*.dll "$prefix"/bin/tarnbase*.dll \
       "$("$(compiler)" -print-file-name=libwinpthread-1.dll)" "$handmade"/
    exe="$handmade/minimal-host.exe"
else
    # Nothing more: the flags alone give a host that starts.
    exe="$handmade/minimal-host"
fi
if [ "$msvc" != ON ]; then
    quiet "$(compiler)" -std=c++20 -o "$exe" examples/minimal-host/main.cc \
        "-DSAPP_MODULE_FILE=\"$module\"" "${flags[@]}"
    "$@" "$exe" >/dev/null || fail "the example built with pkg-config's flags failed"
    # A host that copies app-list events needs the records' walks: the
    # package's headers give them, with no flag more.
    copier="$(dirname "$exe")/copy-host${exe##*/minimal-host}"
    quiet "$(compiler)" -std=c++20 -o "$copier" examples/keep-events/copy-host.cc "${flags[@]}"
    "$@" "$copier" || fail "keep-events/copy-host.cc built with pkg-config's flags failed"
fi

# The README's recipe, word for word but for where the package is.
if [ -z "$toolchain" ]; then
    recipe=$(awk '/^```sh$/ { block = ""; inside = 1; next }
                  /^```$/ { if (inside && block ~ /pkg-config --cflags --libs sapp/) { printf "%s", block; exit }
                            inside = 0; next }
                  inside { block = block $0 "\n" }' README.md)
    [ -n "$recipe" ] || fail "README.md has no pkg-config recipe"
    outside=$(mktemp -d)
    trap 'rm -rf "$outside"' EXIT
    (cd "$outside" && env -u LD_LIBRARY_PATH bash -euo pipefail -c "${recipe//\/opt\/sapp/$prefix}") >/dev/null 2>&1 ||
        fail "README.md's pkg-config recipe fails as written (with /opt/sapp as $prefix):"$'\n'"$recipe"
fi

# The archive of the install tree, with the LICENSE in it.
rm -f "$build"/sapp-*.tar.gz "$build"/sapp-*.zip
(cd "$build" && quiet cpack)
archive=$(find "$build" -maxdepth 1 \( -name 'sapp-*.tar.gz' -o -name 'sapp-*.zip' \) | head -1)
[ -n "$archive" ] || fail "cpack made no archive in $build"
listing=$(cmake -E tar tf "$archive")
grep -q '/share/doc/sapp/LICENSE$' <<<"$listing" || fail "$archive holds no share/doc/sapp/LICENSE"
built="CMake, with pkg-config${recipe:+ and by the recipe of README.md}"
[ "$msvc" != ON ] || built="CMake"
copied="keep-events kept and read its copies"
[ "$msvc" = ON ] || copied="$copied, copy-host copied with pkg-config's flags"
[ "$msvc" != ON ] || copied="$copied, in a Release and in a Debug host"
echo "minimal-host.sh: $links links of the installed docs hold; the example ran built with $built;" \
     "$copied; $archive holds the LICENSE" >&2
