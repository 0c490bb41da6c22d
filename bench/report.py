"""Writes docs/performance.md and its plot from sapp-bench's JSON output.

    /usr/bin/python3 bench/report.py BENCH.json --compiler TEXT --markdown OUT.md --plot OUT.svg
                                     [--callgrind COUNTS.txt] [--profile PROFILE.txt] [--budget bench/budget.json]

COUNTS.txt is bench/callgrind.sh's output ("name module self" per line),
PROFILE.txt bench/profile.sh's ("name part instructions [function]").
Run by scripts/bench.sh; needs Debian's python3-matplotlib.
"""

import argparse
import json
import os
import platform
import sys
import textwrap

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

MESSAGES = [
    ("BM_Memcpy/256", "copying the 256 message bytes (baseline)"),
    ("BM_DownlinkV3Data", "SDK V3 data message, 256 bytes, onPacket"),
    ("BM_DownlinkV2Data", "SDK V2 data message, 256 bytes, onPacket"),
    ("BM_UplinkV3", "REQ_APP_DATA to a V3 app with 1 proxy, onRequest"),
    ("BM_UplinkV2/8", "REQ_APP_DATA to a V2 app with 8 proxies, onRequest"),
]
LIST_SIZES = [10, 100, 1000, 10000]
SCALE = [1, 1000, 100000]


def load(path):
    with open(path) as f:
        data = json.load(f)
    runs = {b["name"]: b for b in data["benchmarks"] if b.get("run_type", "iteration") == "iteration"}
    return data["context"], runs


def ns(run):
    """CPU time of one iteration in ns (less disturbed by other processes than wall time)."""
    scale = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}[run.get("time_unit", "ns")]
    return run["cpu_time"] * scale


def fmt(value):
    return f"{value:,.0f}" if value >= 100 else f"{value:,.1f}"


def allocs(run):
    """The allocations per message (per app) the bench host counted, or "" without a count."""
    if not run or "allocs" not in run:
        return ""
    value = run["allocs"]
    # The first message of a run allocates what later ones reuse: a figure
    # this small is none per message.
    return "0" if value < 0.001 else f"{value:.2f}"


def machine(context):
    cpu = ""
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    cpu = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    mhz = context.get("mhz_per_cpu")
    return (f"{cpu or platform.processor() or 'unknown CPU'}, {context.get('num_cpus', '?')} CPUs"
            + (f" at {mhz} MHz" if mhz else "") + f", {platform.system()} {platform.release()}")


def plot(runs, path):
    fig, ax = plt.subplots(figsize=(6.4, 4.0))
    for kind, label in (("sources", "sources already seen"), ("apps", "apps registered")):
        xs, ys = [], []
        for k in SCALE:
            run = runs.get(f"BM_DownlinkV3Data/{kind}:{k}")
            if run:
                xs.append(k)
                ys.append(ns(run))
        if xs:
            ax.plot(xs, ys, marker="o", label=label)
    ax.set_xscale("log")
    ax.set_ylim(bottom=0)
    ax.set_xlabel("registry size K")
    ax.set_ylabel("CPU ns per SDK V3 data message")
    ax.set_title("BM_DownlinkV3Data against registry size")
    ax.grid(True, which="both", alpha=0.3)
    ax.legend()
    fig.tight_layout()
    fig.savefig(path)


