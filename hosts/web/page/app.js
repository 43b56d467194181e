// The page: draws what the simulated handheld's windows show, and turns the person's
// taps and key presses into the bench's stylus, key bytes, tray taps, menu commands
// and message box answers. Nothing here decides what the program does.
'use strict';

const screen = document.getElementById('screen');
const screenFrame = document.getElementById('screen-frame');
const keyboardEl = document.getElementById('keyboard');

// Requests go out one after another, so a key's press always arrives before its release.
// The answer is the reply's JSON with its status; {status: 0} when nothing answered.
let queue = Promise.resolve();
function post(path, body) {
  queue = queue.then(() => fetch(path, {
    method: 'POST', headers: {'Content-Type': 'application/json'}, body: JSON.stringify(body),
  }).then(async r => Object.assign({status: r.status}, await r.json().catch(() => ({}))))
    .catch(() => ({status: 0})));
  return queue;
}

// A line under the keyboard saying what became of something the person did.
let noticeTimer = null;
function notice(text) {
  const n = document.getElementById('notice');
  n.textContent = text;
  clearTimeout(noticeTimer);
  noticeTimer = setTimeout(() => { n.textContent = ''; }, 5000);
}

// Whether anything the page does can reach the handheld now.
let connected = false;
function offlineReason() {
  if (!connected) return 'brindle-web is not running';
  if (state && state.program.ended) return 'brindle has ended';
  return '';
}

// ---- the screen ------------------------------------------------------------------

let state = null;
const pixelCache = new Map();  // hwnd -> {hash, canvas}
const iconCache = new Map();   // icon handle -> canvas (icons never change)
let openMenu = null;           // {owner, button} of the dropdown shown
let currentWindow = null;      // the top-level window being drawn
let startMenuOpen = false;

function el(tag, cls, parent) {
  const e = document.createElement(tag);
  if (cls) e.className = cls;
  if (parent) parent.appendChild(e);
  return e;
}

function place(e, rect, origin) {
  e.style.left = (rect[0] - origin[0]) + 'px';
  e.style.top = (rect[1] - origin[1]) + 'px';
  e.style.width = (rect[2] - rect[0]) + 'px';
  e.style.height = (rect[3] - rect[1]) + 'px';
}

async function rgbaCanvas(url) {
  const buf = await (await fetch(url)).arrayBuffer();
  const v = new DataView(buf);
  const w = v.getUint32(0, true), h = v.getUint32(4, true);
  const c = document.createElement('canvas');
  c.width = w;
  c.height = h;
  if (w && h) c.getContext('2d').putImageData(new ImageData(new Uint8ClampedArray(buf, 8, w * h * 4), w, h), 0, 0);
  return c;
}

function iconInto(parent, handle) {
  const holder = el('span', 'icon', parent);
  const show = c => { const copy = document.createElement('canvas'); copy.width = c.width; copy.height = c.height;
    copy.getContext('2d').drawImage(c, 0, 0); copy.style.position = 'static'; holder.appendChild(copy); };
  if (iconCache.has(handle)) show(iconCache.get(handle));
  else rgbaCanvas('/api/icon?handle=' + handle).then(c => { iconCache.set(handle, c); show(c); }).catch(() => {});
  return holder;
}

function windowPixels(win, holder) {
  let entry = pixelCache.get(win.hwnd);
  if (!entry) { entry = {hash: null, canvas: document.createElement('canvas')}; pixelCache.set(win.hwnd, entry); }
  holder.appendChild(entry.canvas);
  if (entry.hash !== win.pixels) {
    entry.hash = win.pixels;
    rgbaCanvas('/api/pixels?hwnd=' + win.hwnd).then(c => {
      entry.canvas.width = c.width;
      entry.canvas.height = c.height;
      entry.canvas.getContext('2d').drawImage(c, 0, 0);
    }).catch(() => {});
  }
}

