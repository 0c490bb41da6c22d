// The packet lists (see common.js): every record sent or received, across the folder
// and per scenario, like a capture tool's packet list, with the selected packet's
// record below its list. And the copy-out texts of a line's record.

// What a line's record copies out as: its hex, the sapp-host decode command line that
// prints its fields, and a scenario step that delivers the same bytes to the module
// (by its fields where they encode back to exactly these bytes, else as hex).
function lineCopy(L) {
  const l = L.data, j = l.json, body = j.send || j.recv.packet;
  const copy = { hex: () => body.hex };
  if (l.record.name) copy.decode = () => decodeCommand(['--uri', String(body.uri)], body.hex);
  copy.step = () => {
    const sid = j.recv ? j.recv.sid : given(l.sid) ? l.sid : (body.fields && body.fields.sid) || 0;
    const packet = { sid, uri: body.uri };
    if (given(body.res) && body.res !== 200) packet.res = body.res;
    if (l.record.canonical && body.fields) packet.record = body.fields; else packet.hex = body.hex;
    const what = `${l.record.name || 'the body'} ${j.send ? 'sent' : 'received'}`;
    return json({ note: `${what} in ${L.s.file}, step ${L.st.index}, line ${L.i}`, packet });
  };
  return copy;
}

// A line's record as a view, with its copy-out.
function lineRecordView(L, title) {
  const l = L.data, j = l.json || {}, body = j.send || (j.recv && j.recv.packet) || {};
  return new RecordView(l.record, hexBytes(body.hex || ''), body.fields, title, lineCopy(L));
}

const DIR_TEXT = { send: 'send ↑', recv: 'recv ↓' };
const PACKET_COLUMNS = [
  { key: 'no', title: 'No.', num: true, width: '4.2em', cls: 'num', value: p => p.no, html: p => p.no },
  { key: 'time', title: 'Time (s)', num: true, width: '6.4em', cls: 'num', value: p => p.time, html: p => seconds(p.time) },
  { key: 'dir', title: 'Dir', width: '5.6em', value: p => p.dir, html: p => `<span class="dir" data-dir="${p.dir}">${DIR_TEXT[p.dir]}</span>` },
  { key: 'session', title: 'Session', width: '5em', value: p => p.session, html: p => esc(p.session) },
  { key: 'uri', title: 'URI', num: true, width: '6.4em', cls: 'num', value: p => p.uri,
    html: p => `<span title="${uriParts(p.uri)}">${p.uri}</span>` },
  { key: 'record', title: 'Record', width: '11.5em', value: p => p.record, html: p => p.record ? esc(p.record) : '<span class="dim">none</span>' },
  { key: 'length', title: 'Length', num: true, width: '4.6em', cls: 'num', value: p => p.length, html: p => p.length },
  { key: 'summary', title: 'Summary', width: 'minmax(8em, 1fr)', value: p => p.summary, html: p => esc(p.summary) },
];
// The folder's list also names each packet's scenario; a scenario's numbers its own.
const FOLDER_COLUMNS = [...PACKET_COLUMNS.slice(0, 1),
  { key: 'scenario', title: 'Scenario', width: 'minmax(6em, 11em)', value: p => p.scenario, html: p => esc(p.scenario) },
  ...PACKET_COLUMNS.slice(1)];
const SCENARIO_COLUMNS = [{ ...PACKET_COLUMNS[0], value: p => p.scenarioNo, html: p => p.scenarioNo }, ...PACKET_COLUMNS.slice(1)];

const PACKET_LISTS = [];  // every packet list drawn: {table, rows (all of its packets)}

// A packet list with its record pane, in `slot`: selecting a row shows its record in
// the pane; opening it (Enter, double click) goes to its line in its step.
function packetList(slot, id, label, columns, rows, visible) {
  const pane = document.createElement('div');
  pane.className = 'packet-pane';
  pane.innerHTML = '<p class="empty">Select a packet (click, or the arrow keys in the list) to see its fields and bytes.</p>';
  let pending = 0;
  const table = new Table({
    id, label, columns, rows, visible, noun: 'packet',
    onSelect: p => {  // the pane follows the keyboard a frame later, at most once a frame
      cancelAnimationFrame(pending);
      pending = requestAnimationFrame(() => showPacket(pane, p));
    },
    onOpen: p => goToLine(p.L, true),
  });
  PACKET_LISTS.push({ table, rows });
  slot.append(table.el, pane);
  table.setRows(rows.filter(p => p.L.shown));
  return table;
}

function showPacket(pane, p) {
  pane.packet = p;
  const L = p.L, here = `step ${L.st.index}, line ${given(L.data.effect) ? `[${L.data.effect}]` : L.i}`;
  pane.innerHTML = `<p class="packet-head"><span class="label">No. ${p.no}</span> ${esc(p.scenario)} · ${here} · ` +
    `${seconds(p.time)} s · <a class="to-line" href="#${stepId(L.s.id, L.st.index)}-line${L.i}">go to the line</a></p>`;
  pane.appendChild(lineRecordView(L, `<strong>${esc(p.record || 'a body without a record')}</strong> ` +
    `<span class="dim">${DIR_TEXT[p.dir]} uri ${p.uri} (${uriParts(p.uri)})${p.session ? ` · session ${esc(p.session)}` : ''}</span>`).el);
}

// After the filters change: each list shows the packets of the lines they show.
function filterPacketLists() {
  for (const { table, rows } of PACKET_LISTS) table.setRows(rows.filter(p => p.L.shown));
}
