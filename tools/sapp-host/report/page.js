// The script of `sapp-host report`: reads the report data embedded in the page and
// draws it: totals and filters, the list of scenarios, and per scenario its details,
// its sequence diagram (inline SVG) and its steps with their lines and checks.
//
// Speed: the whole page is built as HTML text per scenario and inserted once, and
// nothing costly happens per line on load. A record's field tree and hex dump are
// only built when its line is opened; the lower-cased line texts only on the first
// search. Interaction is delegated to a few listeners on the document.
'use strict';

const DATA = JSON.parse(document.getElementById('report-data').textContent);
const FILTERED_KINDS = ['send', 'event', 'log', 'recv'];  // the kinds the checkboxes filter
const RESULT_TEXT = { pass: 'passed', fail: 'failed', bad: 'bad scenario', crash: 'crashed', none: 'no checks' };
const TEXT_CLAMP = 240;  // characters of a line shown before "more"
const LINES = [];        // per rendered .line, in document order: {data, el, shown, lower}

const ESCAPES = { '&': '&amp;', '<': '&lt;', '>': '&gt;', '"': '&quot;', "'": '&#39;' };
const esc = v => String(v).replace(/[&<>"']/g, c => ESCAPES[c]);
const json = v => JSON.stringify(v);
const badge = result => `<span class="badge" data-result="${esc(result)}">${esc(RESULT_TEXT[result] || result)}</span>`;
const stepId = (sid, index) => `${sid}-step${index}`;
const plural = (n, word) => `${n} ${word}${n === 1 ? '' : 's'}`;

// ---------------------------------------------------------------- header and navigation

function renderHeader() {
  const steps = DATA.scenarios.reduce((n, s) => n + s.steps.length, 0);
  const firstBad = DATA.scenarios.find(s => s.result !== 'pass');
  const failed = DATA.failed > 0 && firstBad
    ? `<a class="count" data-result="fail" href="#${esc(firstBad.id)}">${DATA.failed} failed</a>`
    : `<span class="count" data-result="${DATA.failed ? 'fail' : 'none'}">${DATA.failed} failed</span>`;
  document.getElementById('totals').innerHTML =
    `<span class="count" data-result="pass">${DATA.passed} passed</span> ${failed}` +
    `<span class="count-of">of ${plural(DATA.scenarios.length, 'scenario')}, ${plural(steps, 'step')}</span>`;
  const when = String(DATA.generated || '').replace('T', ' ').replace(/:\d\dZ$|Z$/, '') + ' UTC';
  document.getElementById('meta').innerHTML =
    `module <code>${esc(DATA.module || '?')}</code> · ${esc(when)} · ${esc(DATA.tool || '')}`;

  // The session filter offers every session name any scenario uses.
  const sessions = [...new Set(DATA.scenarios.flatMap(s => s.sessions || []))].sort();
  document.getElementById('filter-session').insertAdjacentHTML('beforeend',
    sessions.map(n => `<option value="${esc(n)}">session ${esc(n)}</option>`).join(''));
}

// The left column: every scenario with its result, and under a failed one its failed steps.
function renderNav() {
  document.getElementById('nav').innerHTML = DATA.scenarios.map(s => {
    const failedSteps = s.steps.filter(st => st.result === 'fail');
    const sub = failedSteps.length ? `<ol class="nav-steps">${failedSteps.map(st =>
      `<li><a href="#${stepId(s.id, st.index)}" data-result="fail">step ${st.index} · ${esc(st.action)}</a></li>`).join('')}</ol>` : '';
    return `<li><a class="nav-link" href="#${esc(s.id)}" data-result="${esc(s.result)}">` +
      `<span class="dot" aria-hidden="true"></span><span class="nav-name">${esc(s.name)}</span>` +
      `<span class="sr-only"> (${esc(RESULT_TEXT[s.result] || s.result)})</span></a>${sub}</li>`;
  }).join('');
}

// ---------------------------------------------------------------- scenarios and steps

function renderScenario(s) {
  const failedSteps = s.steps.filter(st => st.result === 'fail').length;
  const counts = s.steps.length ? `${plural(s.steps.length, 'step')}${failedSteps ? `, ${failedSteps} failed` : ''}` : 'not played';
  const details = s.details.length ? `<div class="details">${s.details.map(d => `<pre>${esc(d)}</pre>`).join('')}</div>` : '';
  const steps = s.steps.length ? s.steps.map(st => renderStep(s, st)).join('')
    : `<p class="empty">No step was played: ${s.result === 'bad' ? 'the scenario file is invalid' : 'its process died'} (see above).</p>`;
  return `<section class="scenario" id="${esc(s.id)}" data-scenario="${esc(s.id)}" data-result="${esc(s.result)}" aria-labelledby="${esc(s.id)}-name">
<header class="scenario-head">
<button type="button" class="fold" aria-expanded="true" aria-controls="${esc(s.id)}-body" title="Fold or unfold this scenario"><span aria-hidden="true"></span><span class="sr-only">Fold ${esc(s.name)}</span></button>
<h2 id="${esc(s.id)}-name">${esc(s.name)}</h2>${badge(s.result)}
<p class="file"><code>${esc(s.file)}</code> · ${counts}</p>
</header>
<div class="scenario-body" id="${esc(s.id)}-body">${details}
<details class="diagram-box" open><summary>Sequence diagram</summary>${renderDiagram(s)}</details>
<div class="steps">${steps}</div>
</div>
</section>`;
}

function renderStep(s, st) {
  const id = stepId(s.id, st.index);
  // Checks name lines by effect index; the page addresses them by their index in "lines".
  const byEffect = new Map();
  st.lines.forEach((l, i) => { if (l.effect !== null && l.effect !== undefined) byEffect.set(l.effect, i); });
  const compared = new Set(st.checks.filter(c => !c.passed).map(c => byEffect.get(c.line)));
  const lines = st.lines.map((l, i) => renderLine(id, l, i, compared.has(i))).join('');
  const checks = st.checks.map(c => renderCheck(id, st, c, byEffect)).join('');
  // Steps off screen are not laid out (content-visibility, page.css) until they near the
  // view; a guess at their height keeps the scroll bar steady meanwhile.
  const guess = 70 + (st.note ? 22 : 0) + st.lines.length * 21 + (st.checks.length ? 26 + st.checks.length * 24 : 0);
  return `<article class="step${st.result === 'fail' ? ' failed' : ''}" id="${id}" data-scenario="${esc(s.id)}" data-step="${st.index}" data-result="${esc(st.result)}" tabindex="-1" aria-labelledby="${id}-h" style="contain-intrinsic-size:auto ${guess}px">
<header class="step-head">
<button type="button" class="fold" aria-expanded="true" aria-controls="${id}-body" title="Fold or unfold this step"><span aria-hidden="true"></span><span class="sr-only">Fold step ${st.index}</span></button>
<h3 id="${id}-h">step ${st.index} <span class="action">${esc(st.action)}</span></h3>${badge(st.result)}
${st.diagram.length ? `<button type="button" class="to-diagram" data-step="${st.index}">in the diagram</button>` : ''}
</header>
${st.note ? `<p class="step-note">${esc(st.note)}</p>` : ''}
<p class="input"><span class="label">input</span> <code>${esc(st.input)}</code></p>
<div class="step-body" id="${id}-body">
<div class="lines">${lines || '<p class="empty">No line: the step had no effect.</p>'}</div>
<p class="lines-note" hidden></p>
${checks ? `<div class="checks"><h4>Checks</h4>${checks}</div>` : ''}
</div>
</article>`;
}

// One trace line. The readable text starts with its kind (as `sapp-host run` prints it),
// which the kind badge already shows, so the badge replaces it.
function renderLine(stepElId, l, i, compared) {
  let text = (l.text || '').replace(/^\s+/, '');
  if (text.startsWith(l.kind)) text = text.slice(l.kind.length).replace(/^\s+/, '');
  const shown = text.length > TEXT_CLAMP ? text.slice(0, TEXT_CLAMP) : text;
  LINES.push({ data: l, el: null, shown, full: text, lower: null });
  const rec = l.record;
  const opener = rec
    ? `<button type="button" class="open" aria-expanded="false" title="Fields and bytes"><span aria-hidden="true"></span><span class="sr-only">Show the fields and bytes of ${esc(rec.name || 'the body')}</span></button>`
    : '<span class="open-none"></span>';
  const more = shown.length < text.length
    ? `<button type="button" class="more">… ${text.length - shown.length} more characters</button>` : '';
  const eff = l.effect === null || l.effect === undefined ? '' : `[${l.effect}]`;
  return `<div class="line${compared ? ' compared' : ''}" id="${stepElId}-line${i}" data-kind="${esc(l.kind)}" data-session="${esc(l.session || '')}" data-line="${i}">` +
    `${opener}<span class="eff">${eff}</span><span class="kind">${esc(l.kind)}</span>` +
    `<span class="text">${esc(shown)}</span>${more}</div>`;
}

function renderCheck(stepElId, st, c, byEffect) {
  const result = c.passed ? 'pass' : 'fail';
  // A passed check shows the start of its pattern (one line); a failed one all of it.
  const pattern = c.pattern === null || c.pattern === undefined ? ''
    : `<code class="pattern">${esc(c.passed ? clip(json(c.pattern), 200) : json(c.pattern))}</code>`;
  let body = '';
  if (!c.passed) {
    if (c.text) body += `<p class="check-text">${esc(c.text)}</p>`;
    if (c.line !== null && c.line !== undefined) {
      const i = byEffect.get(c.line);
      const l = i === undefined ? null : st.lines[i];
      const what = c.nearest ? 'No line matched; the nearest line of its kind' : 'Compared with line';
      body += `<p class="check-line">${what}: ` + (l
        ? `<a class="goto-line" href="#${stepElId}-line${i}" data-line="${i}">[${c.line}] ${esc(clip(l.text, 120))}</a>`
        : `[${c.line}]`) + '</p>';
    }
    // A difference in the fields of a line with a record links to that field's bytes.
    const i = byEffect.get(c.line), l = st.lines[i], prefix = l && l.record ? `${l.kind}.fields.` : null;
    const path = d => prefix && d.path.startsWith(prefix)
      ? `<button type="button" class="to-field" data-line="${i}" data-field="${esc(d.path.slice(prefix.length))}" title="Show this field's bytes"><code class="path">${esc(d.path)}</code></button>`
      : `<code class="path">${esc(d.path)}</code>`;
    const diffs = (c.differences || []).map(d => `<div class="difference">${path(d)}` +
      `<span class="expected"><span class="label">expected</span> ${side(d, 'expected')}</span>` +
      `<span class="got"><span class="label">got</span> ${side(d, 'got')}</span></div>`).join('');
    if (diffs) body += `<div class="differences">${diffs}</div>`;
  }
  return `<div class="check" data-result="${result}"><div class="check-head">` +
    `<span class="mark" aria-hidden="true">${c.passed ? '✓' : '✗'}</span><span class="sr-only">${c.passed ? 'passed' : 'failed'}:</span>` +
    `<code class="check-label">${esc(c.label)}</code>${pattern}</div>${body}</div>`;
}

// One side of a difference; a side can be absent (the line lacks the field, or has one
// the pattern does not name).
function side(d, key) {
  return key in d ? `<code>${esc(clip(json(d[key]), 300))}</code>` : '<span class="absent">(absent)</span>';
}

function clip(text, n) { return text.length > n ? text.slice(0, n) + '…' : text; }

// ---------------------------------------------------------------- the sequence diagram

// Four fixed lifelines make the diagram a list of rows; each row is one Row of the data,
// drawn at a fixed height. Labels use a monospace font, so their width is known without
// measuring: a label longer than its room is cut, and its whole text is in its <title>.
const ACTORS = ['Server', 'Host', 'Module', 'Client'];
const DG = { width: 940, gutter: 52, row: 26, char: 7.25 };
const actorX = a => DG.gutter + (DG.width - DG.gutter) * (ACTORS.indexOf(a) + 0.5) / ACTORS.length;

function renderDiagram(s) {
  const rows = [];
  s.steps.forEach(st => st.diagram.forEach((r, k) => rows.push({ r, st, first: k === 0, count: st.diagram.length })));
  const height = Math.max(rows.length * DG.row + 12, 34);
  const heads = ACTORS.map(a => `<span style="left:${actorX(a)}px">${a}</span>`).join('');
  let bands = '', body = '', stepNo = 0;
  rows.forEach((row, n) => {
    const y = 6 + n * DG.row;
    if (row.first) {  // a band behind each step's rows, so steps read as groups
      const cls = row.st.result === 'fail' ? 'band failed' : (stepNo++ % 2 ? 'band odd' : 'band');
      bands += `<rect class="${cls}" x="0" y="${y}" width="${DG.width}" height="${row.count * DG.row}"/>`;
    }
    body += renderRow(s, row, y);
  });
  const lifelines = ACTORS.map(a => `<line class="lifeline" x1="${actorX(a)}" y1="0" x2="${actorX(a)}" y2="${height}"/>`).join('');
  const empty = rows.length ? '' : `<text class="empty" x="${DG.width / 2}" y="22">no diagram: nothing was played</text>`;
  return `<div class="diagram-frame"><div class="heads-clip"><div class="heads" style="width:${DG.width}px">${heads}</div></div>` +
    `<div class="diagram-scroll" style="contain-intrinsic-size:auto ${Math.min(height, 640)}px">` +
    `<svg class="diagram" data-scenario="${esc(s.id)}" width="${DG.width}" height="${height}" viewBox="0 0 ${DG.width} ${height}" role="group" aria-label="Sequence diagram of ${esc(s.name)}">` +
    `${bands}${lifelines}${body}${empty}</svg></div></div>`;
}

function renderRow(s, { r, st, first }, y) {
  const failed = st.result === 'fail';
  const line = r.line === null || r.line === undefined ? '' : r.line;
  const mid = y + DG.row - 8;  // the arrow's height within the row
  let shape, label;
  if (r.type === 'note' || r.from === r.to) {
    const x = actorX(r.from), text = fit(r.text, 300);
    const w = Math.min(text.length * DG.char + 14, 320);
    const left = Math.max(DG.gutter, Math.min(x - w / 2, DG.width - w - 2));
    shape = `<rect class="note-box" x="${left}" y="${y + 3}" width="${w}" height="${DG.row - 6}" rx="3"/>`;
    label = `<text class="label" x="${left + w / 2}" y="${y + DG.row / 2 + 4}">${esc(text)}</text>`;
  } else {
    const x1 = actorX(r.from), x2 = actorX(r.to), dir = Math.sign(x2 - x1);
    const room = Math.abs(x2 - x1) + 120, text = fit(r.text, room);
    const half = text.length * DG.char / 2;
    const cx = Math.max(DG.gutter + half + 2, Math.min((x1 + x2) / 2, DG.width - half - 2));
    shape = `<line class="shaft${r.type === 'reply' ? ' reply' : ''}" x1="${x1}" y1="${mid}" x2="${x2 - dir * 7}" y2="${mid}"/>` +
      `<path class="head" d="M${x2} ${mid} l${-dir * 9} -4.5 v9 z"/>`;
    label = `<text class="label" x="${cx}" y="${mid - 5}">${esc(text)}</text>`;
  }
  let gutter = '';
  if (first) {
    gutter = `<text class="step-no" x="${failed ? 30 : 8}" y="${y + DG.row / 2 + 4}">${st.index}</text>`;
    if (failed) gutter += `<g class="fail-marker"><circle cx="14" cy="${y + DG.row / 2}" r="8"/>` +
      `<text x="14" y="${y + DG.row / 2 + 4}">!</text></g>`;
  }
  // The <title> is the row's tooltip and, for assistive technology, its name.
  const kind = r.type === 'note' ? 'note' : 'arrow';
  const what = r.type === 'note' ? `note over ${r.from}` : `${r.from} to ${r.to}`;
  return `<g class="${kind}${failed ? ' failed' : ''}" data-step="${st.index}" data-line="${line}" tabindex="0" role="button">` +
    `<title>step ${st.index}${failed ? ' (failed)' : ''}, ${what}: ${esc(r.text)}</title>` +
    `<rect class="hit" x="0" y="${y}" width="${DG.width}" height="${DG.row}"/>${gutter}${shape}${label}</g>`;
}

function fit(text, px) {
  const n = Math.max(4, Math.floor(px / DG.char));
  return text.length > n ? text.slice(0, n - 1) + '…' : text;
}

// ---------------------------------------------------------------- records: field tree and hex dump

// Made on first use: the two-digit hex and the ASCII column character of every byte value.
const HEX2 = Array.from({ length: 256 }, (_, b) => b.toString(16).padStart(2, '0'));
const ASCII = HEX2.map((_, b) => b > 0x20 && b < 0x7f ? esc(String.fromCharCode(b)) : '·');
const TREE_OPEN_LIMIT = 300;   // records with more fields open only their top level
const HEX_BLOCK = 32;           // rows of 16 bytes per block of a hex dump
const VIEWS = new WeakMap();    // .record element -> its RecordView
let ACTIVE = null;              // the view whose bytes carry the highlight

function hexBytes(hex) {
  const out = new Uint8Array(hex.length >> 1);
  for (let i = 0; i < out.length; i++) out[i] = parseInt(hex.substr(i * 2, 2), 16);
  return out;
}

// How a scalar field reads in the tree: byte strings (hex) also as text when printable.
function scalarText(v) {
  if (typeof v !== 'string') return esc(json(v));
  if (!/^(?:[0-9a-f]{2})*$/i.test(v)) return esc(json(v));  // a wide string, already text
  if (v === '') return '<span class="absent">empty</span>';
  const n = v.length / 2;
  const text = n <= 64 ? String.fromCharCode(...hexBytes(v)) : '';
  if (text && /^[\x20-\x7e]+$/.test(text)) return `${esc(json(text))} <span class="dim">0x${esc(v)}</span>`;
  return `0x${esc(clip(v, 64))} <span class="dim">${plural(n, 'byte')}</span>`;
}

// The parent path of a field path: "apps.7.versions[0]" -> "apps.7.versions" -> "apps.7".
const parentPath = path => path.replace(/(?:\.[^.[\]]+|\[\d+\])$/, '');

// One decoded record (or nested payload) opened: its field tree and its hex dump, linked
// both ways through the byte ranges of its fields.
class RecordView {
  constructor(rec, bytes, fields, title) {
    this.rec = rec;
    this.bytes = bytes;
    this.spans = rec.spans || [];
    this.spanByPath = new Map(this.spans.map(sp => [sp.path, sp]));
    this.payloadByPath = new Map((rec.payloads || []).map(p => [p.path, p]));
    this.values = new Map();   // path -> value, for folded containers and payloads
    this.owner = null;         // per byte, the index of the innermost span holding it
    this.hl = null;            // {begin, end, field}: what carries class "hl" now
    this.selected = null;      // the selected .field button
    this.cursor = -1;          // the byte the keyboard moves over in the hex dump
    this.pending = 0;          // a scheduled return from a hover to the selection

    const el = this.el = document.createElement('div');
    el.className = 'record';
    const open = this.spans.length <= TREE_OPEN_LIMIT;
    const tree = fields && typeof fields === 'object'
      ? `<ul class="tree-list">${this.treeHtml(fields, '', open)}</ul>` : '<p class="empty">No decoded fields.</p>';
    el.innerHTML = `<p class="record-head">${title} · ${plural(this.bytes.length, 'byte')}` +
      `${rec.error ? ` · <span class="error">${esc(rec.error)}</span>` : ''}</p>` +
      `<div class="panes"><div class="tree">${tree}</div>` +
      `<div class="hex" tabindex="0" role="group" aria-label="Bytes: arrow keys move, fields follow"></div></div>`;
    this.tree = el.querySelector('.tree');
    this.hex = el.querySelector('.hex');
    this.byteEls = [];         // per offset, its .byte and its .ch (ASCII) once built; plain
    this.charEls = [];         // arrays, as live collections slow down with every class change
    this.blocks = 0;           // blocks of the hex dump built so far
    this.fillHex();
    VIEWS.set(el, this);
  }

  // The <li> nodes for the members of an object (fields, map entries) or an array.
  treeHtml(value, prefix, open) {
    const entries = Array.isArray(value)
      ? value.map((v, i) => [`[${i}]`, `${prefix}[${i}]`, v])
      : Object.keys(value).map(k => [k, prefix ? `${prefix}.${k}` : k, value[k]]);
    return entries.map(([label, path, v]) => this.nodeHtml(label, path, v, open)).join('');
  }

  nodeHtml(label, path, v, open) {
    const sp = this.spanByPath.get(path);
    const range = sp ? ` data-begin="${sp.begin}" data-end="${sp.end}"` : '';
    const where = sp ? `<span class="range">${sp.end > sp.begin ? `${sp.begin}–${sp.end - 1}` : `at ${sp.begin}`}</span>` : '';
    const payload = this.payloadByPath.get(path);
    let summary, twisty = '<span class="twisty-none"></span>', after = '';
    if (payload) {   // a nested payload: its own record, opened in place on demand
      this.values.set(path, v);
      summary = `<span class="dim">${esc(payload.name)}</span>`;
      after = `<button type="button" class="payload-toggle" aria-expanded="false" data-path="${esc(path)}">` +
        `open ${esc(payload.name)}${payload.zipped ? ', inflated' : ''}</button><div class="payload-slot"></div>`;
    } else if (v !== null && typeof v === 'object') {
      const n = Array.isArray(v) ? v.length : Object.keys(v).length;
      summary = `<span class="dim">${Array.isArray(v) ? `[${n}]` : `{${n}}`}</span>`;
      if (n) {
        twisty = `<button type="button" class="twisty" aria-expanded="${open}" title="Fold or unfold"><span class="sr-only">${esc(label)}</span></button>`;
        if (!open) this.values.set(path, v);
        after = `<ul class="children"${open ? '>' + this.treeHtml(v, path, true) : ' data-lazy hidden>'}</ul>`;
      }
    } else {
      summary = scalarText(v);
    }
    return `<li>${twisty}<button type="button" class="field" data-path="${esc(path)}"${range}>` +
      `<span class="k">${esc(label)}</span> <span class="v">${summary}</span>${where}</button>${after}</li>`;
  }

  // The hex dump, in blocks of HEX_BLOCK rows. A long body (a 64 KB record has 131072
  // spans) is built a few blocks at a time after the first ones, so opening it never
  // blocks the page; off-screen blocks skip layout (page.css). A block built after a
  // highlight was set gets that highlight as it is written.
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
    return `<div class="hrow"><span class="off">${from.toString(16).padStart(digits, '0')}</span><span class="hb">${hx}</span><span class="ha">${asc}</span></div>`;
  }

  // This view's own field buttons (not those of payloads opened inside its tree).
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
      for (let k = this.spans.length - 1; k >= 0; k--)
        this.owner.fill(k, this.spans[k].begin, Math.min(this.spans[k].end, this.bytes.length));
    }
    const k = this.owner[offset];
    return k >= 0 ? this.spans[k] : null;
  }

  // Gives exactly the bytes [begin, end) and the one field the class "hl", in this view
  // and in no other: the view shown last takes the highlight from the one before.
  show(begin, end, field) {
    if (ACTIVE && ACTIVE !== this) ACTIVE.mark(null);
    ACTIVE = this;
    end = Math.min(end, this.bytes.length);
    this.mark({ begin, end: Math.max(begin, end), field });
  }

  mark(next) {
    const hl = this.hl, bytes = this.byteEls, chars = this.charEls;
    if (hl && next && hl.begin === next.begin && hl.end === next.end && hl.field === next.field) return;
    // Bytes not built yet stop the loops (blocks are built in order). Whole class names
    // are written: for a 64 KB field that is much faster than classList calls.
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

  // Back from a hover to the selection, a frame later so that moving from one byte to
  // the next does not redo the whole selection in between.
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
    this.selected = f;
    f.classList.add('sel');
    if (!f.dataset.begin) return this.show(0, 0, f);
    this.show(+f.dataset.begin, +f.dataset.end, f);
    this.scrollHexTo(+f.dataset.begin);
  }

  // Hovering a byte shows its innermost field, or the nearest unfolded field holding it.
  hoverByte(offset) {
    const sp = this.spanAt(offset);
    if (!sp) return this.preview(offset, offset + 1, null);
    let path = sp.path, f = this.field(path);
    while (!f && parentPath(path) !== path) { path = parentPath(path); f = this.field(path); }
    this.preview(sp.begin, sp.end, f);
  }

  // Clicking a byte (or moving to it with the keyboard) selects its innermost field,
  // unfolding the tree down to it.
  selectByte(offset) {
    this.cursorTo(offset);
    const sp = this.spanAt(offset);
    if (!sp) { if (this.selected) this.selected.classList.remove('sel'); this.selected = null; return this.show(offset, offset + 1, null); }
    const f = this.reveal(sp.path);
    if (!f) return this.show(sp.begin, sp.end, null);
    this.select(f);
    const box = this.tree.getBoundingClientRect(), r = f.getBoundingClientRect();
    if (r.top < box.top || r.bottom > box.bottom) f.scrollIntoView({ block: 'nearest' });
  }

  // Unfolds the ancestors of a field so that its button exists, and returns it.
  reveal(path) {
    const chain = [];
    for (let p = path; p; p = parentPath(p) === p ? '' : parentPath(p)) chain.unshift(p);
    for (const p of chain.slice(0, -1)) {
      const f = this.field(p), tw = f && f.previousElementSibling;
      if (tw && tw.classList.contains('twisty') && tw.getAttribute('aria-expanded') !== 'true') this.toggle(tw);
    }
    return this.field(path);
  }

  // Folds or unfolds a container node; its children are built on first unfolding.
  toggle(twisty) {
    const ul = twisty.parentElement.querySelector(':scope > .children');
    const open = twisty.getAttribute('aria-expanded') !== 'true';
    if (open && ul.hasAttribute('data-lazy')) {
      const path = twisty.nextElementSibling.dataset.path;
      ul.innerHTML = this.treeHtml(this.values.get(path), path, false);
      ul.removeAttribute('data-lazy');
    }
    twisty.setAttribute('aria-expanded', String(open));
    ul.hidden = !open;
  }

  // Opens a nested payload in place, under its field, as a record of its own.
  togglePayload(btn) {
    const slot = btn.nextElementSibling, open = btn.getAttribute('aria-expanded') !== 'true';
    if (open && !slot.firstChild) {
      // A zipped payload brings its inflated bytes; any other is a run of the outer bytes.
      const p = this.payloadByPath.get(btn.dataset.path);
      const bytes = p.zipped ? hexBytes(p.hex || '') : this.bytes.subarray(p.begin, p.end);
      const title = `<strong>${esc(p.name)}</strong> <span class="dim">${p.zipped
        ? '(zlib: the bytes below are the inflated ones)' : `(bytes ${p.begin}–${p.end - 1} of the record)`}</span>`;
      slot.appendChild(new RecordView(p, bytes, this.values.get(btn.dataset.path), title).el);
    }
    btn.setAttribute('aria-expanded', String(open));
    slot.hidden = !open;
    // A record holding an open payload stacks its tree above its bytes, to give it room.
    this.el.classList.toggle('stacked', [...this.tree.querySelectorAll('.payload-toggle')]
      .some(b => b.getAttribute('aria-expanded') === 'true' && b.closest('.record') === this.el));
  }

  cursorTo(offset) {
    if (this.cursor >= 0 && this.byteEls[this.cursor]) this.byteEls[this.cursor].classList.remove('cursor');
    this.cursor = offset;
    if (this.byteEls[offset]) this.byteEls[offset].classList.add('cursor');
  }

  scrollHexTo(offset) {
    const b = this.byteEls[offset];
    if (!b) return;
    const box = this.hex.getBoundingClientRect(), r = b.getBoundingClientRect();
    if (r.top < box.top || r.bottom > box.bottom) this.hex.scrollTop += r.top - box.top - 2 * r.height;
  }

  // Arrow keys, Home, End, Page Up/Down move over the bytes; the field under them follows.
  key(e) {
    const n = this.bytes.length, at = this.cursor < 0 ? 0 : this.cursor;
    const moves = { ArrowLeft: -1, ArrowRight: 1, ArrowUp: -16, ArrowDown: 16, PageUp: -256, PageDown: 256 };
    let to;
    if (e.key in moves) to = this.cursor < 0 ? 0 : at + moves[e.key];
    else if (e.key === 'Home') to = 0;
    else if (e.key === 'End') to = n - 1;
    else return;
    e.preventDefault();
    if (!n) return;
    to = Math.max(0, Math.min(n - 1, to));
    this.selectByte(to);
    this.scrollHexTo(to);
  }
}

