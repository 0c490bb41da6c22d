// The page: header, summary, scenarios, steps, filters and events (see common.js).

// ---------------------------------------------------------------- header, summary, scenario list

function renderHeader() {
  const firstBad = DATA.scenarios.find(s => s.result !== 'pass');
  const failed = firstBad ? `<a class="count" data-result="fail" href="#${esc(firstBad.id)}">${DATA.failed} failed</a>`
    : `<span class="count" data-result="none">${DATA.failed} failed</span>`;
  byId('totals').innerHTML = `<span class="count" data-result="pass">${DATA.passed} passed</span> ${failed} ` +
    `<span class="count-of">of ${plural(DATA.scenarios.length, 'scenario')}, ${plural(STEPS.length, 'step')}, ` +
    `${plural(PACKETS.length, 'packet')}</span>`;
  const when = String(DATA.generated || '').replace('T', ' ').replace('Z', ' UTC');
  byId('meta').innerHTML = `module <code>${esc(DATA.module || '?')}</code> · ${esc(when)} · ${esc(DATA.tool || '')}`;
  // The filters offer what the report holds: sessions, URIs and records.
  const options = (id, values, text) => byId(id).insertAdjacentHTML('beforeend',
    values.map(v => `<option value="${esc(v)}">${text(v)}</option>`).join(''));
  options('filter-session', [...new Set(DATA.scenarios.flatMap(s => s.sessions || []))].sort(), n => `session ${esc(n)}`);
  options('filter-uri', [...new Set(PACKETS.map(p => p.uri))].sort((a, b) => a - b), u => `${u} (${uriParts(u)})`);
  options('filter-record', [...new Set(PACKETS.map(p => p.record))].sort(), r => r ? esc(r) : 'no record');
}

