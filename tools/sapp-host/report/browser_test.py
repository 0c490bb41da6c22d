#!/usr/bin/env python3
"""The HTML report, checked in a real browser.

Makes the report of the scenario folder with one scenario broken on purpose,
loads it from disk in a headless browser (--browser: Chromium through
ChromeDriver, or Firefox through Marionette; browsers.py) and checks in the
rendered page that:
  - the page opens on the failing step, which is marked there and in the
    diagram, and shows the field that differs with both values;
  - the diagram has one arrow per drawn trace line (recv, send, event,
    answer, watch) of every scenario, counted from `sapp-host run --json`;
  - selecting a field lights exactly its bytes (the app id's four bytes of a
    send, and a field inside a nested payload), and selecting a byte lights
    the innermost field that holds it;
  - Enter on a diagram arrow goes to its step;
  - the kind filter, the search and the session filter hide the lines they
    should;
  - the page loaded no resource, and (Chromium, whose driver shows the
    network and the console) asked for nothing but its own file and logged
    no error.
Saves screenshots of the page as it opens (NAME-open.png) and of the failing
step with its send's record open and the app id selected (--screenshot).
Prints the report's size and how
long the page took to render; asserts the size (under 2 MB), never the time.

Exit status 77 (CTest's skip) when the browser is not installed.
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
import time
import types
from pathlib import Path

sys.dont_write_bytecode = True  # no cache files in the source tree
sys.path.insert(0, str(Path(__file__).resolve().parent))
from browsers import BROWSERS, BrowserError  # noqa: E402

SKIP = 77
SKIP_HINTS = {
    "chromium": "The test needs Chromium and ChromeDriver (Debian: apt-get install chromium chromium-driver).",
    "firefox": "The test needs Firefox (Debian: apt-get install firefox-esr).",
}
BROKEN_FILE = "notices-add.json"
BROKEN_FROM = '"fields": {"appId": 7, "proxyIds": [70, 71], "data": "01"}'
BROKEN_TO = '"fields": {"appId": 7, "proxyIds": [70, 72], "data": "01"}'
# Text from a scenario is shown as text, never read as markup.
MARKUP = ' <b class="injected">bold?</b> & "quoted"'
DRAWN_AS_ARROWS = {"recv", "send", "event", "answer", "watch"}
FAILURES = []


def check(condition, what):
    print(("ok    " if condition else "FAIL  ") + what)
    if not condition:
        FAILURES.append(what)
    return condition


def drawn_lines(sapp_host, module, scenario):
    """{(step, line index within the step)} of the lines the diagram draws as arrows."""
    command = [sapp_host] + (["--module", module] if module else []) + ["run", str(scenario), "--json"]
    out = subprocess.run(command, capture_output=True, text=True).stdout
    drawn, step, index = set(), None, 0
    for text in out.splitlines():
        line = json.loads(text)
        kind = next(iter(line))
        if kind == "summary":
            break
        if kind == "step":
            step, index = line["step"]["index"], 0
            continue
        if kind in DRAWN_AS_ARROWS:
            drawn.add((step, index))
        index += 1
    return drawn


def check_failing_step(browser, t):
    # The failing step: where the page opened, marked, with its difference.
    state = browser.run("""
        const step = document.getElementById(arguments[0]);
        if (!step) return null;
        const box = step.getBoundingClientRect();
        return {hash: location.hash, result: step.dataset.result, failed: step.classList.contains('failed'),
                inView: box.top >= 0 && box.top < innerHeight,
                focused: step === document.activeElement || step.contains(document.activeElement),
                differences: [...step.querySelectorAll('.check[data-result=fail] .difference')]
                             .map(d => d.textContent),
                otherFailed: [...document.querySelectorAll('.step.failed')].map(s => s.id)};""", t.failing)
    if check(state is not None, f"step {t.failing} is in the page"):
        check(state["hash"] == "#" + t.failing, f"the page opens on the failing step (hash {state['hash']})")
        check(state["result"] == "fail" and state["failed"], "the failing step is marked failed")
        check(state["inView"] and state["focused"], "the failing step is in view and focused")
        check(any("proxyIds[1]" in d and "72" in d and "71" in d for d in state["differences"]),
              f"its failed check shows proxyIds[1]: expected 72, got 71 ({state['differences']})")
        check(state["otherFailed"] == [t.failing], f"no other step is marked failed ({state['otherFailed']})")
    shown = browser.run("""
        const section = document.getElementById(arguments[0]);
        return {title: section.querySelector('h2').textContent, injected: document.querySelectorAll('.injected').length};
        """, t.ids[BROKEN_FILE])
    check(MARKUP in shown["title"] and shown["injected"] == 0,
          f"markup in a scenario's name shows as text ({shown})")


def check_diagram(browser, t):
    # The diagram: one arrow per drawn line, the failing step's rows marked.
    arrows = browser.run("""
        return [...document.querySelectorAll('svg.diagram')].map(svg => ({
            scenario: svg.dataset.scenario,
            arrows: [...svg.querySelectorAll('g.arrow')].map(g => [g.dataset.step, g.dataset.line,
                                                                   g.classList.contains('failed')])}));""")
    by_scenario = {a["scenario"]: a["arrows"] for a in arrows}
    check(len(by_scenario) == len(t.files), f"one diagram per scenario ({len(by_scenario)} of {len(t.files)})")
    for f in t.files:
        sid = t.ids[f.name]
        drawn = drawn_lines(t.args.sapp_host, t.args.module, f)
        got = [(int(s), int(l)) for s, l, _ in by_scenario.get(sid, []) if l not in ("", None)]
        check(sorted(got) == sorted(drawn),
              f"{f.name}: one arrow per drawn trace line ({len(got)} arrows, {len(drawn)} lines)")
    marked = {s for s, _, failed in by_scenario.get(t.ids[BROKEN_FILE], []) if failed}
    check(marked == {"3"}, f"the diagram marks the failing step's rows only (steps {sorted(marked)})")


def check_field_bytes(browser, t):
    # Field <-> bytes in the failing step's send: PAppMsgToSDK sid, uid, appId: bytes 8..11 hold 7.
    # The screenshot shows that: the failing step, its record open, appId selected.
    lit = browser.run("""
        const step = document.getElementById(arguments[0]);
        const line = [...step.querySelectorAll('.line')].find(l => l.dataset.kind === 'send');
        line.querySelector('button').click();
        const record = line.querySelector('.record');
        record.querySelector('.field[data-path="appId"]').click();
        const bytes = [...record.querySelectorAll('.hex .byte.hl')].filter(b => b.closest('.record') === record);
        step.scrollIntoView({block: 'start'});
        return {offsets: bytes.map(b => +b.dataset.offset), text: bytes.map(b => b.textContent)};""", t.failing)
    check(lit["offsets"] == [8, 9, 10, 11], f"selecting appId lights bytes 8-11 only ({lit['offsets']})")
    check([b.strip().lower() for b in lit["text"]] == ["07", "00", "00", "00"],
          f"and those bytes hold app id 7 ({lit['text']})")
    Path(t.args.screenshot).write_bytes(browser.screenshot())
    fields = browser.run("""
        const record = document.getElementById(arguments[0]).querySelector('.record');
        record.querySelector('.hex .byte[data-offset="1"]').click();
        return [...record.querySelectorAll('.field.hl')].filter(f => f.closest('.record') === record)
            .map(f => f.dataset.path);""", t.failing)
    check(fields == ["sid"], f"selecting byte 1 lights the field sid ({fields})")


def check_nested_payload(browser, t):
    # A nested payload opens in place: step 2 of the broken scenario delivers PAddAppReq whose
    # appPacks hold app 7; its appId is the four bytes 07 00 00 00 of the payload's own dump.
    nested = browser.run("""
        const step = document.getElementById(arguments[0]);
        const line = [...step.querySelectorAll('.line')].find(l => l.dataset.kind === 'recv');
        line.querySelector('button').click();
        line.querySelector('.payload-toggle[data-path="appPacks"]').click();
        const field = line.querySelector('.field[data-path="apps.7.appId"]');
        field.click();
        const record = field.closest('.record');
        const bytes = [...record.querySelectorAll('.hex .byte.hl')].filter(b => b.closest('.record') === record);
        return {text: bytes.map(b => b.textContent.trim().toLowerCase()),
                nested: record !== line.querySelector('.record')};""", f"{t.ids[BROKEN_FILE]}-step2")
    check(nested["nested"], "a nested payload opens as a record of its own, in place")
    check(nested["text"] == ["07", "00", "00", "00"],
          f"selecting apps.7.appId lights its four bytes, 07 00 00 00 ({nested['text']})")


def check_keyboard(browser, t):
    # Keyboard: Enter on a diagram arrow opens its step.
    browser.run("""
        const g = document.querySelector('svg.diagram[data-scenario="s0"] g.arrow[data-step="2"]')
            || document.querySelector('svg.diagram[data-scenario="s0"] g.arrow');
        window.__target = g.dataset.step; g.focus();""")
    browser.keys("\ue007")
    target = browser.run("return ['s0-step' + window.__target, location.hash, document.activeElement.id]")
    check(target[1] == "#" + target[0] and target[2] == target[0],
          f"Enter on a diagram arrow goes to its step ({target[1]}, focus {target[2]})")


def wait_for(browser, script, *args, seconds=5):
    """The script's answer once it is truthy (the page may update a moment after an event), else its last."""
    deadline = time.monotonic() + seconds
    while True:
        answer = browser.run(script, *args)
        if answer or time.monotonic() > deadline:
            return answer
        time.sleep(0.05)