const viewOf = el => VIEWS.get(el.closest('.record'));

// Opens or closes the record of a line, building its view on first opening.
function toggleRecord(btn) {
  const line = btn.closest('.line'), open = btn.getAttribute('aria-expanded') !== 'true';
  let detail = line.querySelector(':scope > .line-detail');
  if (open && !detail) {
    // The record's bytes and fields are those of the trace line: a send, or a packet received.
    const L = LINE_OF.get(line), rec = L.data.record, j = L.data.json || {};
    const body = j.send || (j.recv && j.recv.packet) || {};
    detail = document.createElement('div');
    detail.className = 'line-detail';
    const title = `<strong>${esc(rec.name || 'a body without a record')}</strong>`;
    detail.appendChild(new RecordView(rec, hexBytes(body.hex || ''), body.fields, title).el);
    detail.insertAdjacentHTML('beforeend', '<details class="raw"><summary>the trace line as JSON</summary><pre></pre></details>');
    line.appendChild(detail);
  }
  btn.setAttribute('aria-expanded', String(open));
  detail.hidden = !open;
}

// Opens a line's record and selects a field in it (or the nearest field holding it, as for
// a field inside a payload); focusing the field selects it and scrolls to it.
function showField(line, path) {
  const btn = line.querySelector(':scope > .open');
  if (btn.getAttribute('aria-expanded') !== 'true') toggleRecord(btn);
  const view = VIEWS.get(line.querySelector('.record'));
  for (let p = path, f; p; p = parentPath(p) === p ? '' : parentPath(p)) if ((f = view.reveal(p))) return f.focus();
}