function fontOf(ctl) {
  if (!ctl.font) return '';
  const px = Math.abs(ctl.font.height) || 11;
  return `${px}px "${ctl.font.face}", Tahoma, "DejaVu Sans", sans-serif`;
}

// Where each edit control was scrolled to, and the caret it was scrolled for: the screen
// is drawn anew on every change.
const editViews = new Map();  // hwnd -> {top, caret, text}

function drawEdit(e, ctl) {
  const text = ctl.text.replace(/\r\n/g, '\n');
  // Caret and selection count UTF-16 units of the control's own text (with its \r\n).
  const toShown = i => ctl.text.slice(0, Math.max(0, i)).replace(/\r\n/g, '\n').length;
  const a = toShown(Math.min(ctl.caret, ctl.selEnd)), b = toShown(Math.max(ctl.caret, ctl.selEnd));
  // The caret shows only in the window in front, as the handheld hides it elsewhere; its
  // place is marked either way, for scrolling.
  const caret = el('span', ctl.focused && state.foreground === currentWindow ? 'caret' : 'caret-at');
  const caretFirst = ctl.caret <= ctl.selEnd;
  e.appendChild(document.createTextNode(text.slice(0, a)));
  if (caretFirst) e.appendChild(caret);
  if (b > a) el('span', 'sel', e).textContent = text.slice(a, b);
  if (!caretFirst) e.appendChild(caret);
  e.appendChild(document.createTextNode(text.slice(b)));
  e.dataset.text = text;
  return caret;
}

// After the edit is in the document: back to where it was scrolled, then as little as
// needed to keep a moved caret in sight.
function scrollEdit(e, caret, ctl) {
  const view = editViews.get(ctl.hwnd) || {top: 0, caret: -1, text: null};
  e.scrollTop = view.top;
  if (view.caret !== ctl.caret || view.text !== ctl.text) {
    const top = caret.offsetTop, bottom = top + (caret.offsetHeight || 14);
    if (top < e.scrollTop) e.scrollTop = top - 2;
    else if (bottom > e.scrollTop + e.clientHeight) e.scrollTop = bottom - e.clientHeight + 2;
  }
  editViews.set(ctl.hwnd, {top: e.scrollTop, caret: ctl.caret, text: ctl.text});
  e.addEventListener('scroll', () => { editViews.get(ctl.hwnd).top = e.scrollTop; });
}

function drawControl(ctl, origin, parent) {
  const cls = ctl.cls.toLowerCase();
  const e = el('div', 'ctl', parent);
  place(e, ctl.rect, origin);
  e.dataset.id = ctl.id;
  e.dataset.cls = ctl.cls;
  if (ctl.font) e.style.font = fontOf(ctl);
  if (!ctl.enabled) e.style.color = '#808080';
  const type = ctl.style & 0x0f;
  if (cls === 'dialog') {
    e.classList.add('dialog');
  } else if (cls === 'button' && (type === 2 || type === 3 || type === 5 || type === 6)) {
    e.classList.add('check');
    el('span', 'mark', e).textContent = ctl.check === 1 ? '✔' : '';
    el('span', 'label', e).textContent = ctl.text.replace(/&(.)/g, '$1');
  } else if (cls === 'button' && type === 7) {
    e.classList.add('group');
    el('span', '', e).textContent = ctl.text;
  } else if (cls === 'button') {
    e.classList.add('push');
    e.textContent = ctl.text.replace(/&(.)/g, '$1');
  } else if (cls === 'static') {
    e.classList.add('static');
    if (ctl.icon) iconInto(e, ctl.icon);
    else {
      e.textContent = ctl.text;
      if ((ctl.style & 0x1f) === 1) e.classList.add('center');
      if ((ctl.style & 0x1f) === 2) e.classList.add('right');
      if (ctl.rect[3] - ctl.rect[1] > 20) e.classList.add('wrap');
    }
  } else if (cls === 'msctls_trackbar32' && ctl.trackbar) {
    e.classList.add('track');
    el('div', 'channel', e);
    const thumb = el('div', 'thumb', e);
    thumb.style.left = (ctl.trackbar.thumbX - ctl.rect[0]) + 'px';
    e.dataset.pos = ctl.trackbar.pos;
  } else if (cls === 'edit') {
    e.classList.add('edit');
    scrollEdit(e, drawEdit(e, ctl), ctl);
  }
  return e;
}