def markdown(context, runs, compiler, plot_name, counts, budget, profile=None):
    memcpy = ns(runs["BM_Memcpy/256"]) if "BM_Memcpy/256" in runs else None
    out = ["# Performance", "",
           "Figures of `sapp-bench` (`bench/`), written by `scripts/bench.sh`; do not edit by hand.", "",
           f"- Machine: {machine(context)}",
           f"- Compiler: {compiler}, `bench` preset (the `release` build, `-O3`)",
           f"- Run: {context.get('date', '?')}, Google Benchmark {context.get('library_version', '')}".rstrip(", "),
           f"- Load average at start: {', '.join(f'{x:.2f}' for x in context.get('load_avg', [])) or '?'}", "",
           "The module is driven through its exported entry points by a host session that",
           "discards what it receives, with the log level disabled. Times are CPU time per",
           "iteration; on a shared machine wall time varies more.", "",
           "## One message", "",
           "*allocs*: the C heap allocations made inside the module's entry points per",
           "message, counted by the bench host (`bench/AllocationCount.h`); 0 where the",
           "first message's allocation is reused by every later one.", "",
           "| benchmark | what | ns | × memcpy | allocs |", "|---|---|---:|---:|---:|"]
    for name, what in MESSAGES:
        if name in runs:
            t = ns(runs[name])
            ratio = f"{t / memcpy:.1f}" if memcpy else ""
            out.append(f"| `{name}` | {what} | {fmt(t)} | {ratio} | {allocs(runs[name])} |")
    out += ["", "## App lists", "",
            "`BM_AppList/N`: one `PAddAppReq` announcing N apps (4 proxies, one version item",
            "each) on a fresh session; `BM_AppListEvent/N`, its floor: building and freeing",
            "the packs its event carries from a list already read, with the same allocations",
            "(\"The floor of each kind\" below); `BM_AppListDecode/N`: decoding its",
            "`PluginAppPackMap` alone; `BM_AppListProtobuf/N`: parsing the same list from",
            "protobuf bytes (`bench/applist.proto`).", "",
            "| N | AppList ns/app | allocs/app | Event ns/app | ÷ Event | Decode ns/app | Protobuf ns/app"
            " | decode ÷ protobuf |",
            "|---:|---:|---:|---:|---:|---:|---:|---:|"]
    for n in LIST_SIZES:
        app_list, event, decode, proto = (runs.get(f"BM_AppList{kind}/{n}") for kind in ("", "Event", "Decode", "Protobuf"))
        cells = [fmt(ns(r) / n) if r else "" for r in (app_list, event, decode, proto)]
        cells.insert(1, allocs(app_list))
        cells.insert(3, f"{ns(app_list) / ns(event):.2f}" if app_list and event else "")
        cells.append(f"{ns(decode) / ns(proto):.2f}" if decode and proto else "")
        out.append(f"| {n:,} | {' | '.join(cells)} |")
    out += ["", "## Registry size", "",
            "`BM_DownlinkV3Data` with K sources already seen, or K apps registered.", "",
            "| K | sources: ns | × K=1 | apps: ns | × K=1 |", "|---:|---:|---:|---:|---:|"]
    base = {kind: runs.get(f"BM_DownlinkV3Data/{kind}:1") for kind in ("sources", "apps")}
    for k in SCALE:
        cells = []
        for kind in ("sources", "apps"):
            run = runs.get(f"BM_DownlinkV3Data/{kind}:{k}")
            cells += [fmt(ns(run)), f"{ns(run) / ns(base[kind]):.2f}"] if run and base[kind] else ["", ""]
        out.append(f"| {k:,} | {' | '.join(cells)} |")
    out += ["", f"![CPU ns per V3 data message against registry size]({plot_name})", ""]
    if counts:
        out += ["## Instructions per message (callgrind)", "",
                "`bench/callgrind.sh`: instructions executed inside `onPacket`/`onRequest`,",
                "without the host's `postAppEvent` and `sendRequest`, per message (per app for",
                "`BM_AppList/1000`); *module* counts the C and C++ runtime calls the module",
                "makes (allocation, copies), *self* only libsapp.so's own code.", "",
                "Callgrind counts each step of a repeated string instruction as one: glibc's",
                "`memcpy` and `memset` use `rep movsb` and `rep stosb` past about 2 KiB, so a long",
                "copy counts about one instruction per byte, where it takes a small part of that",
                "time (a vector's 1,000 ids, 4 KB, are zeroed and copied in 0.07 ns an id). A",
                "change that trades a long copy for a loop looks cheaper here and is slower: time",
                "it as well.", "",
                "| benchmark | module | self |", "|---|---:|---:|"]
        for name, module, self in counts:
            out.append(f"| `{name}` | {fmt(module)} | {fmt(self)} |")
        out.append("")
    if profile:
        out += profile_section(profile, runs)
    if budget:
        out += budget_section(budget, dict((name, module) for name, module, _ in counts))
    return "\n".join(out)