def check_filters(browser, t):
    # Filters: the kind filter hides exactly the log lines; the search, typed
    # into its box, keeps the lines that hold the text; the session filter
    # keeps one session's lines; clearing them shows every line again.
    browser.run("document.querySelector('.filter-kind[value=\"log\"]').click()")
    logs_only = wait_for(browser, """
        const lines = [...document.querySelectorAll('.line')];
        return lines.some(l => l.dataset.kind === 'log') &&
               lines.every(l => l.hidden === (l.dataset.kind === 'log'));""")
    check(logs_only, "the log filter hides log lines only")
    browser.run("document.querySelector('.filter-kind[value=\"log\"]').click();"
                "document.getElementById('search').focus()")
    browser.keys("pappmsgtosdk")
    matching = wait_for(browser, """
        const shown = [...document.querySelectorAll('.line')].filter(l => !l.hidden);
        return shown.length > 0 && shown.every(l => l.textContent.includes('PAppMsgToSDK'));""")
    check(matching, "the search (typed, in lower case) shows only lines that contain the text")
    browser.run("const box = document.getElementById('search'); box.value = '';"
                "box.dispatchEvent(new Event('input', {bubbles: true}));")
    browser.run("const select = document.getElementById('filter-session'); select.value = 'b';"
                "select.dispatchEvent(new Event('change', {bubbles: true}));")
    one_session = wait_for(browser, """
        const lines = [...document.querySelectorAll('.line')];
        return lines.some(l => l.dataset.session === 'b' && !l.hidden) &&
               lines.some(l => l.dataset.session === 'a') &&
               lines.every(l => !l.dataset.session || l.hidden === (l.dataset.session !== 'b'));""")
    check(one_session, "the session filter shows the lines of session b and hides those of the others")
    browser.run("const select = document.getElementById('filter-session'); select.value = '';"
                "select.dispatchEvent(new Event('change', {bubbles: true}));")
    restored = wait_for(browser, "return [...document.querySelectorAll('.line')].every(l => !l.hidden)")
    check(restored, "clearing the filters shows every line again")