// ---------------------------------------------------------------- moving around

const byId = id => document.getElementById(id);

// Folds or unfolds a scenario or a step: the button names the body it controls.
function setFold(btn, open) {
  btn.setAttribute('aria-expanded', String(open));
  byId(btn.getAttribute('aria-controls')).hidden = !open;
}
const unfold = el => { const b = el && el.querySelector(':scope > header .fold'); if (b) setFold(b, true); };

// Restarts the short highlight that shows where a jump landed.
function flash(el) {
  el.classList.remove('flash');
  void el.getBoundingClientRect();  // let the animation start again
  el.classList.add('flash');
  setTimeout(() => el.classList.remove('flash'), 1600);
}

// Opens a step, scrolls to it, focuses it and flashes the line asked for (or its input).
// The address becomes the step's, replacing the current entry rather than adding one.
function reveal(step, lineIndex) {
  unfold(step.closest('.scenario'));
  unfold(step);
  history.replaceState(null, '', '#' + step.id);
  step.scrollIntoView({ block: 'start' });
  const line = lineIndex === '' || lineIndex === null || lineIndex === undefined ? null : byId(`${step.id}-line${lineIndex}`);
  if (line && !line.hidden) {
    if (line.getBoundingClientRect().bottom > window.innerHeight) line.scrollIntoView({ block: 'center' });
    flash(line);
  } else {
    flash(step.querySelector('.input'));
  }
  step.focus({ preventScroll: true });
}