// The summary: one row per scenario, sortable, each opening its scenario.
function renderSummary() {
  const rows = DATA.scenarios.map((s, k) => ({ k: k + 1, s, failed: s.steps.filter(st => st.result === 'fail').length }));
  const table = new Table({
    id: 'summary-table', label: 'Scenarios', noun: 'scenario', rows, visible: 10,
    columns: [
      { key: 'k', title: '#', num: true, width: '3em', cls: 'num', value: r => r.k, html: r => r.k },
      { key: 'name', title: 'Scenario', width: 'minmax(10em, 1fr)', value: r => r.s.name,
        html: r => `<a href="#${esc(r.s.id)}" tabindex="-1">${esc(r.s.name)}</a>` },
      { key: 'result', title: 'Result', width: '8em', value: r => r.s.result, html: r => badge(r.s.result) },
      { key: 'steps', title: 'Steps', num: true, width: '4.5em', cls: 'num', value: r => r.s.steps.length, html: r => r.s.steps.length },
      { key: 'failed', title: 'Failed', num: true, width: '4.5em', cls: 'num', value: r => r.failed, html: r => r.failed || '' },
      { key: 'packets', title: 'Packets', num: true, width: '5em', cls: 'num', value: r => r.s.packets.length, html: r => r.s.packets.length },
      { key: 'clock', title: 'Virtual (s)', num: true, width: '6.5em', cls: 'num', value: r => r.s.clock || 0, html: r => seconds(r.s.clock || 0) },
      { key: 'seconds', title: 'Took (s)', num: true, width: '5.5em', cls: 'num', value: r => r.s.seconds || 0,
        html: r => (r.s.seconds || 0).toFixed(3) },
    ],
    onSelect: () => {},
    onOpen: r => goToScenario(r.s),
  });
  byId('summary-slot').appendChild(table.el);
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

// Steps are drawn in pages of consecutive steps: all at once, or (LAZY) each as it
// comes near the view, its height guessed until then.
const PAGE_STEPS = 10;
const PAGES = [];
const PAGE_OF = new Map();  // step entry -> its page

function renderScenario(s) {
  const failed = s.steps.filter(st => st.result === 'fail').length;
  const counts = s.steps.length ? plural(s.steps.length, 'step') + (failed ? `, ${failed} failed` : '') +
    `, ${plural(s.packets.length, 'packet')}, ${seconds(s.clock || 0)} s of virtual time, took ${(s.seconds || 0).toFixed(3)} s`
    : 'not played';
  const details = s.details.length ? `<div class="details">${s.details.map(d => `<pre>${esc(d)}</pre>`).join('')}</div>` : '';
  const steps = STEPS.filter(e => e.s === s);
  let pages = '';
  for (let k = 0; k < steps.length; k += PAGE_STEPS) {
    const page = { s, steps: steps.slice(k, k + PAGE_STEPS), el: null, drawn: false, n: PAGES.length };
    page.steps.forEach(e => PAGE_OF.set(e, page));
    PAGES.push(page);
    pages += `<div class="step-page" data-page="${page.n}" style="height:${page.steps.reduce((h, e) => h + guessHeight(e.st), 0)}px"></div>`;
  }
  const why = s.result === 'bad' ? 'the scenario file is invalid'
    : s.result === 'timeout' ? 'its process was stopped at its time limit' : 'its process died';
  if (!steps.length) pages = `<p class="empty">No step was played: ${why}.</p>`;
  const id = esc(s.id);
  const packets = s.packets.length ? `<details class="packets-box" data-scenario="${id}"><summary>Packets (${s.packets.length})</summary>` +
    `<div class="packets-slot"></div></details>` : '';
  return `<section class="scenario" id="${id}" data-scenario="${id}" data-result="${esc(s.result)}" aria-labelledby="${id}-name">
<header class="scenario-head">${foldButton(`${id}-body`, s.name)}<h2 id="${id}-name">${esc(s.name)}</h2>${badge(s.result)}
<p class="file"><code>${esc(s.file)}</code> · ${counts}</p></header>
<div class="scenario-body" id="${id}-body">${details}
<details class="diagram-box" open><summary>Sequence diagram</summary>${renderDiagram(s)}</details>${packets}
<div class="steps">${pages}</div></div></section>`;
}

// A step's height before it is drawn: a guess that keeps the scroll bar steady.
const guessHeight = st => 84 + (st.note ? 22 : 0) + st.lines.length * 21 + (st.checks.length ? 26 + st.checks.length * 24 : 0);

// Draws a page of steps: their lines as the filters have them, and the side-by-side
// view of each failed check that has one.
function drawPage(page) {
  if (page.drawn) return;
  page.drawn = true;
  page.el = page.el || document.querySelector(`.step-page[data-page="${page.n}"]`);
  page.el.innerHTML = page.steps.map(e => renderStep(page.s, e)).join('');
  page.el.style.height = '';
  for (const e of page.steps) {
    e.el = byId(stepId(page.s.id, e.st.index));
    const lineEls = e.el.querySelectorAll('.line');
    e.lines.forEach((L, i) => { L.el = lineEls[i]; LINE_OF.set(L.el, L); });
    noteHidden(e);
    for (const slot of e.el.querySelectorAll('.compare')) mountCompare(slot, e, e.st.checks[+slot.dataset.check]);
  }
}

// The element of a step, its page drawn.
function stepEl(s, index) {
  const e = STEPS.find(x => x.s === s && x.st.index === index);
  if (!e) return null;
  drawPage(PAGE_OF.get(e));
  return e.el;
}

function renderStep(s, e) {
  const st = e.st, id = stepId(s.id, st.index);
  // Checks name lines by effect index; the page addresses them by their index in "lines".
  const byEffect = new Map();
  st.lines.forEach((l, i) => { if (given(l.effect)) byEffect.set(l.effect, i); });
  const compared = new Set(st.checks.filter(c => !c.passed).map(c => byEffect.get(c.line)));
  const lines = e.lines.map(L => renderLine(id, L, compared.has(L.i))).join('');
  const checks = st.checks.map((c, k) => renderCheck(id, st, c, k, byEffect)).join('');
  const where = st.source && s.url ? ` <a class="src" href="${esc(s.url)}" title="${esc(s.file)}, line ${st.source.line}, column ${st.source.column}">` +
    `${esc(s.file.split('/').pop())}:${st.source.line}</a>` : '';
  return `<article class="step${st.result === 'fail' ? ' failed' : ''}" id="${id}" data-scenario="${esc(s.id)}" ` +
    `data-step="${st.index}" data-result="${esc(st.result)}" tabindex="-1" aria-labelledby="${id}-h" style="contain-intrinsic-size:auto ${guessHeight(st)}px">
<header class="step-head">${foldButton(`${id}-body`, `step ${st.index}`)}
<h3 id="${id}-h">step ${st.index} <span class="action">${esc(st.action)}</span></h3>${badge(st.result)}
<span class="step-time" title="virtual time when the step began">${seconds(st.time || 0)} s</span>${where}
${st.diagram.length ? `<button type="button" class="to-diagram" data-step="${st.index}">in the diagram</button>` : ''}</header>
${st.note ? `<p class="step-note">${esc(st.note)}</p>` : ''}
<p class="input"><span class="label">input</span> <code>${esc(st.input)}</code></p>
<div class="step-body" id="${id}-body">
<div class="lines">${lines || '<p class="empty">No line: the step had no effect.</p>'}</div><p class="lines-note" hidden></p>
${checks ? `<div class="checks"><h4>Checks</h4>${checks}</div>` : ''}</div></article>`;
}

// One trace line: opener, virtual time, effect index, kind, text.
function renderLine(stepElId, L, compared) {
  const l = L.data, text = L.text, shown = L.full ? text : text.slice(0, TEXT_CLAMP);
  const opener = l.record ? `<button type="button" class="open" aria-expanded="false" title="Fields and bytes">` +
    `<span class="sr-only">Fields and bytes of ${esc(l.record.name || 'the body')}</span></button>` : '';
  const more = shown.length < text.length ? `<button type="button" class="more">… ${text.length - shown.length} more characters</button>` : '';
  L.marked = !!filter.query;
  return `<div class="line${compared ? ' compared' : ''}" id="${stepElId}-line${L.i}" data-kind="${esc(l.kind)}" ` +
    `data-session="${esc(l.session || '')}" data-line="${L.i}"${L.shown ? '' : ' hidden'}>${opener}` +
    `<span class="t" title="virtual time">${seconds(l.time || 0)}</span><span class="eff">${given(l.effect) ? `[${l.effect}]` : ''}</span>` +
    `<span class="kind">${esc(l.kind)}</span><span class="text">${markText(shown, filter.query)}</span>${more}</div>`;
}

function renderCheck(stepElId, st, c, k, byEffect) {
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
      ? `<button type="button" class="to-field" data-line="${i}" data-check="${k}" data-field="${esc(d.path.slice(prefix.length))}" ` +
        `title="Show this field's bytes"><code class="path">${esc(d.path)}</code></button>` : `<code class="path">${esc(d.path)}</code>`;
    // Either side of a difference can be absent: the line lacks the field, or has one the pattern does not name.
    // Values read as in the field tree: bytes as text where printable, and their hex.
    const side = (d, key) => key in d ? `<code>${typeof d[key] === 'object' ? esc(clip(json(d[key]), 300)) : scalarText(d[key])}</code>`
      : '<span class="absent">(absent)</span>';
    const diffs = (c.differences || []).map(d => `<div class="difference">${path(d)}` +
      `<span class="expected"><span class="label">expected</span> ${side(d, 'expected')}</span>` +
      `<span class="got"><span class="label">got</span> ${side(d, 'got')}</span></div>`).join('');
    if (diffs) body += `<div class="differences">${diffs}</div>`;
    if (c.expected && l && l.record) {
      body += c.expected.error ? `<p class="compare-error">The expected values make no ${esc(l.record.name || 'record')}: ${esc(c.expected.error)}</p>`
        : `<div class="compare" data-check="${k}" data-line="${i}"></div>`;
    }
  }
  return `<div class="check" data-result="${c.passed ? 'pass' : 'fail'}"><div class="check-head">` +
    `<span class="mark" aria-hidden="true">${c.passed ? '✓' : '✗'}</span><span class="sr-only">${c.passed ? 'passed' : 'failed'}:</span>` +
    `<code class="check-label">${esc(c.label)}</code>${pattern}</div>${body}</div>`;
}

