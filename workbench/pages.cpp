#include "workbench/pages.hpp"

#include <algorithm>

namespace georef::workbench {

namespace {

// Shared by both pages: how a page asks for a change (the header that
// proves the request comes from a page of this server).
const char* const kPostScript = R"JS(
function post(path, body) {
  return fetch(path, {method: 'POST', credentials: 'same-origin',
                      headers: {'Content-Type': 'application/json', 'X-Georef-Review': '1'},
                      body: JSON.stringify(body)});
}
)JS";

const char* const kMapPage = R"HTML(<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><title>Mosaic</title>
<link rel="stylesheet" href="/leaflet/leaflet.css">
<script src="/leaflet/leaflet.js"></script>
<style>
html, body { height: 100%; margin: 0; font-family: sans-serif; }
#bar { padding: 4px 8px; background: #eee; }
#map { position: absolute; top: 30px; bottom: 0; left: 0; right: 0; background: #e0e0e0; }
.sheet-number { background: none; border: none; box-shadow: none; font-weight: bold; font-size: 14px; }
</style></head>
<body>
<div id="bar"><a href="/review/index.html">Review page</a> &middot; <span id="note">loading the mosaic</span></div>
<div id="map"></div>
<script>
const COLOURS = {done: '#1a7f1a', skipped: '#1a5fb4', failed: '#c01c28'};
(async () => {
  const area = await (await fetch('/api/area', {credentials: 'same-origin'})).json();
  const note = document.getElementById('note');
  if (!area.layout) { note.textContent = 'no mosaic yet: no sheet has been painted'; }
  const L0 = area.layout || {width: 1000, height: 1000, deepestLevel: 2, tileSize: 256};
  // Map units are mosaic pixels ([row, column]); at the deepest level one
  // map pixel is one mosaic pixel, each level above halves it.
  const s = 1 / Math.pow(2, L0.deepestLevel);
  const crs = L.extend({}, L.CRS.Simple, {transformation: new L.Transformation(s, 0, s, 0)});
  const map = L.map('map', {crs: crs, minZoom: 0, maxZoom: L0.deepestLevel + 3, zoomSnap: 1});
  const bounds = [[0, 0], [L0.height, L0.width]];
  if (area.layout) {
    L.tileLayer('/tiles/{z}/{x}/{y}.jpg', {tileSize: L0.tileSize, maxNativeZoom: L0.deepestLevel,
      maxZoom: L0.deepestLevel + 3, minZoom: 0, bounds: bounds, noWrap: true, attribution: ''}).addTo(map);
    note.textContent = area.sheets.length + ' sheets; click a sheet for its state';
  }
  map.fitBounds(bounds);
  for (const sheet of area.sheets) {
    if (!sheet.outline.length) continue;
    const shape = L.polygon(sheet.outline, {color: COLOURS[sheet.status] || '#777', weight: 2, fillOpacity: 0.05,
                                            className: 'sheet-' + sheet.sheet});
    shape.bindTooltip(sheet.sheet, {permanent: true, direction: 'center', className: 'sheet-number'});
    const box = document.createElement('div');
    const title = document.createElement('b'); title.textContent = sheet.sheet + ': ' + sheet.status;
    const message = document.createElement('div'); message.textContent = sheet.message;
    const link = document.createElement('a'); link.href = '/sheet/' + sheet.sheet; link.textContent = 'corner editor';
    box.append(title, message, link);
    shape.bindPopup(box);
    shape.addTo(map);
  }
  document.body.dataset.ready = '1';
})();
</script>
</body></html>
)HTML";