function drawMenuBar(bar, z) {
  const e = el('div', 'bar', screen);
  place(e, bar.rect, [0, 0]);
  e.style.zIndex = z;
  for (const b of bar.buttons) {
    const be = el('span', 'button' + (b.enabled ? '' : ' disabled'), e);
    be.textContent = b.text.replace(/&(.)/g, '$1');
    be.dataset.command = b.command;
    be.addEventListener('mousedown', ev => {
      ev.stopPropagation();
      if (!b.enabled) return;
      if (b.dropdown) openMenu = openMenu && openMenu.button === b.command ? null : {owner: bar.owner, button: b.command};
      else post('/api/menu', {owner: bar.owner, command: b.command});
      render();
    });
    if (openMenu && openMenu.owner === bar.owner && openMenu.button === b.command) {
      const m = el('div', 'menu', screen);
      m.style.left = be.offsetLeft + 'px';
      m.style.bottom = (320 - bar.rect[1]) + 'px';
      const items = (list) => {
        for (const it of list) {
          if (it.separator) { el('hr', '', m); continue; }
          if (it.popup) { items(it.items); continue; }
          const ie = el('div', it.grayed ? 'grayed' : '', m);
          ie.textContent = it.text.replace(/&(.)/g, '$1').replace(/\t.*/, '');
          ie.dataset.command = it.command;
          ie.addEventListener('mousedown', ev => {
            ev.stopPropagation();
            openMenu = null;
            if (!it.grayed) post('/api/menu', {owner: bar.owner, command: it.command});
            render();
          });
        }
      };
      items(b.items);
    }
  }
}

function drawTaskbar() {
  const t = el('div', 'taskbar', screen);
  const start = el('span', 'start', t);
  start.textContent = '⊞';
  start.title = 'Start: the running programs';
  start.addEventListener('mousedown', ev => { ev.stopPropagation(); startMenuOpen = !startMenuOpen; render(); });
  const fg = state.windows.find(w => w.hwnd === state.foreground);
  el('span', 'title', t).textContent = fg ? fg.title : '';
  for (const icon of state.tray) {
    const holder = iconInto(t, icon.icon);
    holder.className = 'tray';
    holder.title = icon.tip;
    holder.dataset.iconId = icon.iconId;
    holder.addEventListener('mousedown', ev => { ev.stopPropagation(); post('/api/tray', {hwnd: icon.hwnd, id: icon.id}); });
  }
  if (fg && fg.done) {
    const ok = el('span', 'ok', t);
    ok.textContent = 'ok';
    ok.addEventListener('mousedown', ev => { ev.stopPropagation(); post('/api/done', {hwnd: fg.hwnd}); });
  }
  if (startMenuOpen) {
    const m = el('div', 'startmenu', screen);
    for (const w of state.windows)
      if (w.cls !== 'menu_worker' && w.title) {
        const ie = el('div', '', m);
        ie.textContent = w.title;
        ie.addEventListener('mousedown', ev => {
          ev.stopPropagation();
          startMenuOpen = false;
          post('/api/foreground', {hwnd: w.hwnd});
        });
      }
  }
}

const BOX_TEXT = {1: 'OK', 2: 'Cancel', 3: 'Abort', 4: 'Retry', 5: 'Ignore', 6: 'Yes', 7: 'No'};