// A failed check on a send, side by side: the record the check expected and the one
// sent, each its tree and bytes, the differing fields and their bytes marked in both.
function mountCompare(slot, e, c) {
  const L = e.lines[+slot.dataset.line], prefix = `${L.data.kind}.fields.`, exp = c.expected;
  const paths = c.differences.map(d => d.path.slice(prefix.length));
  const expected = new RecordView(exp.record, hexBytes(exp.hex), exp.fields,
    `<strong>expected</strong> <span class="dim">${esc(exp.record.name || '')}</span>`, { hex: () => exp.hex });
  const got = lineRecordView(L, `<strong>got</strong> <span class="dim">line [${L.data.effect}]</span>`);
  expected.peers = [got];
  got.peers = [expected];
  const grid = document.createElement('div');
  grid.className = 'compare-grid';
  for (const view of [expected, got]) {
    view.markDifferences(paths);
    const side = document.createElement('div');
    side.className = 'compare-side';
    side.appendChild(view.el);
    grid.appendChild(side);
  }
  slot.appendChild(grid);
}

// The line of a step that shows the filters' effect: how many of its lines they hide.
function noteHidden(e) {
  if (!e.el) return;
  const note = e.el.querySelector('.lines-note'), hidden = e.lines.filter(L => !L.shown).length;
  note.hidden = !hidden;
  note.textContent = hidden ? `${hidden} of ${plural(e.lines.length, 'line')} hidden by the filters.` : '';
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

// Scrolls the main column so that an element's top is at the top of the view, and keeps
// it there for a moment: steps above it take their real height only once they come into
// view (content-visibility, page.css) and would push it down.
let pinned = null;
function pinToTop(el) {
  const main = byId('main');
  const align = () => {
    const off = el.getBoundingClientRect().top - main.getBoundingClientRect().top - 8;
    if (Math.abs(off) >= 1) main.scrollTop += off;
  };
  if (pinned) pinned.disconnect();
  align();
  const keep = pinned = new ResizeObserver(align);
  for (const box of main.querySelectorAll('.overview, .scenario')) keep.observe(box);
  const stop = () => { keep.disconnect(); if (pinned === keep) pinned = null; };
  setTimeout(stop, 600);
  for (const type of ['wheel', 'keydown', 'mousedown', 'touchstart']) main.addEventListener(type, stop, { once: true });
}

// Opens a step, scrolls to it, focuses it and flashes the line asked for (or its input).
// The address becomes the step's, replacing the current history entry.
function reveal(step, lineIndex) {
  unfold(step.closest('.scenario'));
  unfold(step);
  history.replaceState(null, '', '#' + step.id);
  const line = given(lineIndex) && lineIndex !== '' ? byId(`${step.id}-line${lineIndex}`) : null;
  pinToTop(step);
  if (line && !line.hidden) {
    if (line.getBoundingClientRect().bottom > byId('main').getBoundingClientRect().bottom) {
      if (pinned) pinned.disconnect();
      line.scrollIntoView({ block: 'center' });
    }
    flash(line);
  } else flash(step.querySelector('.input'));
  step.focus({ preventScroll: true });
}

// To a line in its step; with `open`, its record opened too.
function goToLine(L, open) {
  const step = stepEl(L.s, L.st.index);
  reveal(step, L.i);
  const btn = open && L.el.querySelector(':scope > .open');
  if (btn && btn.getAttribute('aria-expanded') !== 'true') toggleRecord(btn);
}

function goToScenario(s) {
  const el = byId(s.id);
  unfold(el);
  history.replaceState(null, '', '#' + s.id);
  pinToTop(el);
  flash(el.querySelector('.scenario-head'));
}

const activateRow = g => reveal(stepEl(SCENARIOS.get(g.closest('.diagram-scroll').dataset.scenario), +g.dataset.step), g.dataset.line);

// Scrolls a diagram's own box so that a row shows.
function showRow(g) {
  const box = g.closest('.diagram-scroll'), r = g.getBoundingClientRect(), b = box.getBoundingClientRect();
  if (r.top < b.top || r.bottom > b.bottom) box.scrollTop += r.top - b.top - 50;
}

// Following a link to a step, a line or a scenario: draw and unfold what holds it, then go there.
function followHash() {
  const id = location.hash.length > 1 ? decodeURIComponent(location.hash.slice(1)) : '';
  const m = /^(s\d+)-step(\d+)(?:-line(\d+))?$/.exec(id), s = SCENARIOS.get(m ? m[1] : id);
  if (m && s && stepEl(s, +m[2])) reveal(stepEl(s, +m[2]), m[3]);
  else if (s) goToScenario(s);
  else return false;
  return true;
}

// Opens or closes the record of a line, building its view when first opened.
function toggleRecord(btn) {
  const line = btn.closest('.line'), open = btn.getAttribute('aria-expanded') !== 'true';
  let detail = line.querySelector(':scope > .line-detail');
  if (open && !detail) {
    const L = LINE_OF.get(line);
    detail = document.createElement('div');
    detail.className = 'line-detail';
    detail.appendChild(lineRecordView(L, `<strong>${esc(L.data.record.name || 'a body without a record')}</strong>`).el);
    line.appendChild(detail);
  }
  btn.setAttribute('aria-expanded', String(open));
  detail.hidden = !open;
}

// A difference's field: selected in the check's side-by-side views, or else in the
// line's record, opened.
function showField(btn) {
  const check = btn.closest('.check'), views = [...check.querySelectorAll('.compare-side > .record')].map(el => VIEWS.get(el));
  if (!views.length) {
    const line = byId(`${btn.closest('.step').id}-line${btn.dataset.line}`), opener = line.querySelector(':scope > .open');
    if (opener.getAttribute('aria-expanded') !== 'true') toggleRecord(opener);
    views.push(VIEWS.get(line.querySelector('.record')));
  }
  let focus = null;
  for (const view of views) {
    const [, f] = view.selectPath(btn.dataset.field);
    focus = focus || f;
  }
  if (focus) focus.scrollIntoView({ block: 'nearest' });
}

// ---------------------------------------------------------------- filters

// Every filter applies to the lines of the steps and to the packet lists alike. The
// packet filters (direction, URI, record) leave only packets.
const filter = { session: '', dir: '', uri: '', record: null, kinds: new Set(FILTERED_KINDS), query: '' };

function passes(L) {
  const d = L.data, f = filter, p = L.packet;
  if (f.session && d.session !== f.session) return false;
  if (FILTERED_KINDS.includes(d.kind) && !f.kinds.has(d.kind)) return false;
  if ((f.dir || f.uri || f.record !== null) && !p) return false;
  if ((f.dir && d.kind !== f.dir) || (f.uri && String(p.uri) !== f.uri) || (f.record !== null && p.record !== f.record)) return false;
  return !f.query || (L.lower = L.lower || (d.text || '').toLowerCase()).includes(f.query);
}

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

// Decides every line anew, then updates what is drawn: the lines (hidden, search marks),
// each step's note of hidden lines, the packet lists, the count and the scenario list.
function applyFilters() {
  const seen = new Set(), marked = filter.query;
  let shown = 0;
  for (const L of LINES) {
    const ok = passes(L);
    L.shown = ok;
    shown += ok;
    if (ok) seen.add(L.s.id);
    if (!L.el) continue;
    if (L.el.hidden === ok) L.el.hidden = !ok;
    if (ok && (marked || L.marked)) {
      L.el.querySelector('.text').innerHTML = markText(L.full ? L.text : L.text.slice(0, TEXT_CLAMP), marked);
      L.marked = !!marked;
    }
  }
  for (const e of STEPS) noteHidden(e);
  filterPacketLists();
  const f = filter, active = f.session || f.query || f.dir || f.uri || f.record !== null || f.kinds.size < FILTERED_KINDS.length;
  byId('filter-count').textContent = active ? `${shown} of ${plural(LINES.length, 'line')} shown` : '';
  for (const a of document.querySelectorAll('.nav-link')) a.classList.toggle('no-match', !!active && !seen.has(a.hash.slice(1)));
}

function setUpFilters() {
  const on = (id, key, read) => byId(id).addEventListener('change', e => { filter[key] = read(e.target.value); applyFilters(); });
  on('filter-session', 'session', v => v);
  on('filter-dir', 'dir', v => v);
  on('filter-uri', 'uri', v => v);
  on('filter-record', 'record', v => v === '*' ? null : v);  // "" is the packets without a record
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
    L.full = true;
    el.previousElementSibling.innerHTML = markText(L.text, filter.query);
    el.remove();
  },
  twisty: el => viewOf(el).toggle(el),
  'payload-toggle': el => viewOf(el).togglePayload(el),
  field: el => viewOf(el).select(el),
  byte: el => viewOf(el).selectByte(+el.dataset.offset),
  ch: el => viewOf(el).selectByte(+el.dataset.offset),
  copy: el => viewOf(el).copyOut(el.dataset.what),
  sort: el => tableOf(el).sortBy(el.dataset.key),
  trow: el => { const t = tableOf(el); t.body.focus({ preventScroll: true }); t.select(+el.dataset.k); },
  'goto-line': (el, e) => { e.preventDefault(); reveal(el.closest('.step'), el.dataset.line); },
  'to-line': (el, e) => { e.preventDefault(); goToLine(el.closest('.packet-pane').packet.L, true); },
  'to-field': showField,
  'to-diagram': el => {  // from a step to its row in the diagram
    const g = diagramRow(SCENARIOS.get(el.closest('.step').dataset.scenario), +el.dataset.step);
    showRow(g);
    g.focus();
    flash(g);
  },
}));
document.addEventListener('click', e => {
  const row = e.target.closest('g.arrow, g.note');
  if (row) return activateRow(row);
  const el = e.target.closest('button, a.goto-line, a.to-line, .byte, .ch, .tbody .trow');
  const c = el && [...el.classList].find(name => CLICKS.has(name));
  if (c) CLICKS.get(c)(el, e);
});
document.addEventListener('dblclick', e => {
  const el = e.target.closest('.tbody .trow');
  if (el) { const t = tableOf(el); t.onOpen(t.rowAt(el)); }
});

