// The sequence diagram of a scenario (see common.js).

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