def check_network(browser, t):
    # Nothing but the page itself was requested, nothing was loaded, and
    # nothing went wrong in it (where the browser's driver can tell).
    requests = browser.requests(t.url)
    if requests is not None:
        check(requests == {t.url}, f"the page requested nothing but itself ({sorted(requests)})")
    resources = browser.run("return performance.getEntriesByType('resource').map(e => e.name)")
    check(resources == [], f"no resource loaded ({resources})")
    errors = browser.errors()
    if errors is not None:
        check(errors == [], f"no error in the console ({errors})")


def group(checks, browser, t):
    """Runs one group of checks; an error the browser reports fails the group, not the run."""
    try:
        checks(browser, t)
    except BrowserError as e:
        check(False, f"{checks.__name__}: {e}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sapp-host", required=True)
    parser.add_argument("--module", default="")
    parser.add_argument("--scenarios", required=True)
    parser.add_argument("--work", required=True, help="a folder of this test's own, emptied first")
    parser.add_argument("--screenshot", required=True)
    parser.add_argument("--browser", choices=sorted(BROWSERS), default="chromium")
    args = parser.parse_args()

    kind = BROWSERS[args.browser]
    found = kind.find()
    if not found:
        print(f"SKIPPED: no {kind.name} here. " + SKIP_HINTS[args.browser])
        return SKIP

    work = Path(args.work).resolve()
    shutil.rmtree(work, ignore_errors=True)
    scenarios = work / "scenarios"
    shutil.copytree(args.scenarios, scenarios)
    broken = scenarios / BROKEN_FILE
    text = broken.read_text()
    if text.count(BROKEN_FROM) != 1:
        print(f"the test no longer knows how to break {BROKEN_FILE}: update BROKEN_FROM")
        return 1
    broken.write_text(text.replace(BROKEN_FROM, BROKEN_TO).replace(
        '"name": "notices: the session service adds apps (PAddAppReq)"',
        '"name": ' + json.dumps("notices: the session service adds apps (PAddAppReq)" + MARKUP), 1))

    report = work / "report.html"
    module = ["--module", args.module] if args.module else []
    made = subprocess.run([args.sapp_host] + module + ["report", str(scenarios), "-o", str(report)],
                          capture_output=True, text=True)
    check(made.returncode == 1, f"report exits 1 for a folder with a failing scenario (got {made.returncode})")
    if not check(report.is_file(), "report writes the page"):
        return 1
    size = report.stat().st_size
    print(f"report of {len(list(scenarios.glob('*.json')))} scenarios: {size:,} bytes")
    check(size < 2 * 1024 * 1024, "the report is under 2 MB")
    files = sorted(scenarios.glob("*.json"))
    ids = {f.name: f"s{i}" for i, f in enumerate(files)}
    failing = f"{ids[BROKEN_FILE]}-step3"

    browser = kind(found, str(work / "profile"))
    print(f"browser: {kind.name}")
    url = report.as_uri()
    t = types.SimpleNamespace(args=args, files=files, ids=ids, failing=failing, url=url)
    try:
        start = time.monotonic()
        browser.navigate(url)
        ready = False
        while time.monotonic() - start < 30 and not ready:
            ready = browser.run("return document.body && document.body.dataset.ready === '1'")
        check(ready, "the page renders (body data-ready)")
        print(f"page loaded and rendered in {time.monotonic() - start:.2f} s (WebDriver round trips included); "
              f"the page's own timing: " + json.dumps(browser.run(
                  "const n = performance.getEntriesByType('navigation')[0];"
                  "return {domContentLoaded: Math.round(n.domContentLoadedEventEnd),"
                  " load: Math.round(n.loadEventEnd)};")))
        opened = Path(args.screenshot)
        opened.with_name(opened.stem + "-open" + opened.suffix).write_bytes(browser.screenshot())

        group(check_failing_step, browser, t)
        group(check_diagram, browser, t)
        group(check_field_bytes, browser, t)
        group(check_nested_payload, browser, t)
        group(check_keyboard, browser, t)
        group(check_filters, browser, t)
        group(check_network, browser, t)
    finally:
        browser.close()

    print(f"{len(FAILURES)} failed" if FAILURES else "all passed")
    return 1 if FAILURES else 0


if __name__ == "__main__":
    sys.exit(main())