// Enter or Space on a diagram row opens its step, Up and Down move between rows; keys
// on a hex dump move over its bytes, keys on a list over its rows.
document.addEventListener('keydown', e => {
  const t = e.target;
  if (t.matches && t.matches('g.arrow, g.note')) {
    const to = e.key === 'ArrowDown' ? nextRow(t, 1) : e.key === 'ArrowUp' ? nextRow(t, -1) : null;
    if (e.key === 'Enter' || e.key === ' ') activateRow(t);
    else if (to) { to.focus(); showRow(to); } else return;
    e.preventDefault();
  } else if (t.classList && t.classList.contains('hex')) viewOf(t).key(e);
  else if (t.classList && t.classList.contains('tbody')) tableOf(t).key(e);
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
// A list draws the rows that scrolled into view.
document.addEventListener('scroll', e => {
  const t = e.target;
  if (!t.classList) return;
  if (t.classList.contains('diagram-scroll')) t.previousElementSibling.firstChild.style.transform = `translateX(${-t.scrollLeft}px)`;
  else if (t.classList.contains('tbody')) tableOf(t).draw();
}, true);
// A scenario's packet list is made when it is first opened.
document.addEventListener('toggle', e => {
  const box = e.target;
  if (!box.classList || !box.classList.contains('packets-box') || !box.dataset.scenario || !box.open || box.dataset.made) return;
  box.dataset.made = '1';
  const s = SCENARIOS.get(box.dataset.scenario);
  packetList(box.querySelector('.packets-slot'), `${s.id}-packets`, `Packets of ${s.name}`, SCENARIO_COLUMNS, s.packets, 10);
}, true);

// ---------------------------------------------------------------- start

// In a large report, pages of steps and chunks of diagram rows are drawn as they come
// within a screen or so of the view.
function drawWhenNear() {
  const pages = new IntersectionObserver(entries => {
    for (const x of entries) if (x.isIntersecting) { drawPage(PAGES[+x.target.dataset.page]); pages.unobserve(x.target); }
  }, { root: byId('main'), rootMargin: '1500px 0px' });
  for (const page of PAGES) if (!page.drawn) pages.observe(document.querySelector(`.step-page[data-page="${page.n}"]`));
  for (const box of document.querySelectorAll('.diagram-scroll')) {
    const s = SCENARIOS.get(box.dataset.scenario);
    const chunks = new IntersectionObserver(entries => {
      for (const x of entries) if (x.isIntersecting) { drawChunk(s, +x.target.dataset.chunk); chunks.unobserve(x.target); }
    }, { root: box, rootMargin: '400px 0px' });
    for (const el of box.querySelectorAll('.dchunk')) chunks.observe(el);
  }
}

function start() {
  renderHeader();
  renderNav();
  renderSummary();
  packetList(byId('packets-slot'), 'packets-table', 'Packets of every scenario', FOLDER_COLUMNS, PACKETS, 12);
  byId('main').insertAdjacentHTML('beforeend', DATA.scenarios.map(renderScenario).join(''));
  if (LAZY) drawWhenNear();
  else {
    PAGES.forEach(drawPage);
    for (const s of DATA.scenarios) CHUNKS.get(s.id).forEach((_, k) => drawChunk(s, k));
  }
  setUpFilters();
  // Open on the first failing step (with none, on the first scenario that did not pass);
  // an address that already names a place wins.
  if (!followHash()) {
    const s = DATA.scenarios.find(x => x.steps.some(st => st.result === 'fail'));
    const bad = DATA.scenarios.find(x => x.result !== 'pass');
    if (s) {
      const st = s.steps.find(x => x.result === 'fail'), g = diagramRow(s, st.index);
      if (g) showRow(g);
      reveal(stepEl(s, st.index), null);
    } else if (bad) goToScenario(bad);
  }
  document.body.dataset.ready = '1';
}

// Every file of the script has run by now; the data is drawn at once.
start();