function activateRow(g) {
  const step = byId(stepId(g.closest('svg').dataset.scenario, g.dataset.step));
  if (step) reveal(step, g.dataset.line);
}

// Scrolls a diagram's own box so that a row shows.
function showRow(g) {
  const box = g.closest('.diagram-scroll'), y = g.querySelector('.hit').y.baseVal.value;
  if (y < box.scrollTop || y > box.scrollTop + box.clientHeight - 30) box.scrollTop = Math.max(0, y - 50);
}

// Following a link to a step, a line or a scenario: unfold what holds it, then go there.
function followHash() {
  const el = location.hash.length > 1 && byId(decodeURIComponent(location.hash.slice(1)));
  if (!el) return false;
  if (el.classList.contains('step')) reveal(el, null);
  else if (el.classList.contains('line')) reveal(el.closest('.step'), el.dataset.line);
  else if (el.classList.contains('scenario')) { unfold(el); el.scrollIntoView({ block: 'start' }); }
  else return false;
  return true;
}

// ---------------------------------------------------------------- filters

const filter = { session: '', kinds: new Set(FILTERED_KINDS), query: '' };
let marked = [];   // lines whose text shows search marks

// The displayed text with every case-insensitive occurrence of the query marked.
function markText(text, query) {
  const lower = text.toLowerCase();
  let out = '', at = 0, i;
  while (query && (i = lower.indexOf(query, at)) !== -1) {
    out += esc(text.slice(at, i)) + '<mark>' + esc(text.slice(i, i + query.length)) + '</mark>';
    at = i + query.length;
  }
  return out + esc(text.slice(at));
}

