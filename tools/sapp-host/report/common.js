// The script of `sapp-host report`, in files that the build joins into the page's one
// script in this order: common.js (the data, its indexes and small helpers), table.js
// (the sortable lists: scenarios and packets), diagram.js (the sequence diagram),
// record.js (a record's field tree, hex dump and copy-out), packets.js (the packet
// lists and their record pane) and page.js (the page: header, scenarios, steps,
// filters, events; it starts everything once the whole script has run). It reads the
// report data embedded in the page and draws it.
//
// Speed: the page is built as HTML text and inserted in large pieces; nothing costly
// happens per line on load. A record's field tree and hex dump are built only when it
// is opened, the lower-cased line texts only on the first search. The lists draw only
// the rows in view. A large report (LAZY) draws its steps and diagram rows only as
// they come near the view. A few listeners on the document handle every interaction.
'use strict';

const DATA = JSON.parse(document.getElementById('report-data').textContent);
const FILTERED_KINDS = ['send', 'event', 'log', 'recv'];  // the kinds the checkboxes filter
const RESULT_TEXT = {
  pass: 'passed', fail: 'failed', bad: 'bad scenario', crash: 'crashed', timeout: 'timed out', none: 'no checks',
};
const TEXT_CLAMP = 240;   // characters of a line's text shown before its "more" button

const ESCAPES = { '&': '&amp;', '<': '&lt;', '>': '&gt;', '"': '&quot;', "'": '&#39;' };
const esc = v => String(v).replace(/[&<>"']/g, c => ESCAPES[c]);
const json = v => JSON.stringify(v);
const given = v => v !== null && v !== undefined;
const byId = id => document.getElementById(id);
const stepId = (sid, index) => `${sid}-step${index}`;
const plural = (n, word) => `${n} ${word}${n === 1 ? '' : 's'}`;
const clip = (text, n) => text.length > n ? text.slice(0, n) + '…' : text;
const badge = r => `<span class="badge" data-result="${esc(r)}">${esc(RESULT_TEXT[r] || r)}</span>`;
// Virtual time, kept in ms, shown in seconds as the clock steps of the scenarios read.
const seconds = ms => (ms / 1000).toFixed(3);
// A URI as the trace gives it, and as number|service (the low byte is the service).
const uriParts = uri => `${uri >>> 8}|${uri & 0xff}`;

// Every line, step and packet of the report, indexed once. A line's entry holds its
// element once its step is drawn, and whether the filters show it.
const SCENARIOS = new Map();  // id -> scenario data
const STEPS = [];             // per step: {s, st, lines: [line entries], el}
const LINES = [];             // per line, in order: {s, st, step, i, data, packet, el, shown, text, lower}
const PACKETS = [];           // per line with a record (send, recv): see packetOf
const LINE_OF = new WeakMap();  // .line element -> its entry

// A line's text without its kind, which a column shows already.
function lineText(l) {
  const text = (l.text || '').trim();
  return text.startsWith(l.kind) ? text.slice(l.kind.length).trimStart() : text;
}

// The packet of a line that carries a record: its place, time, way, session, URI,
// record, length and a one-line summary (its row in the diagram, without the record
// and URI that have columns of their own).
function packetOf(L, no, scenarioNo) {
  const l = L.data, j = l.json || {}, body = j.send || (j.recv && j.recv.packet) || {};
  const row = L.st.diagram.find(r => r.line === L.i);
  const name = l.record.name || '';
  let summary = row ? row.text : lineText(l);
  const prefix = `${name || 'body'} uri ${body.uri}`;  // as the diagram labels a record
  if (summary.startsWith(prefix)) summary = summary.slice(prefix.length).trim();
  return { no, scenarioNo, L, s: L.s, st: L.st, time: l.time || 0, dir: l.kind, session: l.session || '',
    uri: body.uri, record: name, length: (body.hex || '').length / 2, summary, scenario: L.s.name };
}

function indexData() {
  for (const s of DATA.scenarios) {
    SCENARIOS.set(s.id, s);
    s.packets = [];
    for (const st of s.steps) {
      const step = { s, st, lines: [], el: null };
      STEPS.push(step);
      st.lines.forEach((l, i) => {
        const L = { s, st, step, i, data: l, packet: null, el: null, shown: true, text: lineText(l), lower: null };
        LINES.push(L);
        step.lines.push(L);
        if (l.record) s.packets.push(L.packet = packetOf(L, PACKETS.length + 1, s.packets.length + 1));
        if (L.packet) PACKETS.push(L.packet);
      });
    }
  }
}
indexData();

// A large report draws its steps and diagram rows as they come near the view; a small
// one all at once, so that the browser's own find sees every line.
const LAZY = LINES.length > 3000;
