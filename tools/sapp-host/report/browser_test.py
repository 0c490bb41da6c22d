#!/usr/bin/env python3
"""The HTML report, checked in a real browser.

Makes the report of the scenario folder with two scenarios broken on purpose
(a send's proxy id, and the app data inside an SDK V2 payload), loads it from
disk in a headless browser (--browser: Chromium through Selenium, or Firefox
through Marionette; browsers.py) and checks in the rendered page:
  - it opens on the first failing step, marked there and in the diagram;
  - a failed check on a send shows expected and got side by side, the
    differing field's bytes marked in both, inside a nested payload too, its
    values as the field tree shows them, and the difference selects exactly
    that field in both;
  - the diagram has one arrow per drawn trace line of every scenario, counted
    from `sapp-host run --json`;
  - the packet list holds every packet `run --json` shows, in order, with the
    virtual time; it sorts, the filters (direction, URI, record, session)
    narrow it, the keyboard moves the selection, the selected packet's record
    shows below and Enter goes to its line;
  - copy-out: a record's hex, its `sapp-host decode` command (run, it prints
    the fields `run` showed) and its step JSON (played, it delivers the same
    bytes), for a packet received, a zipped payload and a send;
  - selecting a field lights exactly its bytes, in a nested payload too, and
    selecting a byte lights its field; Enter on a diagram arrow opens its step;
  - the summary sorts, and the totals stay in view;
  - the kind filter, the search (typed) and the session filter;
  - a step whose place in its file the data gives links to file:line;
  - a report too large to draw at once (2,400 packets) draws what comes into
    view, and its list still reaches every packet;
  - the page loaded no resource, and (Chromium, whose driver shows the
    network and the console) asked for nothing but its own file and logged
    no error.
Saves screenshots (--screenshot NAME.png): NAME-open.png, the page as it
opens; NAME-failure.png, a failed check side by side; NAME-list.png, the
packet list with a packet's record. Prints the report's size and how long
the page took to render; asserts the size (under 2 MB), never a time.

Exit status 77 (CTest's skip) when the browser is not installed.
"""
import argparse
import json
import shutil
import subprocess
import sys
import time
import types
from pathlib import Path

sys.dont_write_bytecode = True  # no cache files in the source tree
sys.path.insert(0, str(Path(__file__).resolve().parent))
from browsers import BROWSERS, BrowserError  # noqa: E402
from large_report import large_scenario, wait_ready  # noqa: E402

SKIP = 77
# Two scenarios broken on purpose: each replacement must match once.
BROKEN = {
    "notices-add.json": ('"fields": {"appId": 7, "proxyIds": [70, 71], "data": "01"}',
                         '"fields": {"appId": 7, "proxyIds": [70, 72], "data": "01"}'),
    "uplink.json": ('"sid": 1, "appData": "6869"}}}},', '"sid": 1, "appData": "6870"}}}},'),
}
FAILING = {"notices-add.json": 3, "uplink.json": 6}  # the step each breaks
# Text from a scenario is shown as text, never read as markup.
MARKUP = ' <b class="injected">bold?</b> & "quoted"'
DRAWN_AS_ARROWS = {"recv", "send", "event", "answer", "watch"}
LARGE = 2400  # packets of the large report: more lines than the page draws at once
FAILURES = []


def check(condition, what):
    print(("ok    " if condition else "FAIL  ") + what)
    if not condition:
        FAILURES.append(what)
    return condition


def sapp_host(t, *args, stdin=None):
    module = ["--module", t.args.module] if t.args.module else []
    return subprocess.run([t.args.sapp_host] + module + list(args), capture_output=True, text=True, input=stdin)


def run_json(t, scenario):
    """The trace lines of `sapp-host run --json`, each with its step index and index within the step."""
    lines, step, index = [], None, 0
    for text in sapp_host(t, "run", str(scenario), "--json").stdout.splitlines():
        line = json.loads(text)
        kind = next(iter(line))
        if kind == "summary":
            break
        if kind == "step":
            step, index = line["step"]["index"], 0
            continue
        lines.append((step, index, kind, line[kind]))
        index += 1
    return lines


def packets_of(lines):
    """The packets among trace lines: every send, and every recv of a packet that is not null."""
    out = []
    for step, index, kind, body in lines:
        packet = body if kind == "send" else body.get("packet") if kind == "recv" else None
        if isinstance(packet, dict):
            out.append(types.SimpleNamespace(step=step, index=index, kind=kind, uri=packet["uri"], hex=packet["hex"],
                                             fields=packet.get("fields"), record=packet.get("record")))
    return out


# The rows of a list as their cells' texts, every row, scrolled through as a user would.
LIST_ROWS = """
    const table = document.getElementById(arguments[0]), body = table.querySelector('.tbody'), rows = new Map();
    const frame = () => new Promise(r => requestAnimationFrame(() => requestAnimationFrame(r)));
    body.scrollTop = 0;
    for (;;) {
      await frame();
      for (const r of table.querySelectorAll('.tbody .trow'))
        rows.set(+r.getAttribute('aria-rowindex'), [...r.children].map(c => c.textContent.trim()));
      if (body.scrollTop + body.clientHeight >= body.scrollHeight - 1) break;
      body.scrollTop += body.clientHeight - 22;
    }
    return [...rows.entries()].sort((a, b) => a[0] - b[0]).map(e => e[1]);"""