// Hides (attribute "hidden") every line the filters leave out; the steps stay, with a
// note of how many of their lines are hidden.
function applyFilters() {
  const { session, kinds, query } = filter;
  const notes = new Map();
  let shown = 0;
  for (const L of LINES) {
    const d = L.data;
    let ok = (!session || d.session === session) && (!FILTERED_KINDS.includes(d.kind) || kinds.has(d.kind));
    if (ok && query) {
      if (L.lower === null) L.lower = (d.text || '').toLowerCase();
      ok = L.lower.includes(query);
    }
    if (L.el.hidden === ok) L.el.hidden = !ok;
    if (ok) shown++;
    if (!L.note) L.note = L.el.closest('.step-body').querySelector('.lines-note');
    const n = notes.get(L.note) || notes.set(L.note, { hidden: 0, total: 0 }).get(L.note);
    n.total++;
    if (!ok) n.hidden++;
  }
  for (const [note, n] of notes) {
    note.hidden = n.hidden === 0;
    note.textContent = n.hidden ? `${n.hidden} of ${plural(n.total, 'line')} hidden by the filters.` : '';
  }
  for (const L of marked) L.el.querySelector('.text').textContent = L.shown;
  marked = query ? LINES.filter(L => !L.el.hidden) : [];
  for (const L of marked) L.el.querySelector('.text').innerHTML = markText(L.shown, query);
  const active = session || query || kinds.size < FILTERED_KINDS.length;
  byId('filter-count').textContent = active ? `${shown} of ${plural(LINES.length, 'line')} shown` : '';
}