function drawBoxes() {
  let z = 9800;
  for (const b of state.boxes) {
    const e = el('div', 'box', screen);
    e.style.top = '90px';
    e.style.zIndex = z++;
    el('div', 'caption', e).textContent = b.caption;
    el('div', 'text', e).textContent = b.text;
    const row = el('div', 'buttons', e);
    for (const answer of b.buttons) {
      const be = el('span', '', row);
      // In the handheld's own language, as it draws its boxes.
      be.textContent = (b.words && b.words[b.buttons.indexOf(answer)]) || BOX_TEXT[answer] || String(answer);
      be.dataset.answer = answer;
      be.addEventListener('mousedown', ev => { ev.stopPropagation(); post('/api/box', {id: b.id, answer}); });
    }
  }
}

function render() {
  if (!state) return;
  screen.replaceChildren();
  let z = 1;
  for (const win of state.windows) {
    if (win.cls === 'menu_worker') continue;
    currentWindow = win.hwnd;
    const holder = el('div', 'win', screen);
    place(holder, win.rect, [0, 0]);
    holder.style.zIndex = z++;
    holder.dataset.cls = win.cls;
    holder.dataset.title = win.title;
    if (win.cls === 'Dialog') holder.classList.add('dialog');
    if (win.pixels) windowPixels(win, holder);
    // Siblings come topmost first: drawn in reverse, each before its own children, so
    // the topmost lands last.
    const kids = new Map();
    for (const ctl of win.children) {
      if (!kids.has(ctl.parent)) kids.set(ctl.parent, []);
      kids.get(ctl.parent).push(ctl);
    }
    const drawUnder = (parent) => {
      for (const ctl of [...(kids.get(parent) || [])].reverse()) {
        if (ctl.cls === 'menu_worker') continue;  // drawn from its bar below
        drawControl(ctl, win.rect.slice(0, 2), holder);
        drawUnder(ctl.hwnd);
      }
    };
    drawUnder(win.hwnd);
    // A menu bar lies just above its owner: a window in front of the owner covers it.
    for (const bar of state.menubars) if (bar.visible && bar.owner === win.hwnd) drawMenuBar(bar, z++);
  }
  drawTaskbar();
  drawBoxes();
  if (state.program.ended) {
    const e = el('div', 'ended', screen);
    e.textContent = `brindle has ended (exit code ${state.program.exitCode}). Start brindle-web again to run it.`;
  }
  document.getElementById('program').textContent =
    state.program.ended ? 'brindle has ended' : state.program.started ? '' : 'brindle is starting…';
  document.getElementById('language').textContent = 'national build: ' + state.program.language;
  document.getElementById('pages').textContent = state.pages > 1 ? `shown in ${state.pages} pages` : '';
  document.getElementById('registry-file').textContent = state.program.registry;
  document.getElementById('registry-file').title = state.program.registry;
  drawLine();
  const kb = state.keyboard;
  keyboardEl.classList.toggle('caps-lock', kb.capsLock);
  keyEls.get(0x74)?.classList.toggle('latched', kb.shiftLatched);
  keyEls.get(0x77)?.classList.toggle('latched', kb.fnLatched);
  drawHelp();
  showReachable();
}

function drawLine() {
  const line = state.line;
  document.getElementById('plugged').checked = line.plugged;
  document.getElementById('cradle').checked = line.cradle;
  document.getElementById('busy').checked = line.busy;
  keyboardEl.classList.toggle('unplugged', !line.plugged || !!line.tty);
  const tty = document.getElementById('tty-note');
  tty.hidden = !line.tty;
  tty.textContent = line.tty ? `The key bytes come from ${line.tty}.` : '';
}

// The handheld's help viewer, when the program has opened it.
function drawHelp() {
  const help = document.getElementById('help'), frame = document.getElementById('help-page');
  const open = state.help.open && !state.program.ended;
  help.hidden = !open;
  const missing = !state.help.pages || !state.help.url;
  document.getElementById('help-missing').hidden = !missing;
  frame.hidden = missing;
  if (!open) { frame.dataset.url = ''; return; }
  // Loaded once for each time it opens; the person may follow its links from there.
  if (!missing && frame.dataset.url !== state.help.url) {
    frame.dataset.url = state.help.url;
    frame.src = state.help.url;
  }
}
document.getElementById('help-close').addEventListener('click', () => post('/api/help', {open: false}));

