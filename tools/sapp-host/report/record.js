// A record's field tree, hex dump and copy-out (see common.js). Bytes have one
// presentation on the whole page: this dump, 16 a row with the offset and the ASCII.

// The two-digit hex and the ASCII column character of every byte value.
const HEX2 = Array.from({ length: 256 }, (_, b) => b.toString(16).padStart(2, '0'));
const ASCII = HEX2.map((_, b) => b >= 0x20 && b < 0x7f ? esc(String.fromCharCode(b)) : '·');
const TREE_OPEN_LIMIT = 300;  // records with more fields show only their top level at first
const HEX_BLOCK = 32;         // rows of 16 bytes per block of a hex dump
const VIEWS = new WeakMap();  // .record element -> its RecordView
let ACTIVE = [];              // the views whose bytes carry the highlight: one, or linked ones

function hexBytes(hex) {
  const out = new Uint8Array(hex.length >> 1);
  for (let i = 0; i < out.length; i++) out[i] = parseInt(hex.substr(i * 2, 2), 16);
  return out;
}

// How a scalar reads, in the tree and in a check's differences alike: byte strings
// (hex) also as text when printable.
function scalarText(v) {
  if (typeof v !== 'string' || !/^(?:[0-9a-f]{2})*$/i.test(v)) return esc(json(v));  // numbers, wide strings
  if (v === '') return '<span class="absent">empty</span>';
  const text = v.length <= 128 ? String.fromCharCode(...hexBytes(v)) : '';
  if (/^[\x20-\x7e]+$/.test(text)) return `${esc(json(text))} <span class="dim">0x${esc(v)}</span>`;
  return `0x${esc(clip(v, 64))} <span class="dim">${plural(v.length / 2, 'byte')}</span>`;
}

// The parent of a field path: "apps.7.versions[0]" -> "apps.7.versions" -> "apps.7"; "" at the top.
const parentPath = path => path.replace(/(?:\.[^.[\]]+|\[\d+\]|^[^.[\]]+)$/, '');

