#!/usr/bin/env python3
"""How long the report of a large session takes to open: a benchmark, run by hand.

Writes a scenario of N packets (default 10,000: an SDK V2 app, then by turns
a message down to it and one up from it, each a packet), makes its report
with sapp-host, opens it in headless Chromium (browsers.py) a few times and
prints, for each opening, when the page was ready and the page's own timing,
and how many elements the page holds; then it scrolls down through the
steps, 300 screens, one a frame, and prints the frames and the long tasks
(over 50 ms, which a user would feel as a stutter) that took. docs/report.md gives
the figures. The
browser test makes a smaller one of these to check the large report's lazy
drawing (large_scenario).

  large_report.py --sapp-host build/dev/bin/sapp-host [--packets 10000] [--runs 3]
"""
import argparse
import json
import subprocess
import sys
import tempfile
import time
from pathlib import Path

sys.dont_write_bytecode = True  # no cache files in the source tree
sys.path.insert(0, str(Path(__file__).resolve().parent))
from browsers import Chromium  # noqa: E402


def large_scenario(packets):
    """A scenario of `packets` packets, half of them received and half sent."""
    steps = [{"open": {"session": "a", "sid": 1}},
             {"event": {"session": "a", "type": 8002, "sid": 1, "uid": 11}},
             {"packet": {"sid": 1, "uri": 256978, "record": {"sid": 1, "appIds": [5], "appPacks": {"apps": {
                 "5": {"appId": 5, "proxyIds": [9], "sdkVersion": 2}}}}}}]
    for i in range(packets - 1):
        data = f"{i // 2:08x}"
        if i % 2 == 0:
            steps.append({"packet": {"sid": 1, "uri": 2585602, "record": {"proxyId": 9, "msgType": 1, "data": {
                "seqNum": i // 2 + 1, "appMsgType": 3, "appId": 5, "appData": data}}}})
        else:
            steps.append({"request": {"sid": 1, "appId": 5, "data": data}})
    return {"name": f"a session of {packets} packets", "host": {"databases": {"1": {"dwSGroupId": 1}}},
            "steps": steps}


# Scrolls the main column down 300 screens, one a frame, noting every frame and every
# long task on the way, and the elements the page holds at the end.
SCROLL = """return new Promise(done => {
  const main = document.getElementById('main'), long = [], frames = [];
  const observer = new PerformanceObserver(list => long.push(...list.getEntries().map(e => e.duration)));
  observer.observe({entryTypes: ['longtask']});
  let last = performance.now();
  const step = () => {
    const now = performance.now();
    frames.push(now - last);
    last = now;
    if (frames.length <= 300) {
      main.scrollTop += main.clientHeight;
      return requestAnimationFrame(step);
    }
    setTimeout(() => {
      observer.disconnect();
      frames.sort((a, b) => a - b);
      done({frames: frames.length, medianFrameMs: Math.round(frames[frames.length >> 1]),
            longTasks: long.length, longestTaskMs: Math.round(Math.max(0, ...long)),
            elements: document.querySelectorAll('*').length});
    }, 200);
  };
  requestAnimationFrame(step);
});"""


def wait_ready(browser, seconds=60):
    deadline = time.monotonic() + seconds
    while not browser.run("return document.body && document.body.dataset.ready === '1'"):
        if time.monotonic() > deadline:
            raise RuntimeError(f"the page was not ready within {seconds} s")
        time.sleep(0.02)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sapp-host", required=True)
    parser.add_argument("--module", default="")
    parser.add_argument("--packets", type=int, default=10000)
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    found = Chromium.find()
    if not found:
        print("needs " + Chromium.hint)
        return 1
    with tempfile.TemporaryDirectory() as work:
        work = Path(work)
        scenario = work / "large.json"
        scenario.write_text(json.dumps(large_scenario(args.packets)))
        report = work / "large.html"
        module = ["--module", args.module] if args.module else []
        start = time.monotonic()
        subprocess.run([args.sapp_host] + module + ["report", str(scenario), "-o", str(report)],
                       check=True, stdout=subprocess.DEVNULL)
        print(f"report of {args.packets} packets: {report.stat().st_size:,} bytes, "
              f"made in {time.monotonic() - start:.1f} s")
        for run in range(args.runs):
            browser = Chromium(found, str(work / f"profile{run}"))
            try:
                start = time.monotonic()
                browser.navigate(report.as_uri())
                wait_ready(browser)
                ready = time.monotonic() - start
                timing = browser.run("const n = performance.getEntriesByType('navigation')[0];"
                                     "return [Math.round(n.domContentLoadedEventEnd), Math.round(n.loadEventEnd),"
                                     " document.querySelectorAll('*').length, document.querySelectorAll('.trow').length]")
                print(f"run {run + 1}: ready after {ready:.2f} s (WebDriver round trips included); "
                      f"DOMContentLoaded {timing[0]} ms, load {timing[1]} ms; {timing[2]:,} elements, "
                      f"{timing[3]} list rows drawn")
                print("  scrolled through: " + json.dumps(browser.run(SCROLL)))
            finally:
                browser.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