// With the program ended or the server gone, the controls look it and refuse.
function showReachable() {
  const reason = offlineReason();
  document.body.classList.toggle('offline', !!reason);
  const tty = !!(state && state.line.tty);
  for (const id of ['plugged', 'switch-notes', 'switch-keyboard']) document.getElementById(id).disabled = !!reason;
  for (const id of ['cradle', 'busy', 'resume']) document.getElementById(id).disabled = !!reason || tty;
  document.getElementById('stopped').hidden = connected;
}

// The stylus: a press, the moves while pressed, the lift, at screen pixels.
let stylusDown = false;
let lastMove = null;
function screenPoint(ev) {
  const r = screen.getBoundingClientRect();
  const scale = r.width / 240;
  const x = Math.floor((ev.clientX - r.left) / scale), y = Math.floor((ev.clientY - r.top) / scale);
  return {x: Math.max(0, Math.min(239, x)), y: Math.max(0, Math.min(319, y))};
}
screen.addEventListener('mousedown', ev => {
  if (ev.button !== 0 || offlineReason()) return;
  if (openMenu || startMenuOpen) { openMenu = null; startMenuOpen = false; render(); }
  const p = screenPoint(ev);
  stylusDown = true;
  lastMove = p;
  post('/api/stylus', {action: 'down', x: p.x, y: p.y});
  ev.preventDefault();
});
window.addEventListener('mousemove', ev => {
  if (!stylusDown) return;
  const p = screenPoint(ev);
  if (lastMove && p.x === lastMove.x && p.y === lastMove.y) return;
  lastMove = p;
  post('/api/stylus', {action: 'move', x: p.x, y: p.y});
});
window.addEventListener('mouseup', ev => {
  if (!stylusDown) return;
  stylusDown = false;
  const p = screenPoint(ev);
  post('/api/stylus', {action: 'up', x: p.x, y: p.y});
});

// ---- the folding keyboard ---------------------------------------------------------

const ROWS = [
  [0x1e, 0x1f, 0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27, 0x2a],
  [0x2b, 0x14, 0x1a, 0x08, 0x15, 0x17, 0x1c, 0x18, 0x0c, 0x12, 0x13],
  [0x04, 0x16, 0x07, 0x09, 0x0a, 0x0b, 0x0d, 0x0e, 0x0f, 0x28],
  [0x74, 0x1d, 0x1b, 0x06, 0x19, 0x05, 0x11, 0x10, 0x36, 0x37],
  [0x77, 0x2c, 0x50, 0x4f],
];
const NAMES = {0x08: 'Backspace', 0x09: 'Tab', 0x0d: 'Enter', 0x20: '', 0x25: '←', 0x27: '→', 0xa0: 'Shift',
               0xbc: ',', 0xbe: '.'};
// What Fn does to keys that have no Fn character.
const FN_COMMANDS = {0x2b: 'picker', 0x2c: 'Off', 0x4f: 'PgUp', 0x50: 'PgDn', 0x74: 'Caps'};
// The computer's keys, by position (KeyboardEvent.code), as the folding keyboard's scan codes.
const CODES = {Enter: 0x28, Backspace: 0x2a, Tab: 0x2b, Space: 0x2c, Comma: 0x36, Period: 0x37,
               ArrowRight: 0x4f, ArrowLeft: 0x50, ShiftLeft: 0x74, ShiftRight: 0x74, AltLeft: 0x77, AltRight: 0x77};
