// The sequence diagram of a scenario (see common.js).

// Four fixed lifelines make the diagram a list of rows, one per Row of the data, each
// of a fixed height. Labels are monospace, so their width is known without measuring:
// a label longer than its room is cut, and its whole text is in the row's <title>.
// The rows are drawn in chunks of whole steps, each its own SVG of a known height; a
// large report draws a chunk only when it comes near the view (LAZY, common.js).
const ACTORS = ['Server', 'Host', 'Module', 'Client'];
const DG = { width: 940, gutter: 52, row: 26, char: 7.25, chunk: 200 };
const actorX = a => DG.gutter + (DG.width - DG.gutter) * (ACTORS.indexOf(a) + 0.5) / ACTORS.length;
const fit = (text, px) => text.length > Math.floor(px / DG.char) ? text.slice(0, Math.floor(px / DG.char) - 1) + '…' : text;
const CHUNKS = new Map();  // scenario id -> [{steps: [step data], rows, el, drawn}]

// The frame of a scenario's diagram, its chunks still empty at their full height.
function renderDiagram(s) {
  const chunks = [];
  let chunk = null;
  for (const st of s.steps) {
    if (!st.diagram.length) continue;
    if (!chunk || chunk.rows + st.diagram.length > DG.chunk && chunk.rows) chunks.push(chunk = { steps: [], rows: 0, el: null, drawn: false });
    chunk.steps.push(st);
    chunk.rows += st.diagram.length;
  }
  CHUNKS.set(s.id, chunks);
  const total = chunks.reduce((n, c) => n + c.rows, 0);
  const heads = ACTORS.map(a => `<span style="left:${actorX(a)}px">${a}</span>`).join('');
  const body = chunks.length ? chunks.map((c, k) => `<div class="dchunk" data-chunk="${k}" style="height:${c.rows * DG.row}px"></div>`).join('')
    : `<svg class="diagram" width="${DG.width}" height="34"><text class="empty" x="${DG.width / 2}" y="22">no diagram: nothing was played</text></svg>`;
  return `<div class="diagram-frame"><div class="heads-clip"><div class="heads" style="width:${DG.width}px">${heads}</div></div>` +
    `<div class="diagram-scroll" data-scenario="${esc(s.id)}" role="group" aria-label="Sequence diagram of ${esc(s.name)}, ` +
    `${plural(total, 'row')}" style="contain-intrinsic-size:auto ${Math.min(total * DG.row + 12, 640)}px">` +
    `<div class="dpad">${body}</div></div></div>`;
}

// Draws one chunk: its steps' bands, the lifelines and the rows.
function drawChunk(s, k) {
  const chunk = CHUNKS.get(s.id)[k];
  if (chunk.drawn) return chunk.el;
  chunk.drawn = true;
  const height = chunk.rows * DG.row;
  let bands = '', body = '', n = 0;
  // Bands alternate over the whole diagram: count the steps drawn in the chunks before.
  let drawn = CHUNKS.get(s.id).slice(0, k).reduce((m, c) => m + c.steps.filter(st => st.result !== 'fail').length, 0);
  for (const st of chunk.steps) {
    const cls = st.result === 'fail' ? 'band failed' : drawn++ % 2 ? 'band odd' : 'band';
    bands += `<rect class="${cls}" x="0" y="${n * DG.row}" width="${DG.width}" height="${st.diagram.length * DG.row}"/>`;
    st.diagram.forEach((r, j) => { body += renderRow(st, r, j === 0, n++ * DG.row); });
  }
  const lifelines = ACTORS.map(a => `<line class="lifeline" x1="${actorX(a)}" y1="0" x2="${actorX(a)}" y2="${height}"/>`).join('');
  chunk.el = document.querySelector(`.diagram-scroll[data-scenario="${s.id}"] .dchunk[data-chunk="${k}"]`);
  chunk.el.innerHTML = `<svg class="diagram" data-scenario="${esc(s.id)}" width="${DG.width}" height="${height}" ` +
    `viewBox="0 0 ${DG.width} ${height}">${bands}${lifelines}${body}</svg>`;
  return chunk.el;
}

// The row of a step (its first, or the one of line `line`), its chunk drawn.
function diagramRow(s, stepIndex, line) {
  const k = CHUNKS.get(s.id).findIndex(c => c.steps.some(st => st.index === stepIndex));
  if (k < 0) return null;
  const el = drawChunk(s, k);
  return (given(line) && el.querySelector(`[data-step="${stepIndex}"][data-line="${line}"]`)) ||
    el.querySelector(`[data-step="${stepIndex}"]`);
}

// The row after (or before) a row, across chunks.
function nextRow(g, dir) {
  const near = dir > 0 ? g.nextElementSibling : g.previousElementSibling;
  if (near && near.matches('g.arrow, g.note')) return near;
  const s = SCENARIOS.get(g.closest('.diagram-scroll').dataset.scenario);
  const k = +g.closest('.dchunk').dataset.chunk + dir;
  if (k < 0 || k >= CHUNKS.get(s.id).length) return null;
  const rows = drawChunk(s, k).querySelectorAll('g.arrow, g.note');
  return rows[dir > 0 ? 0 : rows.length - 1];
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