function setUpFilters() {
  byId('filter-session').addEventListener('change', e => { filter.session = e.target.value; applyFilters(); });
  for (const box of document.querySelectorAll('.filter-kind')) {
    box.addEventListener('change', () => {
      box.checked ? filter.kinds.add(box.value) : filter.kinds.delete(box.value);
      applyFilters();
    });
  }
  let timer = 0;
  byId('search').addEventListener('input', e => {
    clearTimeout(timer);
    timer = setTimeout(() => { filter.query = e.target.value.trim().toLowerCase(); applyFilters(); }, 120);
  });
}

// ---------------------------------------------------------------- events

const LINE_OF = new WeakMap();   // .line element -> its entry in LINES

document.addEventListener('click', e => {
  const t = e.target;
  const row = t.closest('g.arrow, g.note');
  if (row) return activateRow(row);
  const el = t.closest('button, a.goto-line, .byte, .ch');
  if (!el) return;
  const c = el.classList;
  if (c.contains('fold')) setFold(el, el.getAttribute('aria-expanded') !== 'true');
  else if (c.contains('open')) toggleRecord(el);
  else if (c.contains('more')) {
    const L = LINE_OF.get(el.closest('.line'));
    L.shown = L.full;
    el.previousElementSibling.innerHTML = markText(L.shown, filter.query);
    el.remove();
  } else if (c.contains('twisty')) viewOf(el).toggle(el);
  else if (c.contains('payload-toggle')) viewOf(el).togglePayload(el);
  else if (c.contains('field')) viewOf(el).select(el);
  else if (c.contains('byte') || c.contains('ch')) viewOf(el).selectByte(+el.dataset.offset);
  else if (c.contains('goto-line')) { e.preventDefault(); reveal(el.closest('.step'), el.dataset.line); }
  else if (c.contains('to-field')) showField(byId(`${el.closest('.step').id}-line${el.dataset.line}`), el.dataset.field);
  else if (c.contains('to-diagram')) {
    const step = el.closest('.step');
    const g = document.querySelector(`svg.diagram[data-scenario="${step.dataset.scenario}"] [data-step="${el.dataset.step}"]`);
    if (g) { showRow(g); g.focus(); flash(g); }
  }
});