// One record (or zipped payload) opened: its field tree and its hex dump, linked both
// ways through the byte ranges ("spans") of its fields. The fields of a payload that
// is not zipped are fields of the record (its bytes are the record's); a zipped one
// opens in place as a view of its own over its inflated bytes. `copy` gives the texts
// of the copy-out buttons ({hex, decode, step}: functions, or null where there is none).
class RecordView {
  constructor(rec, bytes, fields, title, copy) {
    this.bytes = bytes;
    this.copy = copy;
    this.spans = rec.spans || [];
    this.spanByPath = new Map(this.spans.map(sp => [sp.path, sp]));
    this.payloadByPath = new Map((rec.payloads || []).map(p => [p.path, p]));
    this.values = new Map();  // path -> value, of folded containers and of zipped payloads
    this.owner = null;        // per byte, the index of the innermost span holding it
    this.hl = null;           // {begin, end, field}: what has the class "hl" now
    this.diff = null;         // per byte, 1 where a check's difference lies (class "diff")
    this.selected = null;     // the selected .field
    this.cursor = -1;         // the byte the keyboard is on in the hex dump
    this.pending = 0;         // a scheduled return from a hover to the selection
    this.byteEls = [];        // per offset, its .byte and its ASCII .ch once built (plain arrays:
    this.charEls = [];        // live collections slow down with every class change)
    this.blocks = 0;          // blocks of the hex dump built so far
    this.peers = [];          // views that keep their highlight beside this one's (side by side)
    const el = this.el = document.createElement('div');
    el.className = 'record';
    const open = this.spans.length <= TREE_OPEN_LIMIT;
    const tree = fields && typeof fields === 'object' ? `<ul class="tree-list">${this.treeHtml(fields, '', open)}</ul>`
      : '<p class="empty">No decoded fields.</p>';
    const error = rec.error ? ` · <span class="error">${esc(rec.error)}</span>` : '';
    const buttons = copy ? Object.keys(COPY_LABELS).filter(k => copy[k]).map(k =>
      `<button type="button" class="copy" data-what="${k}" title="${esc(COPY_LABELS[k][1])}">${COPY_LABELS[k][0]}</button>`).join('') : '';
    el.innerHTML = `<div class="record-head"><p>${title} · ${plural(bytes.length, 'byte')}${error}</p>` +
      (buttons ? `<span class="copy-out" role="group" aria-label="Copy out"><span class="label">copy</span>${buttons}</span>` : '') +
      `</div><div class="copied" hidden><textarea readonly rows="2" spellcheck="false" aria-label="Copied text"></textarea>` +
      `<output class="copy-status"></output></div><div class="panes">` +
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
    if (payload && payload.zipped) {  // a record of its own over the inflated bytes, opened on demand
      this.values.set(path, v);
      summary = `<span class="dim">${esc(payload.name)}</span>`;
      after = `<button type="button" class="payload-toggle" aria-expanded="false" data-path="${esc(path)}">` +
        `${esc(payload.name)}, inflated</button><div class="payload-slot"></div>`;
    } else if (v !== null && typeof v === 'object') {  // a container, its children built when first unfolded
      const n = Array.isArray(v) ? v.length : Object.keys(v).length;
      summary = `<span class="dim">${payload ? esc(payload.name) + ' ' : ''}${Array.isArray(v) ? `[${n}]` : `{${n}}`}</span>`;
      if (n) {
        twisty = `<button type="button" class="twisty" aria-expanded="${open}" title="Fold or unfold"><span class="sr-only">${esc(label)}</span></button>`;
        if (!open) this.values.set(path, v);
        after = `<ul class="children"${open ? '>' + this.treeHtml(v, path, true) : ' data-lazy hidden>'}</ul>`;
      }
    } else summary = scalarText(v);
    const where = !sp ? '' : `<span class="range">${sp.end - sp.begin > 1 ? `${sp.begin}–${sp.end - 1}` : sp.end > sp.begin ? sp.begin : `at ${sp.begin}`}</span>`;
    const diff = this.diffPaths && this.diffPaths.has(path) ? ' diff' : '';
    return `<li>${twisty}<button type="button" class="field${diff}" data-path="${esc(path)}"${sp ? ` data-begin="${sp.begin}" data-end="${sp.end}"` : ''}>` +
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

  // The classes of byte i: lit by the selection or a hover, part of a difference.
  cls(i) {
    const hl = this.hl;
    return (this.diff && this.diff[i] ? ' diff' : '') + (hl && i >= hl.begin && i < hl.end ? ' hl' : '');
  }

  rowHtml(from, to, digits) {
    const b = this.bytes;
    let hx = '', asc = '';
    for (let i = from; i < to; i++) {
      const cls = this.cls(i);
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
  // and in no other but its peers: the view shown last takes the highlight from the ones
  // before.
  show(begin, end, field) {
    for (const view of ACTIVE) if (view !== this && !this.peers.includes(view)) view.mark(null);
    ACTIVE = ACTIVE.filter(view => this.peers.includes(view)).concat(this);
    end = Math.min(end, this.bytes.length);
    this.mark({ begin, end: Math.max(begin, end), field });
  }

  // Whole class names are written (much faster than classList calls over a 64 KB field);
  // bytes not built yet end the loops, as blocks are built in order.
  mark(next) {
    const hl = this.hl, bytes = this.byteEls, chars = this.charEls;
    if (hl && next && hl.begin === next.begin && hl.end === next.end && hl.field === next.field) return;
    this.hl = next;
    const paint = range => {
      for (let i = range.begin; i < range.end && bytes[i]; i++) {
        const cls = this.cls(i);
        bytes[i].className = 'byte' + cls;
        chars[i].className = 'ch' + cls;
      }
    };
    if (hl) {
      paint(hl);
      if (hl.field) hl.field.classList.remove('hl');
    }
    if (!next) return;
    paint(next);
    if (next.field) next.field.classList.add('hl');
    if (bytes[this.cursor]) bytes[this.cursor].classList.add('cursor');
  }

  // Marks where a check's differences lie, by field path: their bytes and their fields
  // keep the class "diff". A path inside a zipped payload opens that payload and is
  // marked there; the payload's own bytes here are marked whole.
  markDifferences(paths) {
    this.diff = this.diff || new Uint8Array(this.bytes.length);
    this.diffPaths = this.diffPaths || new Set();
    for (const path of paths) {
      let sp = this.spanByPath.get(path);
      for (const p of this.payloadByPath.values()) {
        if (!p.zipped || !path.startsWith(p.path + '.')) continue;
        this.openPayload(p.path).markDifferences([path.slice(p.path.length + 1)]);
        sp = this.spanByPath.get(p.path);
      }
      if (!sp) continue;
      this.diffPaths.add(sp.path);
      this.diff.fill(1, sp.begin, Math.min(sp.end, this.bytes.length));
      const f = this.reveal(sp.path);
      if (f) f.classList.add('diff');
    }
    for (let i = 0; i < this.byteEls.length; i++) if (this.diff[i]) {
      this.byteEls[i].classList.add('diff');
      this.charEls[i].classList.add('diff');
    }
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

  // Selects the field at a path (or the nearest field holding it), opening a zipped
  // payload that holds it; returns the view the field is in and the field.
  selectPath(path) {
    for (const p of this.payloadByPath.values())
      if (p.zipped && path.startsWith(p.path + '.')) return this.openPayload(p.path).selectPath(path.slice(p.path.length + 1));
    for (let p = path, f; p; p = parentPath(p)) if ((f = this.reveal(p))) { this.select(f); return [this, f]; }
    return [this, null];
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

  // Opens (or closes) a zipped payload in place, under its field, as a record of its
  // own over its inflated bytes.
  togglePayload(btn) {
    const slot = btn.nextElementSibling, open = btn.getAttribute('aria-expanded') !== 'true';
    if (open && !slot.firstChild) {
      const p = this.payloadByPath.get(btn.dataset.path), bytes = hexBytes(p.hex || '');
      const title = `<strong>${esc(p.name)}</strong> <span class="dim">(zlib: the bytes below are the inflated ones)</span>`;
      slot.appendChild(new RecordView(p, bytes, this.values.get(btn.dataset.path), title,
        { hex: () => p.hex, decode: () => decodeCommand(['--record', p.name], p.hex) }).el);
    }
    btn.setAttribute('aria-expanded', String(open));
    slot.hidden = !open;
    // A record holding an open payload stacks its tree above its bytes, to give it room.
    this.el.classList.toggle('stacked', [...this.tree.querySelectorAll('.payload-toggle[aria-expanded="true"]')]
      .some(b => b.closest('.record') === this.el));
  }

  // The view of a zipped payload, opened.
  openPayload(path) {
    const btn = this.field(path).parentElement.querySelector(':scope > .payload-toggle');
    if (btn.getAttribute('aria-expanded') !== 'true') this.togglePayload(btn);
    return VIEWS.get(btn.nextElementSibling.firstChild);
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

  // Shows the text of a copy-out button, selected, and puts it on the clipboard where
  // the browser lets a page from disk do so; else the selection is there to copy.
  copyOut(what) {
    const box = this.el.querySelector(':scope > .copied'), area = box.firstChild, status = box.lastChild;
    area.value = this.copy[what]();
    box.hidden = false;
    box.dataset.what = what;
    area.select();
    const by = 'Selected: press Ctrl+C (⌘C) to copy.';
    status.textContent = '';
    const fallback = () => {
      area.select();
      let copied = false;
      try { copied = document.execCommand('copy'); } catch (e) { copied = false; }
      status.textContent = copied ? 'Copied.' : by;
    };
    if (navigator.clipboard && window.isSecureContext)
      navigator.clipboard.writeText(area.value).then(() => { status.textContent = 'Copied.'; }, fallback);
    else fallback();
  }
}

// The copy-out buttons: label and tooltip.
const COPY_LABELS = {
  hex: ['hex', 'The bytes as hex'],
  decode: ['decode command', 'A sapp-host decode command line that prints these fields'],
  step: ['step JSON', 'A scenario step that delivers these bytes, for sapp-host run'],
};

const decodeCommand = (args, hex) => ['sapp-host', 'decode', ...args, hex || '""'].join(' ');

const viewOf = el => VIEWS.get(el.closest('.record'));
