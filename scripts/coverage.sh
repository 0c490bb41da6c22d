#!/usr/bin/env bash
# Line and branch coverage of the module's own code (marshal/ protocol/ host/
# support/ appmgr/ handlers/ module/, their tests left out), measured with
# Clang's source-based coverage over everything `ctest --preset coverage`
# runs: the unit tests, the scenario folder through sapp-host, the soaks and
# the fuzz corpus replays. Fails when the suite fails or when either figure
# falls below the floor in scripts/coverage-floor.json.
#
#   scripts/coverage.sh             build the coverage preset, run its suite, report (CI runs this)
#   scripts/coverage.sh --missed    also list every line and branch outcome no test runs
#   scripts/coverage.sh --html DIR  also write llvm-cov's annotated sources to DIR/index.html
#   scripts/coverage.sh --update    write the measured figures into scripts/coverage-floor.json
#
# The coverage preset is the clang preset's build with -fprofile-instr-generate
# -fcoverage-mapping in every target, the module's shared library included.
# Its test preset sets LLVM_PROFILE_FILE to build/coverage/profiles/%p-%m.profraw:
# one profile per process (%p) and per instrumented binary in it (%m), so the
# scenario processes sapp-host starts, and libsapp.so loaded into them, each
# write their own file instead of overwriting one another's. A process that
# aborts writes none (the death test's child).
#
# docs/robustness.md lists the lines and branches no test runs, with the
# reason for each. A change that adds tests raises the floor in the same commit.
set -euo pipefail
cd "$(dirname "$0")/.."

missed=no html="" update=no
while [ $# -gt 0 ]; do
    case "$1" in
    --missed) missed=yes ;;
    --html) html="${2:?--html needs a folder}"; shift ;;
    --update) update=yes ;;
    *) echo "usage: scripts/coverage.sh [--missed] [--html DIR] [--update]" >&2; exit 2 ;;
    esac
    shift
done
for tool in llvm-profdata-14 llvm-cov-14 jq; do
    command -v "$tool" >/dev/null || { echo "scripts/coverage.sh: needs $tool (scripts/deps.sh installs it)" >&2; exit 2; }
done

build=build/coverage
floor=scripts/coverage-floor.json
folders=(marshal protocol host support appmgr handlers module)
tests='(_test\.cc|/test_[^/]*\.h)$'

cmake --preset coverage >/dev/null
cmake --build --preset coverage
rm -rf "$build/profiles"
ctest --preset coverage