document.addEventListener('keydown', e => {
  const t = e.target;
  if ((e.key === 'Enter' || e.key === ' ') && t.matches && t.matches('g.arrow, g.note')) {
    e.preventDefault();
    activateRow(t);
  } else if (t.classList && t.classList.contains('hex')) {
    viewOf(t).key(e);
  }
});

// Hovering a field or a byte previews its bytes; leaving returns to the selection.
document.addEventListener('mouseover', e => {
  const el = e.target.closest && e.target.closest('.field, .byte, .ch');
  if (!el || !el.closest('.record')) return;
  const v = viewOf(el);
  if (el.classList.contains('field')) {
    if (el.dataset.begin) v.preview(+el.dataset.begin, +el.dataset.end, el);
  } else v.hoverByte(+el.dataset.offset);
});
document.addEventListener('mouseout', e => {
  const el = e.target.closest && e.target.closest('.field, .byte, .ch');
  if (el && el.closest('.record')) viewOf(el).endPreview();
});
// Moving the focus onto a field (Tab) selects it, so its bytes follow the keyboard too.
document.addEventListener('focusin', e => {
  if (e.target.classList && e.target.classList.contains('field')) viewOf(e.target).select(e.target);
});
// The JSON of a trace line is written only when its disclosure is opened.
document.addEventListener('toggle', e => {
  const d = e.target;
  if (!d.classList || !d.classList.contains('raw') || !d.open) return;
  const pre = d.querySelector('pre');
  if (!pre.textContent) pre.textContent = JSON.stringify(LINE_OF.get(d.closest('.line')).data.json, null, 2);
}, true);
window.addEventListener('hashchange', followHash);
// The lifeline heads sit outside the diagram's scrolling box: they follow it sideways.
document.addEventListener('scroll', e => {
  const box = e.target;
  if (box.classList && box.classList.contains('diagram-scroll'))
    box.previousElementSibling.firstChild.style.transform = `translateX(${-box.scrollLeft}px)`;
}, true);

// ---------------------------------------------------------------- start

function start() {
  renderHeader();
  renderNav();
  byId('main').insertAdjacentHTML('beforeend', DATA.scenarios.map(renderScenario).join(''));
  document.querySelectorAll('.line').forEach((el, i) => { LINES[i].el = el; LINE_OF.set(el, LINES[i]); });
  setUpFilters();

  // Open on the first failing step (or, with none, on the first scenario that did not
  // pass); an address that already names a place wins.
  if (!followHash()) {
    const s = DATA.scenarios.find(x => x.steps.some(st => st.result === 'fail'));
    if (s) {
      const st = s.steps.find(x => x.result === 'fail');
      const g = document.querySelector(`svg.diagram[data-scenario="${s.id}"] g.failed`);
      if (g) showRow(g);
      reveal(byId(stepId(s.id, st.index)), null);
    } else {
      const bad = DATA.scenarios.find(x => x.result !== 'pass');
      if (bad) { history.replaceState(null, '', '#' + bad.id); byId(bad.id).scrollIntoView({ block: 'start' }); }
    }
  }
  document.body.dataset.ready = '1';
}

start();