def profile_section(profile, runs):
    parts = ["module", "alloc", "copy", "host", "other"]
    out = ["## Where the instructions go", "",
           "`bench/profile.sh`: the instructions of `bench/callgrind.sh`'s *module* figure",
           "per message (per app for `BM_AppList/1000`), by where they run: *module*, libsapp.so's",
           "own code; *alloc*, malloc, free, operator new and delete; *copy*, memcpy, memmove",
           "and memset; *host*, the host's functions the module calls on the way (the packet's",
           "getUri, getResCode and unmarshal, the user info, the log sink); *other*, the C++",
           "runtime's helpers (tree balancing). Then the module's costliest functions.",
           "`BM_AppListEvent/1000` and `BM_AppListDecode/1000` are counted inside the bench",
           "host's `buildAppListEvent` and `decodeAppList`; their *module* is that code (for",
           "the decode, the module's own records, compiled into `sapp-bench`).", "",
           "| benchmark | module | alloc | copy | host | other | total | allocs |",
           "|---|---:|---:|---:|---:|---:|---:|---:|"]
    for name, entry in profile.items():
        cells = [entry["parts"].get(p, 0.0) for p in parts]
        out.append(f"| `{name}` | " + " | ".join(fmt(c) for c in cells)
                   + f" | {fmt(sum(cells))} | {allocs(runs.get(name))} |")
    out += ["", "| benchmark | costliest functions of the module (instructions per message) |", "|---|---|"]
    for name, entry in profile.items():
        out.append(f"| `{name}` | " + ", ".join(f"`{f}` {fmt(v)}" for v, f in entry["top"]) + " |")
    out += ["", "### The floor of each kind", "",
            "What no implementation can leave out, with the figures above:", "",
            "- **Data messages** (`BM_DownlinkV3Data`, `BM_DownlinkV2Data`): the copy of the 256",
            "  message bytes into the event the host receives (*copy*), the host's packet calls",
            "  (*host*), reading the carrier's fields (for V3 eleven, for V2 eight and the",
            "  payload's header and body) and two hash probes, the source's sequence number and",
            "  the app's entry. The event's storage is kept from one message to the next, so a",
            "  message allocates nothing: below the floor of a copy plus the event's own",
            "  allocation (about 150 instructions of malloc and free) that a fresh event has.",
            "  What is left above copy and host is the module's walk: the carrier's read",
            "  (`Record<>::unmarshal`, about 5 instructions a field), the routing, the two",
            "  probes and the event's post.",
            "- **Uplinks** (`BM_UplinkV3`, `BM_UplinkV2/8`): one probe of the registry, the copy",
            "  of the client's bytes into the request record (V2: packed into the payload, then",
            "  into the record, *copy*), and one `sendRequest` per proxy. The records are kept",
            "  too: no allocation."] + app_list_floor(profile) + [""]
    return out


def app_list_floor(profile):
    """The app list's bullet of "The floor of each kind", from bench/profile.sh's parts."""
    def parts(name):
        entry = profile.get(name)
        if not entry:
            return None
        p = entry["parts"]
        total = sum(p.values())
        return {"total": total, "alloc": p.get("alloc", 0.0), "rest": total - p.get("alloc", 0.0)}

    def bullet(text, level=0):
        indent = "  " * level
        return textwrap.wrap(text, width=86, initial_indent=indent + "- ", subsequent_indent=indent + "  ")

    module, floor, decode = parts("BM_AppList/1000"), parts("BM_AppListEvent/1000"), parts("BM_AppListDecode/1000")
    out = bullet(
        "**App lists** (`BM_AppList/1000`): the event carries the whole decoded list, so its "
        "construction is the floor: per app a map node, two strings past the short string buffer, "
        "the version list and its string and the proxy list, six allocations in all (*allocs*), "
        "their copies, and freeing them after the post. `BM_AppListEvent/1000` measures that floor: "
        "the bench host copies each pack of a list already read into the packs the event carries, "
        "lists the ids, moves each proxy list into a kept table as the registry keeps them and "
        "frees the packs. No wire is read, nothing is checked, looked up or logged, and the heap "
        "goes through what it goes through in `BM_AppList/1000` (a fresh session per list, the one "
        "before torn down).")
    if not (module and floor and decode):
        return out + ["  (Run `bench/profile.sh` with the three benchmarks for the figures.)"]
    gap = module["total"] - floor["total"]
    read = decode["rest"] - floor["rest"]
    out += bullet(f"The floor costs {fmt(floor['total'])} per app: {fmt(floor['alloc'])} in *alloc*, "
                  f"{fmt(floor['rest'])} besides.", 1)
    out += bullet(f"The module costs {fmt(module['total'])}, {module['total'] / floor['total']:.2f} times the "
                  f"floor: {fmt(module['alloc'])} in *alloc*, the same six allocations in the same order "
                  f"costing what they cost in the floor, and {fmt(module['rest'])} besides. The {fmt(gap)} "
                  "above the floor are the module's own work:", 1)
    out += bullet("reading the wire instead of copying values already read: `BM_AppListDecode/1000` "
                  f"decodes the same list and frees it for {fmt(decode['rest'])} outside *alloc*, "
                  f"{fmt(read)} more than the floor's copies. About 29 bounds-checked reads per app, each "
                  "string's length among them, make some 150 of those; the rest is the decoder's own: the "
                  "version list's reader, each element built before it is read, the map's insertion;", 2)
    out += bullet("the per-app log line it must make (\"AppMgr, sid/app_id=\"), which asks the host's "
                  "sink twice even with the log off: about 70, half of them the host's two answers;", 2)
    out += bullet("the claim, the registry slot and the pack's application, whose proxy list moves into "
                  "the registry instead of being copied, and the list of claimed ids: about 170.", 2)
    out += bullet("The heap's part depends on what the heap went through before, not on the module "
                  "alone: the decode alone, lists decoded and freed in turn, spends "
                  f"{fmt(decode['alloc'])} in *alloc* on the same six allocations; the floor spent 2,118 "
                  "while it reserved its two lists before the copies instead of after them; keeping the "
                  "sessions instead of tearing them down made the module's 2,195 (both measured once, "
                  "not committed).", 1)
    if module["total"] <= 3000:
        out += bullet(f"So the target of 3,000 per app, {fmt(3000 - floor['total'])} above this floor, is "
                      f"met: the module spends {fmt(gap)} above the floor, {3000 - module['total']:.0f} "
                      "under the target.", 1)
    else:
        out += bullet(f"So the target of 3,000 per app lies {fmt(3000 - floor['total'])} above this floor, "
                      f"where the module now spends {fmt(gap)}: it is not met. Meeting it takes "
                      f"{fmt(module['total'] - 3000)} fewer, out of the decoder's and the registry's own work "
                      "(the reads themselves and the log's host calls stay).", 1)
    return out