echo "== coverage of ${folders[*]} =="
profiles=("$build"/profiles/*.profraw)
llvm-profdata-14 merge -sparse "${profiles[@]}" -o "$build/coverage.profdata"
# Every instrumented executable and library of the build: a function is
# counted wherever one of them ran it.
objects=()
for f in "$build"/bin/*; do
    # grep reads to the end: -q would stop readelf with SIGPIPE and, under
    # pipefail, drop a binary now and then.
    if [ -f "$f" ] && llvm-readelf-14 -S "$f" 2>/dev/null | grep __llvm_covmap >/dev/null; then
        objects+=(-object "$f")
    fi
done
# llvm-cov takes the first binary without -object. It warns of "mismatched
# data" for the inline functions a binary includes but never uses (recorded
# with an empty hash; their counts come from the binaries that use them) and
# for the main of the tools no test runs; that warning is dropped.
cov() {
    local command=$1
    shift
    llvm-cov-14 "$command" "${objects[@]:1}" -instr-profile="$build/coverage.profdata" \
        -ignore-filename-regex="$tests" "$@" "${folders[@]}" \
        2> >(sed -e 's/\x1b\[[0-9;]*m//g' -e '/functions have mismatched data/d' -e '/^$/d' >&2)
}
cov export -summary-only >"$build/coverage.json"

echo "  ${#profiles[@]} profiles of $((${#objects[@]} / 2)) binaries"
printf '  %-30s %11s %11s\n' file lines branches
jq -r --arg root "$PWD/" '.data[0].files[] | .summary as $s
    | "\(.filename | ltrimstr($root)) \($s.lines.covered)/\($s.lines.count) \($s.branches.covered)/\($s.branches.count)"' \
    "$build/coverage.json" | sort | while read -r file l b; do printf '  %-30s %11s %11s\n' "$file" "$l" "$b"; done
# Percentages cut (not rounded) to two decimals, as the floor is written.
read -r lines branches < <(jq -r '.data[0].totals | [.lines.percent, .branches.percent] | map(. * 100 | floor / 100) | "\(.[0]) \(.[1])"' "$build/coverage.json")
jq -r '.data[0].totals | "  lines \(.lines.covered) of \(.lines.count), branches \(.branches.covered) of \(.branches.count)"' \
    "$build/coverage.json"

if [ "$missed" = yes ]; then
    echo "== lines and branch outcomes no test runs (docs/robustness.md gives the reasons) =="
    # A template's branch is listed once per instantiation: an outcome is
    # missed when no instantiation takes it.
    cov show -show-branches=count -show-instantiations=false |
        awk -v root="$PWD/" '
            /^\// { file = substr($0, length(root) + 1, length($0) - length(root) - 1) }
            /^ *[0-9]+\| +0\|/ { sub(/^ */, ""); split($0, f, "|"); print "  " file ":" f[1] "  " substr($0, length(f[1] f[2]) + 3) }
            match($0, /Branch \([0-9]+:[0-9]+\): \[True: [^,]*, False: [^]]*\]/) {
                split(substr($0, RSTART, RLENGTH), b, /[():,\]]/)
                key = file ":" b[2] ":" b[3]
                if (!(key in seen)) { seen[key] = 1; order[++n] = key }
                if (b[6] !~ /^ *0$/) taken[key, "true"] = 1
                if (b[8] !~ /^ *0$/) taken[key, "false"] = 1
            }
            END {
                for (i = 1; i <= n; i++) {
                    key = order[i]
                    if (!taken[key, "true"]) print "  " key "  branch never true"
                    if (!taken[key, "false"]) print "  " key "  branch never false"
                }
            }'
fi
if [ -n "$html" ]; then
    cov show -format=html -show-branches=count -output-dir="$html"
    echo "  annotated sources: $html/index.html"
fi

if [ "$update" = yes ]; then
    jq --argjson l "$lines" --argjson b "$branches" '.lines = $l | .branches = $b' "$floor" >"$floor.new"
    mv "$floor.new" "$floor"
    echo "scripts/coverage.sh: wrote $floor: $(jq -c '{lines, branches}' "$floor")"
    exit 0
fi
verdict=$(jq -r --argjson l "$lines" --argjson b "$branches" '
    [ (if ($l * 100 | round) < (.lines * 100 | round) then "lines \($l) % < floor \(.lines) %" else empty end),
      (if ($b * 100 | round) < (.branches * 100 | round) then "branches \($b) % < floor \(.branches) %" else empty end)
    ] | join(", ")' "$floor")
echo "  lines $lines %, branches $branches % (floor: $(jq -r '"lines \(.lines) %, branches \(.branches) %"' "$floor"))"
if [ -n "$verdict" ]; then
    echo "scripts/coverage.sh: coverage fell below its floor: $verdict." >&2
    echo "  scripts/coverage.sh --missed lists what no test runs; test it, or list it with its reason in" >&2
    echo "  docs/robustness.md and lower the floor (scripts/coverage.sh --update) in the same commit." >&2
    exit 1
fi
if jq -e --argjson l "$lines" --argjson b "$branches" '($l * 100 | round) > (.lines * 100 | round) or
                                                       ($b * 100 | round) > (.branches * 100 | round)' "$floor" >/dev/null; then
    echo "scripts/coverage.sh: coverage above its floor: raise it with this change (scripts/coverage.sh --update)"
else
    echo "scripts/coverage.sh: coverage at its floor"
fi
