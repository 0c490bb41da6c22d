// The page: header, scenarios, steps, filters and events (see common.js).

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

// Every file of the script has run by now; the data is drawn at once.
start();