def budget_section(budget, measured):
    tolerance = budget["tolerance_percent"]
    out = ["## Cost budget", "",
           "`bench/budget.json` holds the module's instructions per message (per app for",
           "`BM_AppList/1000`) for five benchmarks, counted as above but with fewer",
           "iterations (`bench/callgrind.sh --quick`, about 10 s). CI's Linux part",
           "(`scripts/test.sh`, step `bench/budget.sh`) builds the `bench` preset's",
           f"`sapp-bench`, counts them and fails when one is more than {tolerance} % over its",
           f"budget, or more than {tolerance} % under it: a change that makes the module",
           "cheaper lowers the budget in the same commit, so that the next change cannot",
           "spend the saving unseen. The counts depend on the binary and its input only,",
           "not on the machine's load."] + ([
               "*This run* repeats the table above, counted with more iterations; the two",
               "counts can differ by about 1 %."] if measured else []) + ["",
           "| benchmark | budget | fails above | fails below |" + (" this run |" if measured else ""),
           "|---|---:|---:|---:|" + ("---:|" if measured else "")]
    for name, value in budget["budgets"].items():
        row = f"| `{name}` | {fmt(value)} | {fmt(value * (1 + tolerance / 100))} | {fmt(value * (1 - tolerance / 100))} |"
        if measured:
            row += f" {fmt(measured[name])} |" if name in measured else " |"
        out.append(row)
    out += ["", "To update the budget after a change that moves a count on purpose:", "",
            "```sh",
            "cmake --preset bench && cmake --build --preset bench --target sapp-bench",
            "bench/budget.sh              # the check CI runs: budget, count, change, verdict",
            "bench/budget.sh --update     # writes the counts into bench/budget.json",
            "scripts/bench.sh --callgrind # and regenerates this page",
            "```", "",
            "and commit `bench/budget.json` with the change, saying in the message why the",
            "cost moved. A raise needs a reason the review accepts; a new compiler that",
            "moves every count is one. To budget another benchmark, add its name to the",
            "file and run `--update`.", ""]
    return out


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("json")
    parser.add_argument("--compiler", default="unknown compiler")
    parser.add_argument("--markdown", required=True)
    parser.add_argument("--plot", required=True)
    parser.add_argument("--callgrind")
    parser.add_argument("--budget", help="bench/budget.json, shown with its figures")
    parser.add_argument("--profile", help="bench/profile.sh's output")
    args = parser.parse_args()
    context, runs = load(args.json)
    if not runs:
        sys.exit(f"{args.json}: no benchmark results")
    counts = []
    if args.callgrind:
        with open(args.callgrind) as f:
            counts = [(p[0], float(p[1]), float(p[2])) for p in (line.split() for line in f) if len(p) == 3]
    plot(runs, args.plot)
    budget = None
    if args.budget:
        with open(args.budget) as f:
            budget = json.load(f)
    profile = {}
    if args.profile:
        with open(args.profile) as f:
            for line in f:
                p = line.split(maxsplit=3)
                if len(p) < 3:
                    continue
                entry = profile.setdefault(p[0], {"parts": {}, "top": []})
                if p[1] == "top" and len(p) == 4:
                    entry["top"].append((float(p[2]), p[3].strip()))
                elif p[1] != "top":
                    entry["parts"][p[1]] = float(p[2])
    text = markdown(context, runs, args.compiler, os.path.basename(args.plot), counts, budget, profile)
    with open(args.markdown, "w") as f:
        f.write(text)


if __name__ == "__main__":
    main()