const char* const kEditorHead = R"HTML(<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><title>Corners of sheet SHEET</title>
<style>
body { font-family: sans-serif; margin: 8px; }
#top { display: flex; gap: 16px; align-items: flex-start; }
#overview-box { position: relative; }
#overview { display: block; max-width: 520px; cursor: crosshair; }
#outline { position: absolute; left: 0; top: 0; pointer-events: none; }
#corners { display: grid; grid-template-columns: repeat(2, 392px); gap: 8px; }
.corner { border: 1px solid #999; padding: 2px; }
.view { position: relative; width: 384px; height: 384px; overflow: hidden; background: #808080; }
.view img { position: absolute; left: 0; top: 0; image-rendering: pixelated; cursor: crosshair; }
.mark { position: absolute; width: 0; height: 0; pointer-events: none; }
.mark::before, .mark::after { content: ''; position: absolute; background: #e01b24; }
.mark::before { left: -12px; top: -0.5px; width: 24px; height: 1px; }
.mark::after { left: -0.5px; top: -12px; width: 1px; height: 24px; }
pre { background: #f4f4f4; padding: 6px; font-size: 12px; }
.bad { color: #c01c28; } .good { color: #1a7f1a; }
button { margin: 2px; }
</style></head>
<body>
<p><a href="/review/index.html">Review page</a> &middot; <a href="/map">Mosaic</a></p>
<h1>Corners of sheet SHEET</h1>
<p id="status"></p>
<p>Click where each corner of the neat line lies in its view (scan pixels, enlarged);
a click on the reduced scan moves the chosen corner's view there. Corners start from <span id="source"></span>.</p>
<div id="top">
<div id="overview-box"><img id="overview" alt="the scan, reduced"><svg id="outline"></svg></div>
<div id="corners"></div>
</div>
<p><label><input type="checkbox" id="mirrored"> the scan is mirrored (film scanned from its back):
accept a mirrored fit (kept with the hand corner file while it is unchanged)</label></p>
<p><button id="save">Save and run</button> <button id="forget" hidden>Remove the hand corner file and run</button>
<span id="outcome"></span></p>
<div id="checks"></div>
<pre id="report"></pre>
<img id="picture" alt="corner picture" style="max-width: 100%">
)HTML";

const char* const kEditorScript = R"JS(
const NAMES = ['LD', 'LH', 'PH', 'PD'];
const TITLES = {LD: 'lower left', LH: 'upper left', PH: 'upper right', PD: 'lower right'};
const VIEW = 384;  // CSS pixels of a corner view
let info = null, corners = [], views = [], chosen = 0, scale = 1;

function cornerPanel(k) {
  const panel = document.createElement('div');
  panel.className = 'corner'; panel.id = 'corner-' + NAMES[k];
  const head = document.createElement('div');
  const label = document.createElement('b'); label.textContent = NAMES[k] + ' (' + TITLES[NAMES[k]] + ') ';
  const where = document.createElement('span'); where.className = 'where';
  const less = document.createElement('button'); less.textContent = '-'; less.className = 'zoom-out';
  const more = document.createElement('button'); more.textContent = '+'; more.className = 'zoom-in';
  head.append(label, where, less, more);
  const view = document.createElement('div'); view.className = 'view';
  const img = document.createElement('img'); img.alt = NAMES[k];
  const mark = document.createElement('div'); mark.className = 'mark';
  view.append(img, mark);
  panel.append(head, view);
  less.onclick = () => { zoom(k, 0.5); };
  more.onclick = () => { zoom(k, 2); };
  img.addEventListener('click', e => {
    const v = views[k], r = img.getBoundingClientRect();
    // The centre of pixel (c, r) of the crop is drawn at ((c + 0.5) zoom).
    const column = v.column + (e.clientX - r.left) / v.zoom - 0.5;
    const row = v.row + (e.clientY - r.top) / v.zoom - 0.5;
    corners[k] = [column, row];
    chosen = k;
    mark.dataset.placed = '1';
    showCorner(k); drawOutline(); check();
  });
  return panel;
}

function showView(k) {
  const v = views[k], panel = document.getElementById('corner-' + NAMES[k]);
  const img = panel.querySelector('img');
  img.src = '/api/sheet/' + info.sheet + '/crop.png?column=' + v.column + '&row=' + v.row + '&size=' + v.size;
  img.style.width = (v.size * v.zoom) + 'px'; img.style.height = (v.size * v.zoom) + 'px';
  showCorner(k);
}

function centreView(k, column, row) {
  const v = views[k];
  v.size = Math.max(8, Math.round(VIEW / v.zoom));
  v.column = Math.round(column) - Math.floor(v.size / 2);
  v.row = Math.round(row) - Math.floor(v.size / 2);
  showView(k);
}

function zoom(k, factor) {
  const v = views[k];
  v.zoom = Math.min(32, Math.max(1, v.zoom * factor));
  centreView(k, corners[k][0], corners[k][1]);
}

function showCorner(k) {
  const v = views[k], panel = document.getElementById('corner-' + NAMES[k]);
  const mark = panel.querySelector('.mark');
  mark.style.left = ((corners[k][0] - v.column + 0.5) * v.zoom) + 'px';
  mark.style.top = ((corners[k][1] - v.row + 0.5) * v.zoom) + 'px';
}

function drawOutline() {
  const svg = document.getElementById('outline'), img = document.getElementById('overview');
  svg.setAttribute('width', img.clientWidth); svg.setAttribute('height', img.clientHeight);
  const points = corners.map(p => ((p[0] + 0.5) * scale) + ',' + ((p[1] + 0.5) * scale)).join(' ');
  svg.innerHTML = '<polygon points="' + points + '" fill="none" stroke="#e01b24" stroke-width="1.5"/>';
}

async function check() {
  const answer = await post('/api/sheet/' + info.sheet + '/check', {corners: corners, acceptMirrored: mirrored()});
  const checks = document.getElementById('checks');
  checks.textContent = '';
  if (!answer.ok) { checks.textContent = await answer.text(); return; }
  const result = await answer.json();
  document.getElementById('report').textContent = result.report;
  for (const line of result.check.concat([result.batch])) {
    const p = document.createElement('div'); p.textContent = line;
    p.className = (line.startsWith('ok:') || line.startsWith('the batch accepts')) ? 'good' : 'bad';
    checks.append(p);
  }
  result.corners.forEach((c, k) => {
    document.querySelector('#corner-' + NAMES[k] + ' .where').textContent =
      'x ' + c[0].toFixed(1) + ', y ' + c[1].toFixed(1) + ' ';
  });
  document.body.dataset.checked = result.accepted ? 'accepted' : 'refused';
}

function mirrored() { return document.getElementById('mirrored').checked; }

// Saves the corners and runs the sheet (forget: removes the hand corner file
// and runs it from the batch's own corners).
async function run(forget) {
  const buttons = [document.getElementById('save'), document.getElementById('forget')];
  const outcome = document.getElementById('outcome');
  buttons.forEach(b => { b.disabled = true; });
  outcome.textContent = 'running the sheet...';
  document.body.dataset.saved = '';
  try {
    const answer = forget ? await post('/api/sheet/' + info.sheet + '/forget', {})
                          : await post('/api/sheet/' + info.sheet + '/save', {corners: corners, acceptMirrored: mirrored()});
    if (!answer.ok) { outcome.textContent = await answer.text(); document.body.dataset.saved = 'refused'; return; }
    const result = await answer.json();
    outcome.textContent = result.status + (result.message ? ': ' + result.message : '') +
      (result.tiles ? ', ' + result.tiles + ' tiles' : '') + (result.cornerFile ? ' (corners in ' + result.cornerFile + ')' : '');
    document.getElementById('status').textContent = 'the sheet is ' + result.status;
    document.getElementById('forget').hidden = Boolean(forget);
    const picture = document.getElementById('picture');
    picture.style.display = ''; picture.src = '/corners/' + info.sheet + '.png?v=' + Date.now();
    document.body.dataset.saved = result.status;
  } finally {
    buttons.forEach(b => { b.disabled = false; });
  }
}

(async () => {
  info = await (await fetch('/api/sheet/' + SHEET, {credentials: 'same-origin'})).json();
  document.getElementById('status').textContent =
    'the sheet is ' + info.status + (info.message ? ': ' + info.message : '');
  document.getElementById('source').textContent = info.startSource;
  corners = info.start.map(p => [p[0], p[1]]);
  const overview = document.getElementById('overview');
  overview.src = '/api/sheet/' + info.sheet + '/scan.jpg?max=1000';
  await new Promise(done => { overview.onload = done; overview.onerror = done; });
  scale = overview.clientWidth / info.width;
  const box = document.getElementById('corners');
  for (let k = 0; k < 4; ++k) {
    box.append(cornerPanel(k));
    views.push({zoom: 4, size: 96, column: 0, row: 0});
    centreView(k, corners[k][0], corners[k][1]);
  }
  overview.addEventListener('click', e => {
    const r = overview.getBoundingClientRect();
    centreView(chosen, (e.clientX - r.left) / scale - 0.5, (e.clientY - r.top) / scale - 0.5);
  });
  const picture = document.getElementById('picture');
  picture.onerror = () => { picture.style.display = 'none'; };
  picture.src = '/corners/' + info.sheet + '.png';
  document.getElementById('save').onclick = () => run(false);
  const forget = document.getElementById('forget');
  forget.hidden = !info.handFileExists;
  forget.onclick = () => run(true);
  const mirroredBox = document.getElementById('mirrored');
  mirroredBox.checked = Boolean(info.mirroredAccepted);  // as recorded with the hand corner file
  mirroredBox.onchange = check;
  drawOutline();
  await check();
  await Promise.all(Array.from(document.querySelectorAll('.view img')).map(img =>
    img.complete ? null : new Promise(done => { img.onload = done; img.onerror = done; })));
  document.body.dataset.ready = '1';
})();
)JS";

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    for (std::string::size_type at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

}  // namespace

std::string MapPage() { return kMapPage; }

std::string EditorPage(const std::string& sheetText) {
    return Replace(kEditorHead, "SHEET", sheetText) + "<script>\nconst SHEET = '" + sheetText + "';\n" +
           kPostScript + kEditorScript + "</script>\n</body></html>\n";
}

std::string WithNavigation(const std::string& page, const std::vector<SheetState>& sheets) {
    std::vector<SheetState> ordered = sheets;
    std::stable_sort(ordered.begin(), ordered.end(), [](const SheetState& a, const SheetState& b) {
        return (a.status == batch::SheetStatus::failed) > (b.status == batch::SheetStatus::failed);
    });
    std::string bar =
        "<nav id=\"workbench\" style=\"padding:6px;background:#eef;border:1px solid #99c;margin-bottom:8px\">"
        "<a href=\"/map\">Zoomable mosaic</a> &middot; corner editor:";
    for (const SheetState& sheet : ordered) {
        bar += " <a href=\"/sheet/" + sheet.sheetText + "\" class=\"fix-" +
               std::string(batch::StatusName(sheet.status)) + "\">" + sheet.sheetText +
               (sheet.status == batch::SheetStatus::failed ? " (failed)" : "") + "</a>";
    }
    bar += "</nav>\n";
    const std::string::size_type body = page.find("<body>");
    if (body == std::string::npos) {
        return bar + page;
    }
    std::string result = page;
    result.insert(body + 6, "\n" + bar);
    return result;
}

}  // namespace georef::workbench