def list_rows(browser, table):
    return browser.run("return (async () => {" + LIST_ROWS + "})()", table)


def set_filter(browser, select, value):
    browser.run("const s = document.getElementById(arguments[0]); s.value = arguments[1];"
                "s.dispatchEvent(new Event('change', {bubbles: true}));", select, value)


def check_failing_step(browser, t):
    # The first failing step: where the page opened, marked; the other failing step marked too.
    state = browser.run("""
        const step = document.getElementById(arguments[0]);
        if (!step) return null;
        const box = step.getBoundingClientRect(), main = document.getElementById('main').getBoundingClientRect();
        return {hash: location.hash, result: step.dataset.result, failed: step.classList.contains('failed'),
                atTop: box.top >= main.top && box.top < main.top + 40,
                focused: step === document.activeElement || step.contains(document.activeElement),
                failedSteps: [...document.querySelectorAll('.step.failed')].map(s => s.id)};""", t.failing[0])
    if check(state is not None, f"step {t.failing[0]} is in the page"):
        check(state["hash"] == "#" + t.failing[0], f"the page opens on the first failing step (hash {state['hash']})")
        check(state["result"] == "fail" and state["failed"], "the failing step is marked failed")
        check(state["atTop"] and state["focused"], "the failing step is at the top of the view and focused")
        check(sorted(state["failedSteps"]) == sorted(t.failing), f"the failing steps are marked, no other "
              f"({state['failedSteps']})")
    shown = browser.run("""
        const section = document.getElementById(arguments[0]);
        return {title: section.querySelector('h2').textContent, injected: document.querySelectorAll('.injected').length};
        """, t.ids["notices-add.json"])
    check(MARKUP in shown["title"] and shown["injected"] == 0, f"markup in a scenario's name shows as text ({shown})")


# The bytes marked as differing, and the selected field, in each side of a failed check.
COMPARE = """
    const check = [...document.getElementById(arguments[0]).querySelectorAll('.check[data-result=fail]')][0];
    return [...check.querySelectorAll('.compare-side > .record')].map(record => {
      const own = sel => [...record.querySelectorAll(sel)].filter(e => e.closest('.record') === record);
      return {title: record.querySelector('.record-head').textContent,
              diff: own('.hex .byte.diff').map(b => +b.dataset.offset),
              lit: own('.hex .byte.hl').map(b => +b.dataset.offset),
              bytes: own('.hex .byte').map(b => b.textContent),
              selected: own('.field.sel').map(f => f.dataset.path),
              diffFields: own('.field.diff').map(f => f.dataset.path)};
    });"""


def check_failure_view(browser, t):
    # A send's proxy id: PAppMsgToSDK is sid, uid, appId, seqNum (u32 each), reserved1 (u64), then
    # proxyIds: its count (u32) and u64 ids, so proxyIds[1] is bytes 36 to 43.
    sides = browser.run(COMPARE, t.failing[0])
    if check(len(sides) == 2, f"the failed check shows two records side by side ({len(sides)})"):
        expected, got = sides
        check("expected" in expected["title"] and "got" in got["title"], "expected on one side, got on the other")
        check(expected["diff"] == list(range(36, 44)) and got["diff"] == list(range(36, 44)),
              f"exactly proxyIds[1]'s bytes are marked in both ({expected['diff']}, {got['diff']})")
        differ = [i for i, (a, b) in enumerate(zip(expected["bytes"], got["bytes"])) if a != b]
        check(differ and set(differ) <= set(got["diff"]) and expected["bytes"][36] == "48" and got["bytes"][36] == "47",
              f"the bytes that differ (at {differ}) are among them: 72 expected, 71 got")
        check(expected["diffFields"] == ["proxyIds[1]"] == got["diffFields"],
              f"and so is the field in both trees ({expected['diffFields']}, {got['diffFields']})")
    # Inside a nested payload: the SDK V2 uplink's appData, the last four bytes of PUserMsg3 (its u16
    # length and the two bytes), shown as the tree shows bytes, "hi" and 0x6869.
    step = t.failing[1]
    text = browser.run("return document.getElementById(arguments[0]).querySelector('.check[data-result=fail] "
                       ".difference').textContent", step)
    check(all(s in text for s in ['send.fields.data.appData', '"hp"', '0x6870', '"hi"', '0x6869']),
          f"the difference reads as the tree does ({text})")
    browser.run("document.getElementById(arguments[0]).querySelector('.to-field').click()", step)
    sides = browser.run(COMPARE, step)
    if check(len(sides) == 2, "the payload's failed check shows two records side by side"):
        for name, side in zip(["expected", "got"], sides):
            last4 = list(range(len(side["bytes"]) - 4, len(side["bytes"])))
            check(side["diff"] == last4, f"{name}: exactly data.appData's bytes are marked ({side['diff']})")
            check(side["selected"] == ["data.appData"] and side["lit"] == last4,
                  f"{name}: the difference selects data.appData and lights its bytes ({side['selected']}, {side['lit']})")
        check(sides[0]["bytes"][-2:] == ["68", "70"] and sides[1]["bytes"][-2:] == ["68", "69"],
              f"the bytes read 68 70 expected and 68 69 got ({sides[0]['bytes'][-2:]}, {sides[1]['bytes'][-2:]})")
    if t.args.screenshot:  # wide enough for the two records side by side
        browser.resize(1560, 1000)
        check_id = browser.run("""const c = document.getElementById(arguments[0]).querySelector('.check[data-result=fail]');
            c.id = 'failure-shot'; return c.id;""", step)
        # Laid out again at the new size, the page is scrolled to the check once it stays put.
        wait_for(browser, """const c = document.getElementById(arguments[0]); c.scrollIntoView({block: 'start'});
            const top = c.getBoundingClientRect().top, was = window.__shotTop; window.__shotTop = top;
            return was === top;""", check_id)
        Path(t.shots["failure"]).write_bytes(browser.screenshot(check_id))
        browser.resize()