for (let i = 0; i < 26; i++) CODES['Key' + String.fromCharCode(65 + i)] = 0x04 + i;
for (let i = 1; i <= 9; i++) CODES['Digit' + i] = 0x1d + i;
CODES.Digit0 = 0x27;

const held = new Set();  // scan codes pressed and not yet released
const keyEls = new Map();

let pageNumber = 0;  // this page's number, from its feed: the server lifts its keys when it goes

function press(scan, down) {
  if (down === held.has(scan)) return;  // auto-repeat and double releases are not the keyboard's
  const reason = offlineReason();
  if (down && reason) {
    notice(`Not sent: ${reason}.`);
    return;
  }
  if (down) held.add(scan); else held.delete(scan);
  const k = keyEls.get(scan);
  if (k) k.classList.toggle('down', down);
  const body = pageNumber ? {scan, down, page: pageNumber} : {scan, down};
  post('/api/key', body).then(r => {
    if (r.status === 0) notice('Not sent: brindle-web is not running.');
    else if (r.status !== 200) notice(`Not sent: ${r.error}.`);
  });
}

function releaseAll() { for (const scan of [...held]) press(scan, false); }

async function buildKeyboard() {
  const table = await (await fetch('/api/keyboard')).json();
  const byScan = new Map(table.keys.map(k => [k.scan, k]));
  for (const row of ROWS) {
    const r = el('div', 'row', keyboardEl);
    for (const scan of row) {
      const info = byScan.get(scan) || {vk: 0};
      const k = el('div', 'key', r);
      k.dataset.scan = scan;
      let main = scan === 0x77 ? 'Fn' : NAMES[info.vk] !== undefined ? NAMES[info.vk] : String.fromCharCode(info.vk);
      el('span', 'main', k).textContent = main;
      const fn = info.fnChar !== undefined ? String.fromCharCode(info.fnChar) : FN_COMMANDS[scan];
      if (fn) el('span', 'fn', k).textContent = fn;
      if (scan === 0x2c) k.classList.add('space');
      else if ([0x2a, 0x28, 0x74, 0x2b].includes(scan)) k.classList.add('wide');
      if (scan === 0x74 || scan === 0x77) k.classList.add('mod');
      if (scan === 0x77) k.classList.add('fnkey');
      k.addEventListener('mousedown', ev => { ev.preventDefault(); press(scan, true); });
      k.addEventListener('mouseup', () => press(scan, false));
      k.addEventListener('mouseleave', () => press(scan, false));
      keyEls.set(scan, k);
    }
  }
}

document.addEventListener('keydown', ev => {
  const scan = CODES[ev.code];
  if (scan === undefined || ev.ctrlKey || ev.metaKey) return;
  ev.preventDefault();
  if (!ev.repeat) press(scan, true);
});
document.addEventListener('keyup', ev => {
  const scan = CODES[ev.code];
  if (scan === undefined) return;
  ev.preventDefault();
  press(scan, false);
});
// Keys held when the page loses the keyboard would never be released otherwise.
window.addEventListener('blur', releaseAll);

// ---- the line and the handheld ------------------------------------------------------

for (const id of ['plugged', 'cradle', 'busy'])
  document.getElementById(id).addEventListener('change', ev => {
    if (id === 'plugged' && !ev.target.checked) releaseAll();
    post('/api/line', {[id]: ev.target.checked});
  });
document.getElementById('resume').addEventListener('click', () => post('/api/line', {resume: true}));
function bringForward(cls) {
  const w = state && state.windows.find(w => w.cls === cls);
  if (w) post('/api/foreground', {hwnd: w.hwnd});
}
document.getElementById('switch-notes').addEventListener('click', () => bringForward('Notes'));
document.getElementById('switch-keyboard').addEventListener('click', () => bringForward('BrindleMain'));

// ---- updates --------------------------------------------------------------------------

