"""Writes docs/performance.md and its plot from sapp-bench's JSON output.

    /usr/bin/python3 bench/report.py BENCH.json --compiler TEXT --markdown OUT.md --plot OUT.svg
                                     [--callgrind COUNTS.txt]

COUNTS.txt is bench/callgrind.sh's output ("name module self" per line).
Run by scripts/bench.sh; needs Debian's python3-matplotlib.
"""

import argparse
import json
import os
import platform
import sys

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


def markdown(context, runs, compiler, plot_name, counts):
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
           "| benchmark | what | ns | × memcpy |", "|---|---|---:|---:|"]
    for name, what in MESSAGES:
        if name in runs:
            t = ns(runs[name])
            ratio = f"{t / memcpy:.1f}" if memcpy else ""
            out.append(f"| `{name}` | {what} | {fmt(t)} | {ratio} |")
    out += ["", "## App lists", "",
            "`BM_AppList/N`: one `PAddAppReq` announcing N apps (4 proxies, one version item",
            "each) on a fresh session; `BM_AppListDecode/N`: decoding its `PluginAppPackMap`",
            "alone; `BM_AppListProtobuf/N`: parsing the same list from protobuf bytes",
            "(`bench/applist.proto`).", "",
            "| N | AppList ns/app | Decode ns/app | Protobuf ns/app | decode ÷ protobuf |",
            "|---:|---:|---:|---:|---:|"]
    for n in LIST_SIZES:
        row = [runs.get(f"BM_AppList/{n}"), runs.get(f"BM_AppListDecode/{n}"), runs.get(f"BM_AppListProtobuf/{n}")]
        cells = [fmt(ns(r) / n) if r else "" for r in row]
        ratio = f"{ns(row[1]) / ns(row[2]):.2f}" if row[1] and row[2] else ""
        out.append(f"| {n:,} | {' | '.join(cells)} | {ratio} |")
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
                "| benchmark | module | self |", "|---|---:|---:|"]
        for name, module, self in counts:
            out.append(f"| `{name}` | {fmt(module)} | {fmt(self)} |")
        out.append("")
    return "\n".join(out)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("json")
    parser.add_argument("--compiler", default="unknown compiler")
    parser.add_argument("--markdown", required=True)
    parser.add_argument("--plot", required=True)
    parser.add_argument("--callgrind")
    args = parser.parse_args()
    context, runs = load(args.json)
    if not runs:
        sys.exit(f"{args.json}: no benchmark results")
    counts = []
    if args.callgrind:
        with open(args.callgrind) as f:
            counts = [(p[0], float(p[1]), float(p[2])) for p in (line.split() for line in f) if len(p) == 3]
    plot(runs, args.plot)
    text = markdown(context, runs, args.compiler, os.path.basename(args.plot), counts)
    with open(args.markdown, "w") as f:
        f.write(text)


if __name__ == "__main__":
    main()