def check_diagram(browser, t):
    # The diagram: one arrow per drawn line, the failing steps' rows marked.
    arrows = browser.run("""
        return [...document.querySelectorAll('.diagram-scroll')].map(box => ({
            scenario: box.dataset.scenario,
            arrows: [...box.querySelectorAll('g.arrow')].map(g => [g.dataset.step, g.dataset.line,
                                                                   g.classList.contains('failed')])}));""")
    by_scenario = {a["scenario"]: a["arrows"] for a in arrows}
    check(len(by_scenario) == len(t.files), f"one diagram per scenario ({len(by_scenario)} of {len(t.files)})")
    for f in t.files:
        drawn = {(s, i) for s, i, kind, _ in t.lines[f.name] if kind in DRAWN_AS_ARROWS}
        got = [(int(s), int(i)) for s, i, _ in by_scenario.get(t.ids[f.name], []) if i not in ("", None)]
        check(sorted(got) == sorted(drawn), f"{f.name}: one arrow per drawn trace line ({len(got)} arrows, {len(drawn)} lines)")
    marked = {s for s, _, failed in by_scenario.get(t.ids["notices-add.json"], []) if failed}
    check(marked == {"3"}, f"the diagram marks the failing step's rows only (steps {sorted(marked)})")


def check_packet_list(browser, t):
    # Every packet of every scenario, in the order played, with its URI and length.
    rows = list_rows(browser, "packets-table")
    expected = [(f.name, p) for f in t.files for p in packets_of(t.lines[f.name])]
    check(len(rows) == len(expected), f"the packet list has one row per packet ({len(rows)} rows, {len(expected)} packets)")
    names = {t.names[f]: f for f in t.names}
    got = [(names.get(r[1], r[1]), int(r[5]), int(r[7])) for r in rows]
    check(got == [(f, p.uri, len(p.hex) // 2) for f, p in expected], "in the order played, each with its scenario, URI and length")
    # Virtual time: the app query is sent at once and again when its 5000 ms timer runs.
    retry = [r[2] for r in rows if names.get(r[1]) == "query-retry.json" and r[6] == "PGetAppsReq"]
    check(retry[:2] == ["0.000", "5.000"], f"the query's resend shows the virtual time 5.000 s ({retry})")

    # Sorting: by length, both ways, then back by number.
    browser.run("document.querySelector('#packets-table .sort[data-key=length]').click()")
    lengths = [int(r[7]) for r in list_rows(browser, "packets-table")]
    check(lengths == sorted(len(p.hex) // 2 for _, p in expected), "sorted by length, ascending")
    browser.run("document.querySelector('#packets-table .sort[data-key=length]').click()")
    lengths = [int(r[7]) for r in list_rows(browser, "packets-table")]
    check(lengths == sorted((len(p.hex) // 2 for _, p in expected), reverse=True), "and descending on a second click")
    browser.run("document.querySelector('#packets-table .sort[data-key=uri]').click()")
    uris = [int(r[5]) for r in list_rows(browser, "packets-table")]
    check(uris == sorted(p.uri for _, p in expected), "sorted by URI, as numbers")
    browser.run("document.querySelector('#packets-table .sort[data-key=no]').click()")
    check([int(r[0]) for r in list_rows(browser, "packets-table")] == list(range(1, len(expected) + 1)), "and back by number")

    # The filters narrow the list.
    for select, value, keep in [("filter-uri", "2585602", lambda f, p: p.uri == 2585602),
                                ("filter-dir", "recv", lambda f, p: p.kind == "recv"),
                                ("filter-record", "PAppMsgToSDK", lambda f, p: p.record == "PAppMsgToSDK")]:
        set_filter(browser, select, value)
        shown = list_rows(browser, "packets-table")
        want = [int(r[0]) for r in rows if keep(*expected[int(r[0]) - 1])]
        check([int(r[0]) for r in shown] == want, f"the {select[7:]} filter {value} leaves its {len(want)} packets ({len(shown)})")
        dimmed = browser.run("return [...document.querySelectorAll('.nav-link.no-match')].map(a => a.hash.slice(1))")
        without = [t.ids[f.name] for f in t.files if not any(keep(f.name, p) for p in packets_of(t.lines[f.name]))]
        check(sorted(dimmed) == sorted(without), f"and dims the {len(without)} scenarios left without a line ({len(dimmed)})")
        set_filter(browser, select, "*" if select == "filter-record" else "")
    set_filter(browser, "filter-session", "b")
    sessions = {r[4] for r in list_rows(browser, "packets-table")}
    check(sessions == {"b"}, f"the session filter leaves session b's packets ({sessions})")
    set_filter(browser, "filter-session", "")
    check(len(list_rows(browser, "packets-table")) == len(expected), "without filters every packet is back")

    # Selecting a row shows its record; Down moves on; Enter goes to its line with the record open.
    pane = """const pane = document.querySelector('#packets-slot .packet-pane'), r = pane.querySelector('.record');
        return r && {head: pane.querySelector('.packet-head').textContent, bytes: r.querySelectorAll('.hex .byte').length,
                     hex: [...r.querySelectorAll('.hex .byte')].map(b => b.textContent).join('')};"""
    browser.run("document.querySelector('#packets-table .tbody').scrollTop = 0")
    wait_for(browser, "return document.querySelector('#packets-table .tbody .trow[aria-rowindex=\"2\"]')")
    browser.run("document.querySelector('#packets-table .tbody .trow[aria-rowindex=\"2\"]').click()")
    first = wait_for(browser, pane)
    check(first and first["hex"] == expected[0][1].hex, f"clicking a row shows its record's bytes ({first and first['head']})")
    browser.keys("\ue015\ue015")  # Down, Down
    third = wait_for(browser, "const x = (() => {" + pane + "})(); return x && x.head.startsWith('No. 3') && x;")
    check(third and third["hex"] == expected[2][1].hex, "Down moves the selection, and the record follows")
    browser.keys("\ue013")  # Up
    second = wait_for(browser, "const x = (() => {" + pane + "})(); return x && x.head.startsWith('No. 2') && x;")
    check(second and second["hex"] == expected[1][1].hex, "Up moves it back")
    browser.keys("\ue015")  # Down
    browser.keys("\ue007")  # Enter
    f, p = expected[2]
    line_id = f"{t.ids[f]}-step{p.step}-line{p.index}"
    went = browser.run("""const line = document.getElementById(arguments[0]);
        return {hash: location.hash, open: !!(line && line.querySelector('.record'))};""", line_id)
    check(went["hash"] == f"#{t.ids[f]}-step{p.step}" and went["open"], f"Enter goes to its line with its record open ({went})")

    # A scenario's own list, made when first opened, numbers its packets from 1.
    f = "uplink.json"
    browser.run("const box = document.querySelector(`.packets-box[data-scenario=${arguments[0]}]`); box.open = true;", t.ids[f])
    wait_for(browser, "return document.getElementById(arguments[0])", f"{t.ids[f]}-packets")
    own = list_rows(browser, f"{t.ids[f]}-packets")
    mine = packets_of(t.lines[f])
    check([(r[0], int(r[4]), int(r[6])) for r in own] == [(str(k + 1), p.uri, len(p.hex) // 2) for k, p in enumerate(mine)],
          f"{f}'s own list holds its {len(mine)} packets, numbered from 1 ({len(own)} rows)")

    # The screenshot of the list: a received PUserMsg3 selected, its SDK V2 payload's appData lit.
    if t.args.screenshot:
        browser.run("document.getElementById('main').scrollTop = 0")
        data = lambda p: (p.fields or {}).get("data")
        k = next(k for k, (_, p) in enumerate(expected) if p.kind == "recv" and p.record == "PUserMsg3"
                 and isinstance(data(p), dict) and len(data(p).get("appData", "")) >= 4)
        browser.run("const body = document.querySelector('#packets-table .tbody'); body.focus();"
                    "body.scrollTop = Math.max(0, (arguments[0] - 4) * 22);", k)
        wait_for(browser, "return !!document.querySelector('#packets-table .trow[aria-rowindex=\"%d\"]')" % (k + 2))
        browser.run("document.querySelector('#packets-table .trow[aria-rowindex=\"%d\"]').click()" % (k + 2))
        wait_for(browser, "const h = document.querySelector('#packets-slot .packet-head');"
                          "return h && h.textContent.startsWith(arguments[0])", f"No. {k + 1} ")
        browser.run("document.querySelector('#packets-slot .packet-pane .field[data-path=\"data.appData\"]').click()")
        Path(t.shots["list"]).write_bytes(browser.screenshot("packets"))


def copy_out(browser, line_id, what, nested=None):
    """The text a copy-out button of a line's record (or of a zipped payload opened in it) gives."""
    return browser.run("""
        const line = document.getElementById(arguments[0]);
        const open = line.querySelector(':scope > .open');
        if (open.getAttribute('aria-expanded') !== 'true') open.click();
        let record = line.querySelector('.record');
        if (arguments[2]) {
          const toggle = record.querySelector(`.payload-toggle[data-path="${arguments[2]}"]`);
          if (toggle.getAttribute('aria-expanded') !== 'true') toggle.click();
          record = toggle.nextElementSibling.querySelector('.record');
        }
        record.querySelector(`:scope > .record-head .copy[data-what="${arguments[1]}"]`).click();
        return record.querySelector(':scope > .copied textarea').value;""", line_id, what, nested)


def check_copy_out(browser, t):
    # A received PAddAppReq (its payload not zipped), one whose payload is zipped, and an uplink send.
    cases = []
    for f, pick in [("notices-add.json", lambda p: p.kind == "recv" and p.record == "PAddAppReq"),
                    ("uplink.json", lambda p: p.kind == "send" and p.record == "PUserMsg3")]:
        cases.append((f, next(p for p in packets_of(t.lines[f]) if pick(p))))
    for f, p in cases:
        line_id = f"{t.ids[f]}-step{p.step}-line{p.index}"
        hex_text = copy_out(browser, line_id, "hex")
        check(hex_text == p.hex, f"{f} {p.record}: copy hex gives its bytes")
        command = copy_out(browser, line_id, "decode").split(" ")
        check(command[:2] == ["sapp-host", "decode"], f"copy decode gives a decode command ({' '.join(command)[:60]}...)")
        decoded = sapp_host(t, *command[1:])
        check(decoded.returncode == 0 and json.loads(decoded.stdout or "null") == p.fields,
              f"which prints the fields run showed ({decoded.returncode}: {decoded.stderr.strip()[:80]})")
        step = json.loads(copy_out(browser, line_id, "step"))
        scenario = t.work / "copied.json"
        scenario.write_text(json.dumps({"steps": [{"open": {"session": "a", "sid": step["packet"]["sid"]}}, step]}))
        played = [b for s, _, kind, b in run_json(t, scenario) if kind == "recv" and s == 1]
        check(len(played) == 1 and played[0]["packet"]["hex"] == p.hex,
              f"its step JSON, played by run, delivers the same bytes ({'record' in step['packet'] and 'by fields' or 'as hex'})")
    # A zipped payload copies its inflated bytes and a decode command for its record.
    zipped = next((s, i, b["packet"]) for s, i, kind, b in t.lines["notices-add.json"]
                  if kind == "recv" and isinstance(b.get("packet"), dict) and (b["packet"].get("fields") or {}).get("appPacksZipped"))
    line_id = f"{t.ids['notices-add.json']}-step{zipped[0]}-line{zipped[1]}"
    command = copy_out(browser, line_id, "decode", "appPacks").split(" ")
    decoded = sapp_host(t, *command[1:])
    check(command[2:4] == ["--record", "PluginAppPackMap"] and decoded.returncode == 0 and
          json.loads(decoded.stdout or "null") == zipped[2]["fields"]["appPacks"],
          "a zipped payload's decode command prints the payload's fields")


def check_field_bytes(browser, t):
    # Field <-> bytes in the failing step's send: PAppMsgToSDK sid, uid, appId: bytes 8..11 hold 7.
    lit = browser.run("""
        const step = document.getElementById(arguments[0]);
        const line = [...step.querySelectorAll('.line')].find(l => l.dataset.kind === 'send');
        const open = line.querySelector('.open');
        if (open.getAttribute('aria-expanded') !== 'true') open.click();
        const record = line.querySelector('.record');
        record.querySelector('.field[data-path="appId"]').click();
        const bytes = [...record.querySelectorAll('.hex .byte.hl')].filter(b => b.closest('.record') === record);
        return {offsets: bytes.map(b => +b.dataset.offset), text: bytes.map(b => b.textContent)};""", t.failing[0])
    check(lit["offsets"] == [8, 9, 10, 11], f"selecting appId lights bytes 8-11 only ({lit['offsets']})")
    check([b.strip().lower() for b in lit["text"]] == ["07", "00", "00", "00"], f"and those bytes hold app id 7 ({lit['text']})")
    fields = browser.run("""
        const record = document.getElementById(arguments[0]).querySelector('.line .record');
        record.querySelector('.hex .byte[data-offset="1"]').click();
        return [...record.querySelectorAll('.field.hl')].filter(f => f.closest('.record') === record)
            .map(f => f.dataset.path);""", t.failing[0])
    check(fields == ["sid"], f"selecting byte 1 lights the field sid ({fields})")
    # The arrow keys move over the bytes, the field under them following: from byte 1, Right
    # three times to byte 4 (uid), Down to byte 20 (reserved1, bytes 16 to 23).
    moved = []
    for keys in ["\ue014\ue014\ue014", "\ue015"]:
        browser.run("document.getElementById(arguments[0]).querySelector('.line .record .hex').focus()", t.failing[0])
        browser.keys(keys)
        moved.append(browser.run("""const record = document.getElementById(arguments[0]).querySelector('.line .record');
            return [+record.querySelector('.hex .byte.cursor').dataset.offset, record.querySelector('.field.sel').dataset.path];""",
                                 t.failing[0]))
    check(moved == [[4, "uid"], [20, "reserved1"]], f"the arrow keys move over the bytes and select their fields ({moved})")
    # A payload that is not zipped is part of its record: step 2 of the broken scenario delivers
    # PAddAppReq whose appPacks hold app 7; its appId is four bytes 07 00 00 00 of the record's own dump.
    nested = browser.run("""
        const step = document.getElementById(arguments[0]);
        const line = [...step.querySelectorAll('.line')].find(l => l.dataset.kind === 'recv');
        line.querySelector('.open').click();
        const record = line.querySelector('.record');
        const field = record.querySelector('.field[data-path="appPacks.apps.7.appId"]');
        field.click();
        const bytes = [...record.querySelectorAll('.hex .byte.hl')];
        return {text: bytes.map(b => b.textContent.trim().toLowerCase()), own: field.closest('.record') === record};
        """, f"{t.ids['notices-add.json']}-step2")
    check(nested["own"], "a payload that is not zipped shows its fields in its record's tree")
    check(nested["text"] == ["07", "00", "00", "00"], f"selecting appPacks.apps.7.appId lights its four bytes ({nested['text']})")


def check_keyboard(browser, t):
    # Enter on a diagram arrow opens its step.
    browser.run("""
        const g = document.querySelector('.diagram-scroll[data-scenario="s0"] g.arrow[data-step="2"]')
            || document.querySelector('.diagram-scroll[data-scenario="s0"] g.arrow');
        window.__target = g.dataset.step; g.focus();""")
    browser.keys("\ue007")
    target = browser.run("return ['s0-step' + window.__target, location.hash, document.activeElement.id]")
    check(target[1] == "#" + target[0] and target[2] == target[0], f"Enter on a diagram arrow goes to its step ({target[1]}, focus {target[2]})")


def check_summary(browser, t):
    steps = {t.names[f.name]: len(json.loads(f.read_text())["steps"]) for f in t.files}
    browser.run("document.querySelector('#summary-table .sort[data-key=steps]').click()")
    rows = list_rows(browser, "summary-table")
    counts = [int(r[3]) for r in rows]
    check(counts == sorted(counts) and len(rows) == len(t.files), f"the summary sorts by steps ({counts})")
    check(all(int(r[3]) == steps[r[1]] for r in rows), "each scenario with its number of steps")
    browser.run("document.querySelector('#summary-table .sort[data-key=k]').click()")
    rows = list_rows(browser, "summary-table")
    check([(r[0], r[1]) for r in rows] == [(str(k + 1), t.names[f.name]) for k, f in enumerate(t.files)],
          "sorted by number, the scenarios in the order played, numbered from 1")
    state = browser.run("""const main = document.getElementById('main'); main.scrollTop = main.scrollHeight;
        const top = document.querySelector('.top').getBoundingClientRect();
        return {scrolled: main.scrollTop > 1000, top: top.top, bottom: top.bottom, totals: document.getElementById('totals').textContent};""")
    check(state["scrolled"] and state["top"] == 0 and 0 < state["bottom"] < 200 and "2 failed" in state["totals"],
          f"scrolled to the end, the totals stay in view ({state})")


def wait_for(browser, script, *args, seconds=5):
    """The script's answer once it is truthy (the page may update a moment after an event), else its last."""
    deadline = time.monotonic() + seconds
    while True:
        answer = browser.run(script, *args)
        if answer or time.monotonic() > deadline:
            return answer
        time.sleep(0.05)


def check_filters(browser, t):
    # The kind filter hides exactly the log lines; the search, typed into its box, keeps the
    # lines that hold the text; the session filter keeps one session's lines; clearing them
    # shows every line again.
    browser.run("document.querySelector('.filter-kind[value=\"log\"]').click()")
    logs_only = wait_for(browser, """
        const lines = [...document.querySelectorAll('.line')];
        return lines.some(l => l.dataset.kind === 'log') && lines.every(l => l.hidden === (l.dataset.kind === 'log'));""")
    check(logs_only, "the log filter hides log lines only")
    total = sum(len(lines) for lines in t.lines.values())
    others = sum(1 for lines in t.lines.values() for line in lines if line[2] != "log")
    count = browser.run("return document.getElementById('filter-count').textContent")
    check(count == f"{others} of {total} lines shown", f"and says how many lines it leaves ({count})")
    browser.run("document.querySelector('.filter-kind[value=\"log\"]').click(); document.getElementById('search').focus()")
    browser.keys("pappmsgtosdk")
    matching = wait_for(browser, """
        const shown = [...document.querySelectorAll('.line')].filter(l => !l.hidden);
        return shown.length > 0 && shown.every(l => l.textContent.includes('PAppMsgToSDK'));""")
    check(matching, "the search (typed, in lower case) shows only lines that contain the text")
    marks = browser.run("return [...new Set([...document.querySelectorAll('.line:not([hidden]) mark')].map(m => m.textContent))]")
    check(marks == ["PAppMsgToSDK"], f"and marks it in them ({marks})")
    browser.run("const box = document.getElementById('search'); box.value = '';"
                "box.dispatchEvent(new Event('input', {bubbles: true}));")
    set_filter(browser, "filter-session", "b")
    one_session = wait_for(browser, """
        const lines = [...document.querySelectorAll('.line')];
        return lines.some(l => l.dataset.session === 'b' && !l.hidden) && lines.some(l => l.dataset.session === 'a') &&
               lines.every(l => !l.dataset.session || l.hidden === (l.dataset.session !== 'b'));""")
    check(one_session, "the session filter shows the lines of session b and hides those of the others")
    set_filter(browser, "filter-session", "")
    restored = wait_for(browser, "return [...document.querySelectorAll('.line')].every(l => !l.hidden) &&"
                                 " document.getElementById('filter-count').textContent === '' &&"
                                 " !document.querySelector('.line mark')")
    check(restored, "clearing the filters shows every line again, unmarked, and the count goes")


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


def check_source_links(browser, t):
    # Every step of a scenario file links to file:line of the step in that file: the links
    # name the file, run in file order, and each line:column is where a step's object opens.
    f = next(f for f in t.files if f.name == "uplink.json")
    text = f.read_text().split("\n")
    steps = len(json.loads(f.read_text())["steps"])
    links = browser.run("""
        return [...document.querySelectorAll(`article.step[data-scenario="${arguments[0]}"] a.src`)]
            .map(a => [a.textContent, a.title, a.href])""", t.ids[f.name])
    check(len(links) == steps, f"each of the {steps} steps of {f.name} has its link ({len(links)})")
    places = []
    for label, title, href in links:
        name, _, line = label.rpartition(":")
        column = title.rpartition("column ")[2]
        places.append((int(line), int(column)) if line.isdigit() and column.isdigit() else None)
        check(name == f.name and href == f.as_uri(), f"a step links to its file ({label}, {href})")
    check(None not in places and places == sorted(places) and len(set(places)) == len(places),
          f"the steps' places run in file order ({places})")
    opening = [text[line - 1][column - 1:column] for line, column in places if None not in places]
    check(opening == ["{"] * len(opening), f"each place is where a step opens ({opening})")


def check_large(browser, t):
    # A report with more lines than the page draws at once: steps and diagram rows are drawn
    # as they come into view, the list still reaches every packet, and Enter on its last
    # packet goes to a step that was not drawn before.
    scenario = t.work / "large.json"
    scenario.write_text(json.dumps(large_scenario(LARGE)))
    report = t.work / "large.html"
    sapp_host(t, "report", str(scenario), "-o", str(report))
    start = time.monotonic()
    browser.navigate(report.as_uri())
    wait_ready(browser)
    print(f"report of {LARGE} packets ({report.stat().st_size:,} bytes) ready in {time.monotonic() - start:.2f} s")
    last = [p for p in packets_of(run_json(t, scenario))][-1]
    state = browser.run("""return {steps: document.querySelectorAll('.step').length,
        pages: document.querySelectorAll('.step-page').length, rows: document.querySelectorAll('#packets-table .tbody .trow').length,
        count: +document.querySelector('#packets-table [role=grid]').getAttribute('aria-rowcount') - 1,
        lastDrawn: !!document.getElementById(arguments[0])};""", f"s0-step{last.step}")
    check(state["count"] == LARGE and state["rows"] < 60, f"the list holds {LARGE} packets and draws a few rows ({state['rows']})")
    check(0 < state["steps"] < 200 and not state["lastDrawn"], f"only the steps near the view are drawn ({state['steps']})")
    # The diagram is drawn in chunks: Up and Down move between rows across them, and stop at the ends.
    rows = browser.run("""const box = document.querySelector('.diagram-scroll');
        const chunks = box.querySelectorAll('.dchunk'), last = chunks[chunks.length - 1];
        return {chunks: chunks.length, drawn: box.querySelectorAll('.dchunk svg').length, total: +last.dataset.chunk + 1};""")
    check(rows["chunks"] > 2 and rows["drawn"] < rows["chunks"], f"the diagram draws only its chunks near the view ({rows})")
    def row_in_chunk(k, which):
        """Scrolls chunk k into view, waits until it is drawn, and focuses its first or last row."""
        browser.run("document.querySelector(`.diagram-scroll .dchunk[data-chunk='${arguments[0]}']`)"
                    ".scrollIntoView({block: 'nearest'})", k)
        wait_for(browser, "return document.querySelector(`.diagram-scroll .dchunk[data-chunk='${arguments[0]}'] svg`)", k)
        browser.run("const gs = document.querySelectorAll(`.diagram-scroll .dchunk[data-chunk='${arguments[0]}'] g[tabindex]`);"
                    "gs[arguments[1] === 'first' ? 0 : gs.length - 1].focus();", k, which)

    where = "const g = document.activeElement; return g.closest('.dchunk') && [+g.closest('.dchunk').dataset.chunk, +g.dataset.step]"
    row_in_chunk(1, "first")
    first = browser.run(where)
    browser.keys("\ue013")  # Up
    up = browser.run(where)
    browser.keys("\ue015")  # Down
    down = browser.run(where)
    check(up[0] == 0 and up[1] < first[1] and down == first,
          f"Up from a chunk's first row goes to the row before, in the chunk before; Down back ({first}, {up}, {down})")
    row_in_chunk(rows["chunks"] - 1, "last")
    end = browser.run(where)
    browser.keys("\ue015")  # Down
    check(browser.run(where) == end, f"Down on the last row stays there ({end})")

    browser.run("document.querySelector('#packets-table .tbody').focus()")
    browser.keys("\ue010")  # End
    shown = wait_for(browser, "const h = document.querySelector('#packets-slot .packet-head'); return h && h.textContent")
    check(shown and shown.startswith(f"No. {LARGE}"), f"End selects the last packet ({shown and shown[:30]})")
    browser.keys("\ue007")  # Enter
    went = wait_for(browser, """const line = document.getElementById(arguments[0]);
        if (!line) return null;
        const r = line.getBoundingClientRect();
        return {hash: location.hash, inView: r.top >= 0 && r.bottom <= innerHeight};""", f"s0-step{last.step}-line{last.index}")
    check(went and went["hash"] == f"#s0-step{last.step}" and went["inView"], f"Enter draws its step and goes to its line ({went})")


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
    parser.add_argument("--screenshot", help="NAME.png: where the screenshots go (NAME-open.png, ...)")
    parser.add_argument("--browser", choices=sorted(BROWSERS), default="chromium")
    args = parser.parse_args()

    kind = BROWSERS[args.browser]
    found = kind.find()
    if not found:
        print(f"SKIPPED: no {kind.name} here. The test needs " + kind.hint)
        return SKIP

    work = Path(args.work).resolve()
    shutil.rmtree(work, ignore_errors=True)
    scenarios = work / "scenarios"
    shutil.copytree(args.scenarios, scenarios)
    for name, (before, after) in BROKEN.items():
        text = (scenarios / name).read_text()
        if text.count(before) != 1:
            print(f"the test no longer knows how to break {name}: update BROKEN")
            return 1
        text = text.replace(before, after)
        if name == "notices-add.json":
            title = "notices: the session service adds apps (PAddAppReq)"
            text = text.replace(f'"name": "{title}"', '"name": ' + json.dumps(title + MARKUP), 1)
        (scenarios / name).write_text(text)

    files = sorted(scenarios.glob("*.json"))
    t = types.SimpleNamespace(args=args, files=files, work=work, ids={f.name: f"s{i}" for i, f in enumerate(files)})
    t.failing = [f"{t.ids[f]}-step{s}" for f, s in FAILING.items()]
    t.names = {f.name: json.loads(f.read_text()).get("name", str(f)) for f in files}
    t.lines = {f.name: run_json(t, f) for f in files}
    shot = Path(args.screenshot) if args.screenshot else None
    t.shots = {k: shot.with_name(f"{shot.stem}-{k}{shot.suffix}") for k in ("open", "failure", "list")} if shot else {}

    report = work / "report.html"
    made = sapp_host(t, "report", str(scenarios), "-o", str(report))
    check(made.returncode == 1, f"report exits 1 for a folder with failing scenarios (got {made.returncode})")
    if not check(report.is_file(), "report writes the page"):
        return 1
    size = report.stat().st_size
    print(f"report of {len(files)} scenarios: {size:,} bytes")
    check(size < 2 * 1024 * 1024, "the report is under 2 MB")

    browser = kind(found, str(work / "profile"))
    print(f"browser: {kind.name}")
    t.url, t.url_path = report.as_uri(), report
    try:
        start = time.monotonic()
        browser.navigate(t.url)
        try:
            wait_ready(browser, 30)
        except RuntimeError as e:
            check(False, str(e))
            return 1
        print(f"page loaded and rendered in {time.monotonic() - start:.2f} s (WebDriver round trips included); "
              f"the page's own timing: " + json.dumps(browser.run(
                  "const n = performance.getEntriesByType('navigation')[0];"
                  "return {domContentLoaded: Math.round(n.domContentLoadedEventEnd), load: Math.round(n.loadEventEnd)};")))
        if shot:
            t.shots["open"].write_bytes(browser.screenshot())

        for checks in [check_failing_step, check_failure_view, check_diagram, check_field_bytes, check_keyboard,
                       check_filters, check_packet_list, check_copy_out, check_summary, check_network,
                       check_source_links, check_large]:
            group(checks, browser, t)
    finally:
        browser.close()

    print(f"{len(FAILURES)} failed" if FAILURES else "all passed")
    return 1 if FAILURES else 0


if __name__ == "__main__":
    sys.exit(main())