// The trace of this start of brindle-web, after those of earlier starts this page saw,
// each under a line of its own. New lines are appended as they come; the pane is made
// anew only when the oldest lines go.
const traceEl = document.getElementById('trace');
const traceRuns = [];  // {label, lines}
const TRACE_KEPT = 1000;
let traceCount = 0;
function traceAtEnd() { return traceEl.scrollTop + traceEl.clientHeight >= traceEl.scrollHeight - 4; }
function runLabel(run) {
  const sep = document.createElement('span');
  sep.className = 'run';
  sep.textContent = run.label;
  return sep;
}
function drawTrace() {
  const atEnd = traceAtEnd();
  const parts = [];
  for (const run of traceRuns) {
    parts.push(runLabel(run));
    if (run.lines.length) parts.push(run.lines.join('\n') + '\n');
  }
  traceEl.replaceChildren(...parts);
  if (atEnd) traceEl.scrollTop = traceEl.scrollHeight;
}
function addTrace(lines) {
  if (!lines.length) return;
  const atEnd = traceAtEnd();
  traceRuns[traceRuns.length - 1].lines.push(...lines);
  traceCount += lines.length;
  if (traceCount > TRACE_KEPT * 1.5) {
    // The oldest lines go first, earlier runs before this one.
    while (traceCount > TRACE_KEPT) {
      const first = traceRuns[0];
      const drop = Math.min(first.lines.length, traceCount - TRACE_KEPT);
      first.lines.splice(0, drop);
      traceCount -= drop;
      if (!first.lines.length && traceRuns.length > 1) traceRuns.shift();
    }
    drawTrace();
    return;
  }
  traceEl.appendChild(document.createTextNode(lines.join('\n') + '\n'));
  if (atEnd) traceEl.scrollTop = traceEl.scrollHeight;
}

// The feed's first event: this page's number, and which start of brindle-web it talks to.
let run = null;
function hello(h) {
  pageNumber = h.page;
  if (run === h.run) {
    // The same server again (the connection dropped): it sends its kept lines anew.
    traceCount -= traceRuns[traceRuns.length - 1].lines.length;
    traceRuns[traceRuns.length - 1].lines = [];
  } else {
    const label = run === null ? `brindle-web started ${h.started}` : `brindle-web started again ${h.started}`;
    traceRuns.push({label, lines: []});
    run = h.run;
  }
  drawTrace();
}

function connect() {
  const conn = document.getElementById('connection');
  const es = new EventSource('/events');
  // The browser tries again by itself; until then nothing here reaches the handheld.
  es.onerror = () => {
    conn.textContent = 'disconnected: is brindle-web still running?';
    conn.className = 'bad';
    connected = false;
    pageNumber = 0;
    for (const scan of held) keyEls.get(scan)?.classList.remove('down');
    held.clear();
    showReachable();
  };
  // Connected once the server has numbered this page: its keys are then its own.
  es.addEventListener('hello', e => {
    connected = true;
    conn.textContent = 'connected';
    conn.className = 'good';
    hello(JSON.parse(e.data));
    showReachable();
  });
  es.addEventListener('state', e => { state = JSON.parse(e.data); window.brindleState = state; render(); });
  // Sent ahead of the state when only the line changed.
  es.addEventListener('line', e => {
    if (!state) return;
    state.line = JSON.parse(e.data);
    drawLine();
    showReachable();
  });
  es.addEventListener('trace', e => addTrace(JSON.parse(e.data).lines));
  es.addEventListener('registry', e => { document.getElementById('registry').textContent = JSON.parse(e.data); });
}

// The handheld's screen as large as the window's height allows, twice its pixels at most.
function fitScreen() {
  const top = screenFrame.getBoundingClientRect().top + window.scrollY;
  const room = window.innerHeight - top - 50;  // the hardware buttons and the case below
  let scale = 2;
  while (scale > 1 && 320 * scale > room) scale -= 0.25;
  screenFrame.style.setProperty('--scale', scale);
}
window.addEventListener('resize', fitScreen);
fitScreen();

buildKeyboard().then(connect);
