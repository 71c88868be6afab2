#include "review/page_assets.hpp"

namespace georef::review::detail {

const char* const kPageStyle = R"CSS(
body { font: 14px/1.4 system-ui, sans-serif; margin: 16px 24px; color: #222; background: #fff; }
h1 { font-size: 22px; margin: 0 0 8px; }
h2 { font-size: 18px; margin: 24px 0 8px; }
.legend span { display: inline-block; margin-right: 16px; }
.legend i { display: inline-block; width: 14px; height: 14px; margin-right: 4px; vertical-align: -2px; border: 2px solid; }
.map { position: relative; width: 100%; max-width: 1600px; background: #e8e8e8; overflow: hidden; border: 1px solid #999; }
.map img { position: absolute; display: block; }
.map svg { position: absolute; left: 0; top: 0; width: 100%; height: 100%; }
.map polygon { stroke-width: 2px; vector-effect: non-scaling-stroke; }
.map text { text-anchor: middle; dominant-baseline: central; fill: #000; paint-order: stroke; stroke: #fff; stroke-width: 3px; vector-effect: non-scaling-stroke; font-weight: bold; }
.map a:hover polygon { stroke-width: 4px; }
.s-done { --c: #1f8a3c; --f: rgba(31, 138, 60, 0.14); }
.s-failed { --c: #d01c2a; --f: rgba(208, 28, 42, 0.42); }
.s-skipped { --c: #e08600; --f: rgba(224, 134, 0, 0.36); }
.s-notInList { --c: #6d6d6d; --f: rgba(109, 109, 109, 0.25); }
polygon.s-done, polygon.s-failed, polygon.s-skipped, polygon.s-notInList { fill: var(--f); stroke: var(--c); }
.legend i { background: var(--f); border-color: var(--c); }
table { border-collapse: collapse; }
th, td { border: 1px solid #bbb; padding: 3px 8px; vertical-align: top; }
th { background: #eee; cursor: pointer; user-select: none; white-space: nowrap; position: sticky; top: 0; }
th.asc::after { content: " \25B2"; }
th.desc::after { content: " \25BC"; }
td.num { text-align: right; font-variant-numeric: tabular-nums; }
td.status { font-weight: bold; color: var(--c); border-left: 6px solid var(--c); }
tr:target td { background: #fff6bf; }
td.message { max-width: 28em; }
td.picture img { width: 240px; height: auto; display: block; }
.seams { display: flex; flex-direction: column; gap: 12px; }
.seams figure { margin: 0; content-visibility: auto; contain-intrinsic-size: auto 1200px auto 100px; }
.seams img { max-width: 100%; height: auto; display: block; border: 1px solid #999; }
.seams figcaption { font-size: 13px; color: #444; }
.note { color: #8a4b00; }
.map line.seam { stroke-width: 5px; vector-effect: non-scaling-stroke; stroke-linecap: round; }
.map line.seam-unmeasured { stroke-dasharray: 6 4; }
.map a:hover line.seam { stroke-width: 8px; }
td.seams-suspect, figure.seam-suspect figcaption { color: #d01c2a; font-weight: bold; }
)CSS";

const char* const kPageScript = R"JS(
(function () {
  'use strict';
  const table = document.getElementById('sheets');
  if (!table) return;
  const body = table.tBodies[0];
  const heads = Array.from(table.tHead.rows[0].cells);
  // Sort key of a cell: its data-v attribute, else its text.
  const key = (row, column, numeric) => {
    const cell = row.cells[column];
    const raw = cell.hasAttribute('data-v') ? cell.getAttribute('data-v') : cell.textContent.trim();
    if (raw === '') return null;
    return numeric ? Number(raw) : raw.toLowerCase();
  };
  heads.forEach((head, column) => {
    head.addEventListener('click', () => {
      const numeric = head.dataset.type === 'num';
      const ascending = !head.classList.contains('asc');
      heads.forEach(h => h.classList.remove('asc', 'desc'));
      head.classList.add(ascending ? 'asc' : 'desc');
      const rows = Array.from(body.rows).map((row, index) => ({ row, index, k: key(row, column, numeric) }));
      rows.sort((a, b) => {
        if (a.k === null || b.k === null) {
          return (a.k === null) - (b.k === null) || a.index - b.index;  // empty cells last
        }
        const order = a.k < b.k ? -1 : a.k > b.k ? 1 : 0;
        return (ascending ? order : -order) || a.index - b.index;
      });
      const fragment = document.createDocumentFragment();
      rows.forEach(r => fragment.appendChild(r.row));
      body.appendChild(fragment);
    });
  });
})();
)JS";

}  // namespace georef::review::detail
