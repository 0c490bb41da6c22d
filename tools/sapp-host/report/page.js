// The script of `sapp-host report`: reads the report data embedded in the page and
// draws it: totals and filters, the list of scenarios, and per scenario its details,
// its sequence diagram (inline SVG) and its steps with their lines and checks.
//
// Speed: the page is built as HTML text and inserted once; nothing costly happens per
// line on load. A record's field tree and hex dump are built only when its line is
// opened, the lower-cased line texts only on the first search. A few listeners on the
// document handle every interaction.
'use strict';

const DATA = JSON.parse(document.getElementById('report-data').textContent);
const FILTERED_KINDS = ['send', 'event', 'log', 'recv'];  // the kinds the checkboxes filter
const RESULT_TEXT = { pass: 'passed', fail: 'failed', bad: 'bad scenario', crash: 'crashed', none: 'no checks' };
const TEXT_CLAMP = 240;   // characters of a line's text shown before its "more" button
const LINES = [];         // per .line, in document order: {data, el, shown, full, lower, note}
const LINE_OF = new WeakMap();  // .line element -> its entry in LINES

const ESCAPES = { '&': '&amp;', '<': '&lt;', '>': '&gt;', '"': '&quot;', "'": '&#39;' };
const esc = v => String(v).replace(/[&<>"']/g, c => ESCAPES[c]);
const json = v => JSON.stringify(v);
const given = v => v !== null && v !== undefined;
const byId = id => document.getElementById(id);
const stepId = (sid, index) => `${sid}-step${index}`;
const plural = (n, word) => `${n} ${word}${n === 1 ? '' : 's'}`;
const clip = (text, n) => text.length > n ? text.slice(0, n) + '…' : text;
const badge = r => `<span class="badge" data-result="${esc(r)}">${esc(RESULT_TEXT[r] || r)}</span>`;

// ---------------------------------------------------------------- header and scenario list

function renderHeader() {
  const steps = DATA.scenarios.reduce((n, s) => n + s.steps.length, 0);
  const firstBad = DATA.scenarios.find(s => s.result !== 'pass');
  const failed = firstBad ? `<a class="count" data-result="fail" href="#${esc(firstBad.id)}">${DATA.failed} failed</a>`
    : `<span class="count" data-result="none">${DATA.failed} failed</span>`;
  byId('totals').innerHTML = `<span class="count" data-result="pass">${DATA.passed} passed</span> ${failed} ` +
    `<span class="count-of">of ${plural(DATA.scenarios.length, 'scenario')}, ${plural(steps, 'step')}</span>`;
  const when = String(DATA.generated || '').replace('T', ' ').replace('Z', ' UTC');
  byId('meta').innerHTML = `module <code>${esc(DATA.module || '?')}</code> · ${esc(when)} · ${esc(DATA.tool || '')}`;
  // The session filter offers every session name any scenario uses.
  const sessions = [...new Set(DATA.scenarios.flatMap(s => s.sessions || []))].sort();
  byId('filter-session').insertAdjacentHTML('beforeend',
    sessions.map(n => `<option value="${esc(n)}">session ${esc(n)}</option>`).join(''));
}

// The left column: every scenario with its result, and under a failed one its failed steps.
function renderNav() {
  byId('nav').innerHTML = DATA.scenarios.map(s => {
    const failed = s.steps.filter(st => st.result === 'fail').map(st =>
      `<li><a href="#${stepId(s.id, st.index)}">step ${st.index} · ${esc(st.action)}</a></li>`).join('');
    return `<li><a class="nav-link" href="#${esc(s.id)}" data-result="${esc(s.result)}">` +
      `<span class="dot" aria-hidden="true"></span><span>${esc(s.name)}</span>` +
      `<span class="sr-only"> (${esc(RESULT_TEXT[s.result] || s.result)})</span></a>` +
      `${failed ? `<ol class="nav-steps">${failed}</ol>` : ''}</li>`;
  }).join('');
}

// ---------------------------------------------------------------- scenarios and steps

const foldButton = (body, what) =>
  `<button type="button" class="fold" aria-expanded="true" aria-controls="${body}" title="Fold or unfold" aria-label="Fold ${esc(what)}"></button>`;

function renderScenario(s) {
  const failed = s.steps.filter(st => st.result === 'fail').length;
  const counts = s.steps.length ? plural(s.steps.length, 'step') + (failed ? `, ${failed} failed` : '') : 'not played';
  const details = s.details.length ? `<div class="details">${s.details.map(d => `<pre>${esc(d)}</pre>`).join('')}</div>` : '';
  const steps = s.steps.length ? s.steps.map(st => renderStep(s, st)).join('')
    : `<p class="empty">No step was played: ${s.result === 'bad' ? 'the scenario file is invalid' : 'its process died'}.</p>`;
  const id = esc(s.id);
  return `<section class="scenario" id="${id}" data-scenario="${id}" data-result="${esc(s.result)}" aria-labelledby="${id}-name">
<header class="scenario-head">${foldButton(`${id}-body`, s.name)}<h2 id="${id}-name">${esc(s.name)}</h2>${badge(s.result)}
<p class="file"><code>${esc(s.file)}</code> · ${counts}</p></header>
<div class="scenario-body" id="${id}-body">${details}
<details class="diagram-box" open><summary>Sequence diagram</summary>${renderDiagram(s)}</details>
<div class="steps">${steps}</div></div></section>`;
}

function renderStep(s, st) {
  const id = stepId(s.id, st.index);
  // Checks name lines by effect index; the page addresses them by their index in "lines".
  const byEffect = new Map();
  st.lines.forEach((l, i) => { if (given(l.effect)) byEffect.set(l.effect, i); });
  const compared = new Set(st.checks.filter(c => !c.passed).map(c => byEffect.get(c.line)));
  const lines = st.lines.map((l, i) => renderLine(id, l, i, compared.has(i))).join('');
  const checks = st.checks.map(c => renderCheck(id, st, c, byEffect)).join('');
  // Off-screen steps skip layout (content-visibility, page.css) until they near the view;
  // a guess at their height keeps the scroll bar steady meanwhile.
  const guess = 70 + (st.note ? 22 : 0) + st.lines.length * 21 + (st.checks.length ? 26 + st.checks.length * 24 : 0);
  return `<article class="step${st.result === 'fail' ? ' failed' : ''}" id="${id}" data-scenario="${esc(s.id)}" ` +
    `data-step="${st.index}" data-result="${esc(st.result)}" tabindex="-1" aria-labelledby="${id}-h" style="contain-intrinsic-size:auto ${guess}px">
<header class="step-head">${foldButton(`${id}-body`, `step ${st.index}`)}
<h3 id="${id}-h">step ${st.index} <span class="action">${esc(st.action)}</span></h3>${badge(st.result)}
${st.diagram.length ? `<button type="button" class="to-diagram" data-step="${st.index}">in the diagram</button>` : ''}</header>
${st.note ? `<p class="step-note">${esc(st.note)}</p>` : ''}
<p class="input"><span class="label">input</span> <code>${esc(st.input)}</code></p>
<div class="step-body" id="${id}-body">
<div class="lines">${lines || '<p class="empty">No line: the step had no effect.</p>'}</div><p class="lines-note" hidden></p>
${checks ? `<div class="checks"><h4>Checks</h4>${checks}</div>` : ''}</div></article>`;
}

// One trace line. Its text starts with its kind (as `sapp-host run` prints it), which
// the kind column shows already, so that word is left out.
function renderLine(stepElId, l, i, compared) {
  let text = (l.text || '').trim();
  if (text.startsWith(l.kind)) text = text.slice(l.kind.length).trimStart();
  const shown = text.slice(0, TEXT_CLAMP);
  LINES.push({ data: l, el: null, shown, full: text, lower: null, note: null });
  const opener = l.record ? `<button type="button" class="open" aria-expanded="false" title="Fields and bytes">` +
    `<span class="sr-only">Fields and bytes of ${esc(l.record.name || 'the body')}</span></button>` : '';
  const more = shown.length < text.length ? `<button type="button" class="more">… ${text.length - shown.length} more characters</button>` : '';
  return `<div class="line${compared ? ' compared' : ''}" id="${stepElId}-line${i}" data-kind="${esc(l.kind)}" ` +
    `data-session="${esc(l.session || '')}" data-line="${i}">${opener}<span class="eff">${given(l.effect) ? `[${l.effect}]` : ''}</span>` +
    `<span class="kind">${esc(l.kind)}</span><span class="text">${esc(shown)}</span>${more}</div>`;
}

function renderCheck(stepElId, st, c, byEffect) {
  // A passed check shows the start of its pattern (one line); a failed one all of it.
  const pattern = given(c.pattern) ? `<code class="pattern">${esc(c.passed ? clip(json(c.pattern), 200) : json(c.pattern))}</code>` : '';
  let body = '';
  if (!c.passed) {
    const i = byEffect.get(c.line), l = st.lines[i];
    if (c.text) body += `<p class="check-text">${esc(c.text)}</p>`;
    if (given(c.line)) {
      const what = c.nearest ? 'No line matched; the nearest line of its kind' : 'Compared with line';
      const link = l ? `<a class="goto-line" href="#${stepElId}-line${i}" data-line="${i}">[${c.line}] ${esc(clip(l.text.trim(), 120))}</a>` : `[${c.line}]`;
      body += `<p class="check-line">${what}: ${link}</p>`;
    }
    // A difference in the fields of a line with a record links to that field's bytes.
    const prefix = l && l.record ? `${l.kind}.fields.` : null;
    const path = d => prefix && d.path.startsWith(prefix)
      ? `<button type="button" class="to-field" data-line="${i}" data-field="${esc(d.path.slice(prefix.length))}" ` +
        `title="Show this field's bytes"><code class="path">${esc(d.path)}</code></button>` : `<code class="path">${esc(d.path)}</code>`;
    // Either side of a difference can be absent: the line lacks the field, or has one the pattern does not name.
    const side = (d, key) => key in d ? `<code>${esc(clip(json(d[key]), 300))}</code>` : '<span class="absent">(absent)</span>';
    const diffs = (c.differences || []).map(d => `<div class="difference">${path(d)}` +
      `<span class="expected"><span class="label">expected</span> ${side(d, 'expected')}</span>` +
      `<span class="got"><span class="label">got</span> ${side(d, 'got')}</span></div>`).join('');
    if (diffs) body += `<div class="differences">${diffs}</div>`;
  }
  return `<div class="check" data-result="${c.passed ? 'pass' : 'fail'}"><div class="check-head">` +
    `<span class="mark" aria-hidden="true">${c.passed ? '✓' : '✗'}</span><span class="sr-only">${c.passed ? 'passed' : 'failed'}:</span>` +
    `<code class="check-label">${esc(c.label)}</code>${pattern}</div>${body}</div>`;
}

// ---------------------------------------------------------------- the sequence diagram

// Four fixed lifelines make the diagram a list of rows, one per Row of the data, each
// of a fixed height. Labels are monospace, so their width is known without measuring:
// a label longer than its room is cut, and its whole text is in the row's <title>.
const ACTORS = ['Server', 'Host', 'Module', 'Client'];
const DG = { width: 940, gutter: 52, row: 26, char: 7.25 };
const actorX = a => DG.gutter + (DG.width - DG.gutter) * (ACTORS.indexOf(a) + 0.5) / ACTORS.length;
const fit = (text, px) => text.length > Math.floor(px / DG.char) ? text.slice(0, Math.floor(px / DG.char) - 1) + '…' : text;

function renderDiagram(s) {
  let bands = '', body = '', n = 0, drawn = 0;
  s.steps.forEach(st => {
    if (!st.diagram.length) return;
    // A band behind each step's rows, so that steps read as groups.
    const cls = st.result === 'fail' ? 'band failed' : drawn++ % 2 ? 'band odd' : 'band';
    bands += `<rect class="${cls}" x="0" y="${6 + n * DG.row}" width="${DG.width}" height="${st.diagram.length * DG.row}"/>`;
    st.diagram.forEach((r, j) => { body += renderRow(st, r, j === 0, 6 + n++ * DG.row); });
  });
  const height = Math.max(n * DG.row + 12, 34);
  const heads = ACTORS.map(a => `<span style="left:${actorX(a)}px">${a}</span>`).join('');
  const lifelines = !n ? '' : ACTORS.map(a => `<line class="lifeline" x1="${actorX(a)}" y1="0" x2="${actorX(a)}" y2="${height}"/>`).join('');
  const empty = n ? '' : `<text class="empty" x="${DG.width / 2}" y="22">no diagram: nothing was played</text>`;
  return `<div class="diagram-frame"><div class="heads-clip"><div class="heads" style="width:${DG.width}px">${heads}</div></div>` +
    `<div class="diagram-scroll" style="contain-intrinsic-size:auto ${Math.min(height, 640)}px">` +
    `<svg class="diagram" data-scenario="${esc(s.id)}" width="${DG.width}" height="${height}" viewBox="0 0 ${DG.width} ${height}" ` +
    `role="group" aria-label="Sequence diagram of ${esc(s.name)}">${bands}${lifelines}${body}${empty}</svg></div></div>`;
}

function renderRow(st, r, first, y) {
  const failed = st.result === 'fail', note = r.type === 'note' || r.from === r.to;
  let shape;
  if (note) {  // a box over the lifeline
    const text = fit(r.text, 300), w = Math.min(text.length * DG.char + 14, 320);
    const left = Math.max(DG.gutter, Math.min(actorX(r.from) - w / 2, DG.width - w - 2));
    shape = `<rect class="note-box" x="${left}" y="${y + 3}" width="${w}" height="${DG.row - 6}" rx="3"/>` +
      `<text class="label" x="${left + w / 2}" y="${y + DG.row / 2 + 4}">${esc(text)}</text>`;
  } else {     // an arrow with its label above, kept inside the drawing
    const x1 = actorX(r.from), x2 = actorX(r.to), dir = Math.sign(x2 - x1), mid = y + DG.row - 8;  // mid: the arrow's height
    const text = fit(r.text, Math.abs(x2 - x1) + 120), half = text.length * DG.char / 2;
    const cx = Math.max(DG.gutter + half + 2, Math.min((x1 + x2) / 2, DG.width - half - 2));
    shape = `<line class="shaft${r.type === 'reply' ? ' reply' : ''}" x1="${x1}" y1="${mid}" x2="${x2 - dir * 7}" y2="${mid}"/>` +
      `<path class="head" d="M${x2} ${mid} l${-dir * 9} -4.5 v9 z"/><text class="label" x="${cx}" y="${mid - 5}">${esc(text)}</text>`;
  }
  // The step number in the gutter by a step's first row, with the failure marker.
  let gutter = '';
  if (first) gutter = `<text class="step-no" x="${failed ? 30 : 8}" y="${y + DG.row / 2 + 4}">${st.index}</text>` + (failed
    ? `<g class="fail-marker"><circle cx="14" cy="${y + DG.row / 2}" r="8"/><text x="14" y="${y + DG.row / 2 + 4}">!</text></g>` : '');
  // The <title> is the row's tooltip and, for assistive technology, its name.
  const what = note ? `note over ${r.from}` : `${r.from} to ${r.to}`;
  return `<g class="${r.type === 'note' ? 'note' : 'arrow'}${failed ? ' failed' : ''}" data-step="${st.index}" ` +
    `data-line="${given(r.line) ? r.line : ''}" tabindex="0" role="button">` +
    `<title>step ${st.index}${failed ? ' (failed)' : ''}, ${what}: ${esc(r.text)}</title>` +
    `<rect class="hit" x="0" y="${y}" width="${DG.width}" height="${DG.row}"/>${gutter}${shape}</g>`;
}

// ---------------------------------------------------------------- records: field tree and hex dump

// The two-digit hex and the ASCII column character of every byte value.
const HEX2 = Array.from({ length: 256 }, (_, b) => b.toString(16).padStart(2, '0'));
const ASCII = HEX2.map((_, b) => b >= 0x20 && b < 0x7f ? esc(String.fromCharCode(b)) : '·');
const TREE_OPEN_LIMIT = 300;  // records with more fields show only their top level at first
const HEX_BLOCK = 32;         // rows of 16 bytes per block of a hex dump
const VIEWS = new WeakMap();  // .record element -> its RecordView
let ACTIVE = null;            // the view whose bytes carry the highlight

function hexBytes(hex) {
  const out = new Uint8Array(hex.length >> 1);
  for (let i = 0; i < out.length; i++) out[i] = parseInt(hex.substr(i * 2, 2), 16);
  return out;
}

// How a scalar reads in the tree: byte strings (hex) also as text when printable.
function scalarText(v) {
  if (typeof v !== 'string' || !/^(?:[0-9a-f]{2})*$/i.test(v)) return esc(json(v));  // numbers, wide strings
  if (v === '') return '<span class="absent">empty</span>';
  const text = v.length <= 128 ? String.fromCharCode(...hexBytes(v)) : '';
  if (/^[\x20-\x7e]+$/.test(text)) return `${esc(json(text))} <span class="dim">0x${esc(v)}</span>`;
  return `0x${esc(clip(v, 64))} <span class="dim">${plural(v.length / 2, 'byte')}</span>`;
}

// The parent of a field path: "apps.7.versions[0]" -> "apps.7.versions" -> "apps.7"; "" at the top.
const parentPath = path => path.replace(/(?:\.[^.[\]]+|\[\d+\]|^[^.[\]]+)$/, '');

// One record (or nested payload) opened: its field tree and its hex dump, linked both
// ways through the byte ranges ("spans") of its fields.
class RecordView {
  constructor(rec, bytes, fields, title) {
    this.bytes = bytes;
    this.spans = rec.spans || [];
    this.spanByPath = new Map(this.spans.map(sp => [sp.path, sp]));
    this.payloadByPath = new Map((rec.payloads || []).map(p => [p.path, p]));
    this.values = new Map();  // path -> value, of folded containers and of payloads
    this.owner = null;        // per byte, the index of the innermost span holding it
    this.hl = null;           // {begin, end, field}: what has the class "hl" now
    this.selected = null;     // the selected .field
    this.cursor = -1;         // the byte the keyboard is on in the hex dump
    this.pending = 0;         // a scheduled return from a hover to the selection
    this.byteEls = [];        // per offset, its .byte and its ASCII .ch once built (plain arrays:
    this.charEls = [];        // live collections slow down with every class change)
    this.blocks = 0;          // blocks of the hex dump built so far
    const el = this.el = document.createElement('div');
    el.className = 'record';
    const open = this.spans.length <= TREE_OPEN_LIMIT;
    const tree = fields && typeof fields === 'object' ? `<ul class="tree-list">${this.treeHtml(fields, '', open)}</ul>`
      : '<p class="empty">No decoded fields.</p>';
    const error = rec.error ? ` · <span class="error">${esc(rec.error)}</span>` : '';
    el.innerHTML = `<p class="record-head">${title} · ${plural(bytes.length, 'byte')}${error}</p><div class="panes">` +
      `<div class="tree">${tree}</div><div class="hex" tabindex="0" role="group" aria-label="Bytes: arrow keys move, fields follow"></div></div>`;
    this.tree = el.querySelector('.tree');
    this.hex = el.querySelector('.hex');
    this.fillHex();
    VIEWS.set(el, this);
  }

  // The <li> nodes of the members of an object (fields, map entries) or of an array.
  treeHtml(value, prefix, open) {
    const entries = Array.isArray(value) ? value.map((v, i) => [`[${i}]`, `${prefix}[${i}]`, v])
      : Object.keys(value).map(k => [k, prefix ? `${prefix}.${k}` : k, value[k]]);
    return entries.map(([label, path, v]) => this.nodeHtml(label, path, v, open)).join('');
  }

  nodeHtml(label, path, v, open) {
    const sp = this.spanByPath.get(path), payload = this.payloadByPath.get(path);
    let summary, twisty = '<span class="twisty-none"></span>', after = '';
    if (payload) {  // a nested payload: a record of its own, opened in place on demand
      this.values.set(path, v);
      summary = `<span class="dim">${esc(payload.name)}</span>`;
      after = `<button type="button" class="payload-toggle" aria-expanded="false" data-path="${esc(path)}">` +
        `${esc(payload.name)}${payload.zipped ? ', inflated' : ''}</button><div class="payload-slot"></div>`;
    } else if (v !== null && typeof v === 'object') {  // a container, its children built when first unfolded
      const n = Array.isArray(v) ? v.length : Object.keys(v).length;
      summary = `<span class="dim">${Array.isArray(v) ? `[${n}]` : `{${n}}`}</span>`;
      if (n) {
        twisty = `<button type="button" class="twisty" aria-expanded="${open}" title="Fold or unfold"><span class="sr-only">${esc(label)}</span></button>`;
        if (!open) this.values.set(path, v);
        after = `<ul class="children"${open ? '>' + this.treeHtml(v, path, true) : ' data-lazy hidden>'}</ul>`;
      }
    } else summary = scalarText(v);
    const where = !sp ? '' : `<span class="range">${sp.end - sp.begin > 1 ? `${sp.begin}–${sp.end - 1}` : sp.end > sp.begin ? sp.begin : `at ${sp.begin}`}</span>`;
    return `<li>${twisty}<button type="button" class="field" data-path="${esc(path)}"${sp ? ` data-begin="${sp.begin}" data-end="${sp.end}"` : ''}>` +
      `<span class="k">${esc(label)}</span> <span class="v">${summary}</span>${where}</button>${after}</li>`;
  }

  // The hex dump, in blocks of HEX_BLOCK rows. A long body (a 64 KB record makes 131072
  // spans) is built a few blocks at a time after the first ones, so that opening it never
  // blocks the page; off-screen blocks skip layout (page.css). A block built after a
  // highlight was set is written with it.
  fillHex() {
    const n = this.bytes.length, total = Math.ceil(n / (16 * HEX_BLOCK));
    if (!n) return void (this.hex.innerHTML = '<p class="empty">no bytes</p>');
    const digits = Math.max(4, (n - 1).toString(16).length);
    const build = count => {
      let html = '';
      for (const stop = Math.min(total, this.blocks + count); this.blocks < stop; this.blocks++) {
        const first = this.blocks * 16 * HEX_BLOCK, last = Math.min(n, first + 16 * HEX_BLOCK);
        html += `<div class="hblock" style="contain-intrinsic-size:auto ${Math.ceil((last - first) / 16) * 18}px">`;
        for (let r = first; r < last; r += 16) html += this.rowHtml(r, Math.min(r + 16, n), digits);
        html += '</div>';
      }
      const from = this.hex.children.length;
      this.hex.insertAdjacentHTML('beforeend', html);
      for (let k = from; k < this.hex.children.length; k++) {
        this.byteEls.push(...this.hex.children[k].querySelectorAll('.byte'));
        this.charEls.push(...this.hex.children[k].querySelectorAll('.ch'));
      }
      if (this.blocks < total) setTimeout(() => build(16), 0);
    };
    build(4);
  }

  rowHtml(from, to, digits) {
    const b = this.bytes, hl = this.hl;
    let hx = '', asc = '';
    for (let i = from; i < to; i++) {
      const cls = hl && i >= hl.begin && i < hl.end ? ' hl' : '';
      hx += `<span class="byte${cls}" data-offset="${i}">${HEX2[b[i]]}</span>`;
      asc += `<span class="ch${cls}" data-offset="${i}">${ASCII[b[i]]}</span>`;
    }
    const off = from.toString(16).padStart(digits, '0');
    return `<div class="hrow"><span class="off">${off}</span><span class="hb">${hx}</span><span class="ha">${asc}</span></div>`;
  }

  // This view's own field button for a path (not one of a payload opened inside it).
  field(path) {
    for (const f of this.tree.querySelectorAll(`.field[data-path="${CSS.escape(path)}"]`))
      if (f.closest('.record') === this.el) return f;
    return null;
  }

  // The innermost field holding a byte. Spans list inner fields before the ones holding
  // them, so filling from the last span to the first leaves the innermost one per byte.
  spanAt(offset) {
    if (!this.owner) {
      this.owner = new Int32Array(this.bytes.length).fill(-1);
      for (let k = this.spans.length - 1; k >= 0; k--) this.owner.fill(k, this.spans[k].begin, Math.min(this.spans[k].end, this.bytes.length));
    }
    return this.spans[this.owner[offset]] || null;
  }

  // Gives exactly the bytes [begin, end) and the one field the class "hl", in this view
  // and in no other: the view shown last takes the highlight from the one before.
  show(begin, end, field) {
    if (ACTIVE && ACTIVE !== this) ACTIVE.mark(null);
    ACTIVE = this;
    end = Math.min(end, this.bytes.length);
    this.mark({ begin, end: Math.max(begin, end), field });
  }

  // Whole class names are written (much faster than classList calls over a 64 KB field);
  // bytes not built yet end the loops, as blocks are built in order.
  mark(next) {
    const hl = this.hl, bytes = this.byteEls, chars = this.charEls;
    if (hl && next && hl.begin === next.begin && hl.end === next.end && hl.field === next.field) return;
    if (hl) {
      for (let i = hl.begin; i < hl.end && bytes[i]; i++) { bytes[i].className = 'byte'; chars[i].className = 'ch'; }
      if (hl.field) hl.field.classList.remove('hl');
    }
    this.hl = next;
    if (!next) return;
    for (let i = next.begin; i < next.end && bytes[i]; i++) { bytes[i].className = 'byte hl'; chars[i].className = 'ch hl'; }
    if (next.field) next.field.classList.add('hl');
    if (bytes[this.cursor]) bytes[this.cursor].classList.add('cursor');
  }

  preview(begin, end, field) { cancelAnimationFrame(this.pending); this.show(begin, end, field); }

  // Back from a hover to the selection, a frame later, so that moving from one byte to
  // the next does not redo the selection in between.
  endPreview() {
    cancelAnimationFrame(this.pending);
    this.pending = requestAnimationFrame(() => {
      const f = this.selected;
      if (f && f.dataset.begin) this.show(+f.dataset.begin, +f.dataset.end, f); else this.show(0, 0, null);
    });
  }

  select(f) {
    cancelAnimationFrame(this.pending);
    if (this.selected) this.selected.classList.remove('sel');
    (this.selected = f).classList.add('sel');
    if (!f.dataset.begin) return this.show(0, 0, f);
    this.show(+f.dataset.begin, +f.dataset.end, f);
    this.scrollHexTo(+f.dataset.begin);
  }

  // Hovering a byte shows its innermost field, or the nearest unfolded field holding it.
  hoverByte(offset) {
    const sp = this.spanAt(offset);
    if (!sp) return this.preview(offset, offset + 1, null);
    let path = sp.path, f = this.field(path);
    while (!f && (path = parentPath(path))) f = this.field(path);
    this.preview(sp.begin, sp.end, f);
  }

  // Clicking a byte (or moving onto it with the keyboard) selects its innermost field,
  // unfolding the tree down to it.
  selectByte(offset) {
    if (this.byteEls[this.cursor]) this.byteEls[this.cursor].classList.remove('cursor');
    this.cursor = offset;
    const sp = this.spanAt(offset), f = sp && this.reveal(sp.path);
    if (f) {
      this.select(f);
      const box = this.tree.getBoundingClientRect(), r = f.getBoundingClientRect();
      if (r.top < box.top || r.bottom > box.bottom) f.scrollIntoView({ block: 'nearest' });
    } else {
      if (this.selected) this.selected.classList.remove('sel');
      this.selected = null;
      this.show(sp ? sp.begin : offset, sp ? sp.end : offset + 1, null);
    }
    if (this.byteEls[offset]) this.byteEls[offset].classList.add('cursor');
  }

  // Unfolds the containers holding a field, so that its button exists, and returns it.
  reveal(path) {
    const chain = [];
    for (let p = parentPath(path); p; p = parentPath(p)) chain.unshift(p);
    for (const p of chain) {
      const tw = this.field(p) && this.field(p).previousElementSibling;
      if (tw && tw.classList.contains('twisty') && tw.getAttribute('aria-expanded') !== 'true') this.toggle(tw);
    }
    return this.field(path);
  }

  // Folds or unfolds a container; its children are built when first unfolded.
  toggle(twisty) {
    const ul = twisty.parentElement.querySelector(':scope > .children'), open = twisty.getAttribute('aria-expanded') !== 'true';
    if (open && ul.hasAttribute('data-lazy')) {
      const path = twisty.nextElementSibling.dataset.path;
      ul.innerHTML = this.treeHtml(this.values.get(path), path, false);
      ul.removeAttribute('data-lazy');
    }
    twisty.setAttribute('aria-expanded', String(open));
    ul.hidden = !open;
  }

  // Opens a nested payload in place, under its field, as a record of its own: a zipped
  // payload brings its inflated bytes, any other is a run of the outer record's bytes.
  togglePayload(btn) {
    const slot = btn.nextElementSibling, open = btn.getAttribute('aria-expanded') !== 'true';
    if (open && !slot.firstChild) {
      const p = this.payloadByPath.get(btn.dataset.path);
      const bytes = p.zipped ? hexBytes(p.hex || '') : this.bytes.subarray(p.begin, p.end);
      const title = `<strong>${esc(p.name)}</strong> <span class="dim">${p.zipped
        ? '(zlib: the bytes below are the inflated ones)' : `(bytes ${p.begin}–${p.end - 1} of the record)`}</span>`;
      slot.appendChild(new RecordView(p, bytes, this.values.get(btn.dataset.path), title).el);
    }
    btn.setAttribute('aria-expanded', String(open));
    slot.hidden = !open;
    // A record holding an open payload stacks its tree above its bytes, to give it room.
    this.el.classList.toggle('stacked', [...this.tree.querySelectorAll('.payload-toggle[aria-expanded="true"]')]
      .some(b => b.closest('.record') === this.el));
  }

  scrollHexTo(offset) {
    const b = this.byteEls[offset];
    if (!b) return;
    const box = this.hex.getBoundingClientRect(), r = b.getBoundingClientRect();
    if (r.top < box.top || r.bottom > box.bottom) this.hex.scrollTop += r.top - box.top - 2 * r.height;
  }

  // Arrow keys, Page Up/Down, Home and End move over the bytes; the field under them follows.
  key(e) {
    const n = this.bytes.length, moves = { ArrowLeft: -1, ArrowRight: 1, ArrowUp: -16, ArrowDown: 16, PageUp: -256, PageDown: 256 };
    let to = e.key === 'Home' ? 0 : e.key === 'End' ? n - 1 : null;
    if (e.key in moves) to = this.cursor < 0 ? 0 : this.cursor + moves[e.key];
    if (to === null) return;
    e.preventDefault();
    if (!n) return;
    to = Math.max(0, Math.min(n - 1, to));
    this.selectByte(to);
    this.scrollHexTo(to);
  }
}

const viewOf = el => VIEWS.get(el.closest('.record'));

// Opens or closes the record of a line, building its view when first opened. Its bytes
// and fields are those of the trace line: a send, or a packet received.
function toggleRecord(btn) {
  const line = btn.closest('.line'), open = btn.getAttribute('aria-expanded') !== 'true';
  let detail = line.querySelector(':scope > .line-detail');
  if (open && !detail) {
    const l = LINE_OF.get(line).data, j = l.json || {}, body = j.send || (j.recv && j.recv.packet) || {};
    detail = document.createElement('div');
    detail.className = 'line-detail';
    detail.appendChild(new RecordView(l.record, hexBytes(body.hex || ''), body.fields,
      `<strong>${esc(l.record.name || 'a body without a record')}</strong>`).el);
    line.appendChild(detail);
  }
  btn.setAttribute('aria-expanded', String(open));
  detail.hidden = !open;
}

// Opens a line's record on a field (or on the nearest field holding it, as for a field
// inside a payload); focusing the field selects it.
function showField(line, path) {
  const btn = line.querySelector(':scope > .open');
  if (btn.getAttribute('aria-expanded') !== 'true') toggleRecord(btn);
  const view = VIEWS.get(line.querySelector('.record'));
  for (let p = path, f; p; p = parentPath(p)) if ((f = view.reveal(p))) return f.focus();
}

// ---------------------------------------------------------------- moving around

// Folds or unfolds a scenario or a step: the button names the body it controls.
function setFold(btn, open) {
  btn.setAttribute('aria-expanded', String(open));
  byId(btn.getAttribute('aria-controls')).hidden = !open;
}
const unfold = el => { const b = el && el.querySelector(':scope > header .fold'); if (b) setFold(b, true); };

// Restarts the short highlight that shows where a jump landed.
function flash(el) {
  el.classList.remove('flash');
  void el.getBoundingClientRect();  // so that the animation starts again
  el.classList.add('flash');
  setTimeout(() => el.classList.remove('flash'), 1600);
}

// Opens a step, scrolls to it, focuses it and flashes the line asked for (or its input).
// The address becomes the step's, replacing the current history entry.
function reveal(step, lineIndex) {
  unfold(step.closest('.scenario'));
  unfold(step);
  history.replaceState(null, '', '#' + step.id);
  step.scrollIntoView({ block: 'start' });
  const line = given(lineIndex) && lineIndex !== '' ? byId(`${step.id}-line${lineIndex}`) : null;
  if (line && !line.hidden) {
    if (line.getBoundingClientRect().bottom > window.innerHeight) line.scrollIntoView({ block: 'center' });
    flash(line);
  } else flash(step.querySelector('.input'));
  step.focus({ preventScroll: true });
}

const activateRow = g => reveal(byId(stepId(g.closest('svg').dataset.scenario, g.dataset.step)), g.dataset.line);

// Scrolls a diagram's own box so that a row shows.
function showRow(g) {
  const box = g.closest('.diagram-scroll'), y = g.querySelector('.hit').y.baseVal.value;
  if (y < box.scrollTop || y > box.scrollTop + box.clientHeight - 30) box.scrollTop = Math.max(0, y - 50);
}

// Following a link to a step, a line or a scenario: unfold what holds it, then go there.
function followHash() {
  const el = location.hash.length > 1 && byId(decodeURIComponent(location.hash.slice(1)));
  if (el && el.classList.contains('step')) reveal(el, null);
  else if (el && el.classList.contains('line')) reveal(el.closest('.step'), el.dataset.line);
  else if (el && el.classList.contains('scenario')) { unfold(el); el.scrollIntoView({ block: 'start' }); }
  else return false;
  return true;
}

// ---------------------------------------------------------------- filters

const filter = { session: '', kinds: new Set(FILTERED_KINDS), query: '' };
let marked = [];  // the lines whose text shows search marks

// A text with every case-insensitive occurrence of the query marked.
function markText(text, query) {
  const lower = text.toLowerCase();
  let out = '', at = 0, i;
  while (query && (i = lower.indexOf(query, at)) !== -1) {
    out += esc(text.slice(at, i)) + '<mark>' + esc(text.slice(i, i + query.length)) + '</mark>';
    at = i + query.length;
  }
  return out + esc(text.slice(at));
}

// Hides (attribute "hidden") every line the filters leave out. Steps stay, with a note
// of how many of their lines are hidden; the scenario list dims scenarios left with none.
function applyFilters() {
  const { session, kinds, query } = filter, notes = new Map(), seen = new Set();
  let shown = 0;
  for (const L of LINES) {
    const d = L.data;
    let ok = (!session || d.session === session) && (!FILTERED_KINDS.includes(d.kind) || kinds.has(d.kind));
    if (ok && query) ok = (L.lower = L.lower || (d.text || '').toLowerCase()).includes(query);
    if (L.el.hidden === ok) L.el.hidden = !ok;
    shown += ok;
    if (ok) seen.add(L.el.closest('.step').dataset.scenario);
    L.note = L.note || L.el.closest('.step-body').querySelector('.lines-note');
    const n = notes.get(L.note) || notes.set(L.note, { hidden: 0, total: 0 }).get(L.note);
    n.total++;
    n.hidden += !ok;
  }
  for (const [note, n] of notes) {
    note.hidden = !n.hidden;
    note.textContent = n.hidden ? `${n.hidden} of ${plural(n.total, 'line')} hidden by the filters.` : '';
  }
  for (const L of marked) L.el.querySelector('.text').textContent = L.shown;
  marked = query ? LINES.filter(L => !L.el.hidden) : [];
  for (const L of marked) L.el.querySelector('.text').innerHTML = markText(L.shown, query);
  const active = session || query || kinds.size < FILTERED_KINDS.length;
  byId('filter-count').textContent = active ? `${shown} of ${plural(LINES.length, 'line')} shown` : '';
  for (const a of document.querySelectorAll('.nav-link')) a.classList.toggle('no-match', !!active && !seen.has(a.hash.slice(1)));
}

function setUpFilters() {
  byId('filter-session').addEventListener('change', e => { filter.session = e.target.value; applyFilters(); });
  for (const box of document.querySelectorAll('.filter-kind')) box.addEventListener('change', () => {
    filter.kinds[box.checked ? 'add' : 'delete'](box.value);
    applyFilters();
  });
  let timer = 0;
  byId('search').addEventListener('input', e => {
    clearTimeout(timer);
    timer = setTimeout(() => { filter.query = e.target.value.trim().toLowerCase(); applyFilters(); }, 120);
  });
}

// ---------------------------------------------------------------- events

// Clicks, by the class of what was clicked.
const CLICKS = new Map(Object.entries({
  fold: el => setFold(el, el.getAttribute('aria-expanded') !== 'true'),
  open: toggleRecord,
  more: el => {  // the rest of a long line's text
    const L = LINE_OF.get(el.closest('.line'));
    el.previousElementSibling.innerHTML = markText(L.shown = L.full, filter.query);
    el.remove();
  },
  twisty: el => viewOf(el).toggle(el),
  'payload-toggle': el => viewOf(el).togglePayload(el),
  field: el => viewOf(el).select(el),
  byte: el => viewOf(el).selectByte(+el.dataset.offset),
  ch: el => viewOf(el).selectByte(+el.dataset.offset),
  'goto-line': (el, e) => { e.preventDefault(); reveal(el.closest('.step'), el.dataset.line); },
  'to-field': el => showField(byId(`${el.closest('.step').id}-line${el.dataset.line}`), el.dataset.field),
  'to-diagram': el => {  // from a step to its first row in the diagram
    const g = document.querySelector(`svg.diagram[data-scenario="${el.closest('.step').dataset.scenario}"] [data-step="${el.dataset.step}"]`);
    showRow(g);
    g.focus();
    flash(g);
  },
}));
document.addEventListener('click', e => {
  const row = e.target.closest('g.arrow, g.note');
  if (row) return activateRow(row);
  const el = e.target.closest('button, a.goto-line, .byte, .ch');
  const c = el && [...el.classList].find(name => CLICKS.has(name));
  if (c) CLICKS.get(c)(el, e);
});

// Enter or Space on a diagram row opens its step, Up and Down move between rows; keys
// on a hex dump move over its bytes.
document.addEventListener('keydown', e => {
  const t = e.target;
  if (t.matches && t.matches('g.arrow, g.note')) {
    const to = e.key === 'ArrowDown' ? t.nextElementSibling : e.key === 'ArrowUp' ? t.previousElementSibling : null;
    if (e.key === 'Enter' || e.key === ' ') activateRow(t);
    else if (to && to.matches('g.arrow, g.note')) { to.focus(); showRow(to); } else return;
    e.preventDefault();
  } else if (t.classList && t.classList.contains('hex')) viewOf(t).key(e);
});

// Hovering a field or a byte shows its bytes; leaving returns to the selection.
document.addEventListener('mouseover', e => {
  const el = e.target.closest && e.target.closest('.record .field, .byte, .ch');
  if (el && el.classList.contains('field')) { if (el.dataset.begin) viewOf(el).preview(+el.dataset.begin, +el.dataset.end, el); }
  else if (el) viewOf(el).hoverByte(+el.dataset.offset);
});
document.addEventListener('mouseout', e => {
  const el = e.target.closest && e.target.closest('.record .field, .byte, .ch');
  if (el) viewOf(el).endPreview();
});
// Moving the focus onto a field (Tab) selects it: its bytes follow the keyboard too.
document.addEventListener('focusin', e => { if (e.target.matches && e.target.matches('.record .field')) viewOf(e.target).select(e.target); });
window.addEventListener('hashchange', followHash);
// The lifeline heads sit outside the diagram's scrolling box: they follow it sideways.
document.addEventListener('scroll', e => {
  if (e.target.classList && e.target.classList.contains('diagram-scroll'))
    e.target.previousElementSibling.firstChild.style.transform = `translateX(${-e.target.scrollLeft}px)`;
}, true);

// ---------------------------------------------------------------- start

function start() {
  renderHeader();
  renderNav();
  byId('main').insertAdjacentHTML('beforeend', DATA.scenarios.map(renderScenario).join(''));
  document.querySelectorAll('.line').forEach((el, i) => { LINES[i].el = el; LINE_OF.set(el, LINES[i]); });
  setUpFilters();
  // Open on the first failing step (with none, on the first scenario that did not pass);
  // an address that already names a place wins.
  if (!followHash()) {
    const s = DATA.scenarios.find(x => x.steps.some(st => st.result === 'fail'));
    const bad = DATA.scenarios.find(x => x.result !== 'pass');
    if (s) {
      const g = document.querySelector(`svg.diagram[data-scenario="${s.id}"] g.failed`);
      if (g) showRow(g);
      reveal(byId(stepId(s.id, s.steps.find(x => x.result === 'fail').index)), null);
    } else if (bad) {
      history.replaceState(null, '', '#' + bad.id);
      byId(bad.id).scrollIntoView({ block: 'start' });
    }
  }
  document.body.dataset.ready = '1';
}

start();
