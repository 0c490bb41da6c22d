// The script of `sapp-host report`, in four files that the build joins into the page's
// one script in this order: common.js (the data and small helpers), diagram.js (the
// sequence diagram), record.js (a record's field tree and hex dump) and page.js (the
// page: header, scenarios, steps, filters, events; it starts everything once the whole
// script has run). It reads the report data embedded in the page and draws it.
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
