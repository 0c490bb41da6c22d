// A sortable list of many rows (see common.js): the scenario summary and the packet
// lists. Rows have one height, so the list draws only those in view and a spacer
// holds the scroll bar; ten thousand rows cost what twenty do.
//
// One row is selected at a time. Keys on the list: Up and Down, Page Up and Page
// Down, Home and End move the selection; Enter opens the selected row. A click
// selects, a double click opens. Each column's heading is a button that sorts by it,
// ascending first, descending on a second press.

const ROW_H = 22;          // px, as .trow in page.css
const TABLES = new Map();  // .table element -> its Table

class Table {
  // columns: [{key, title, num (sorts as a number), cls, width (a grid track),
  //            value: row -> sort key, html: row -> cell HTML}]
  // rows: the rows in their first order; visible: rows shown before it scrolls;
  // onSelect(row), onOpen(row); noun: what a row is, for the count ("packet").
  constructor({ id, label, columns, rows, visible, onSelect, onOpen, noun }) {
    Object.assign(this, { id, columns, onSelect, onOpen, noun, all: rows, rows, visible });
    this.sortKey = null;
    this.dir = 1;
    this.selected = null;
    this.drawn = null;  // [first, last) drawn, for the rows as they are now
    const cols = columns.map(c => c.width).join(' ');
    const el = this.el = document.createElement('div');
    el.className = 'table';
    el.id = id;
    el.style.setProperty('--cols', cols);
    const heads = columns.map((c, k) => `<div role="columnheader" class="th ${c.cls || ''}" aria-colindex="${k + 1}" aria-sort="none">` +
      `<button type="button" class="sort" data-key="${esc(c.key)}" title="Sort by ${esc(c.title)}">${esc(c.title)}</button></div>`).join('');
    el.innerHTML = `<div role="grid" aria-label="${esc(label)}" aria-colcount="${columns.length}">` +
      `<div class="thead" role="rowgroup"><div class="trow" role="row" aria-rowindex="1">${heads}</div></div>` +
      `<div class="tbody" role="rowgroup" tabindex="0" aria-label="${esc(label)}: arrow keys select, Enter opens">` +
      `<div class="tspace"><div class="trows"></div></div></div></div><p class="tcount" aria-live="polite"></p>`;
    this.grid = el.firstChild;
    this.body = el.querySelector('.tbody');
    this.space = el.querySelector('.tspace');
    this.list = el.querySelector('.trows');
    this.count = el.querySelector('.tcount');
    TABLES.set(el, this);
    this.layout();
  }

  // The rows the filters leave, in their first order; the sort and the selection stay.
  setRows(rows) {
    this.filtered = rows;
    this.rows = this.sortKey ? this.sorted(rows) : rows;
    this.layout();
  }

  sorted(rows) {
    const col = this.columns.find(c => c.key === this.sortKey), dir = this.dir;
    const keyed = rows.map((row, k) => [col.value(row), k, row]);
    keyed.sort((a, b) => (col.num ? a[0] - b[0] : String(a[0]).localeCompare(String(b[0]))) * dir || a[1] - b[1]);
    return keyed.map(x => x[2]);
  }

  // Sorts by a column: ascending, or the other way when it is sorted by it already.
  sortBy(key) {
    this.dir = this.sortKey === key ? -this.dir : 1;
    this.sortKey = key;
    for (const th of this.grid.querySelectorAll('[role=columnheader]'))
      th.setAttribute('aria-sort', th.firstChild.dataset.key !== key ? 'none' : this.dir > 0 ? 'ascending' : 'descending');
    this.rows = this.sorted(this.filtered || this.all);
    this.layout();
    const k = this.rows.indexOf(this.selected);
    if (k >= 0) this.scrollTo(k);
  }

  // Sizes the list to its rows and draws those in view.
  layout() {
    const n = this.rows.length;
    this.grid.setAttribute('aria-rowcount', String(n + 1));
    this.body.style.height = `${Math.max(1, Math.min(n, this.visible)) * ROW_H}px`;
    this.space.style.height = `${n * ROW_H}px`;
    const total = this.all.length;
    this.count.textContent = n === total ? plural(total, this.noun) : `${n} of ${plural(total, this.noun)} shown`;
    this.drawn = null;
    this.draw();
  }

  // Draws the rows in view and a few around them; the list keeps its scroll position.
  draw() {
    const top = this.body.scrollTop, n = this.rows.length;
    const first = Math.max(0, Math.floor(top / ROW_H) - 8);
    const last = Math.min(n, Math.ceil((top + this.visible * ROW_H) / ROW_H) + 8);
    if (this.drawn && this.drawn[0] === first && this.drawn[1] === last) return;
    this.drawn = [first, last];
    let html = '';
    for (let k = first; k < last; k++) {
      const row = this.rows[k], sel = row === this.selected;
      html += `<div class="trow${sel ? ' sel' : ''}" role="row" id="${this.id}-r${k}" data-k="${k}" aria-rowindex="${k + 2}" ` +
        `aria-selected="${sel}">${this.columns.map(c => `<div role="gridcell" class="td ${c.cls || ''}">${c.html(row)}</div>`).join('')}</div>`;
    }
    this.list.style.transform = `translateY(${first * ROW_H}px)`;
    this.list.innerHTML = html || `<p class="empty">No ${this.noun} passes the filters.</p>`;
    const k = this.rows.indexOf(this.selected);
    if (k >= first && k < last) this.body.setAttribute('aria-activedescendant', `${this.id}-r${k}`);
    else this.body.removeAttribute('aria-activedescendant');
  }

  // Scrolls the list so that row k shows.
  scrollTo(k) {
    const top = k * ROW_H, view = this.visible * ROW_H, at = this.body.scrollTop;
    if (top < at) this.body.scrollTop = top;
    else if (top + ROW_H > at + view) this.body.scrollTop = top + ROW_H - view;
    this.draw();
  }

  select(k) {
    if (!this.rows.length) return;
    k = Math.max(0, Math.min(this.rows.length - 1, k));
    this.selected = this.rows[k];
    this.drawn = null;
    this.scrollTo(k);
    this.onSelect(this.selected);
  }

  key(e) {
    const k = this.rows.indexOf(this.selected), page = this.visible - 1;
    const to = { ArrowDown: k + 1, ArrowUp: k - 1, PageDown: k + page, PageUp: k - page, Home: 0, End: this.rows.length - 1 }[e.key];
    if (to !== undefined) this.select(k < 0 && e.key !== 'End' ? 0 : to);
    else if (e.key === 'Enter' && this.selected) this.onOpen(this.selected);
    else return;
    e.preventDefault();
  }

  rowAt(el) { return this.rows[+el.closest('.trow').dataset.k]; }
}

const tableOf = el => TABLES.get(el.closest('.table'));
