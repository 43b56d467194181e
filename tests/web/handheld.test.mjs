// The simulated handheld in a real browser: each test starts its own brindle-web (the
// real program, real clock, a fresh registry file), types and taps as a person would,
// and reads back what the handheld shows.
import {test as base, expect} from '@playwright/test';
import {spawn} from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import {Worker} from 'node:worker_threads';

const shots = process.env.BRINDLE_WEB_SHOTS;
const source = process.env.BRINDLE_SOURCE;  // the checkout, for the files the program serves
// The server's time figures are held to when it runs at full speed; a sanitizer's build
// runs many times slower, and there (BRINDLE_WEB_TIMED=0) they are only printed.
const timed = process.env.BRINDLE_WEB_TIMED !== '0';

// Starts a brindle-web; `url` resolves to the address it prints, `stop` ends it as Ctrl-C does.
function startWeb(args) {
  const proc = spawn(process.env.BRINDLE_WEB, args, {stdio: ['ignore', 'pipe', 'pipe']});
  let stderr = '';
  proc.stderr.on('data', d => { stderr += d; });
  const exited = new Promise(resolve => proc.on('exit', (code, signal) => resolve({code, signal})));
  const url = new Promise((resolve, reject) => {
    let out = '';
    proc.stdout.on('data', d => {
      out += d;
      const m = out.match(/http:\/\/127\.0\.0\.1:\d+\//);
      if (m) resolve(m[0]);
    });
    exited.then(e => reject(new Error(`brindle-web ended (${e.code}): ${stderr}`)));
    setTimeout(() => reject(new Error('brindle-web printed no address')), 10000);
  });
  url.catch(() => {});
  let stopped = null;
  const stop = async () => {
    if (!stopped) stopped = (async () => {
      proc.kill('SIGINT');
      const timer = setTimeout(() => proc.kill('SIGKILL'), 5000);
      const e = await exited;
      clearTimeout(timer);
      return e;
    })();
    return stopped;
  };
  return {url, exited, stop, stderr: () => stderr};
}

// One HTTP request from outside the browser: {status, body, ms}.
function request(base, {method = 'GET', path: p = '/', headers = {}, body, agent} = {}) {
  return new Promise((resolve, reject) => {
    const u = new URL(p, base);
    const h = {...headers};
    if (body !== undefined) h['Content-Length'] = Buffer.byteLength(body);
    const t0 = performance.now();
    const req = http.request({host: u.hostname, port: u.port, path: u.pathname + u.search, method, headers: h, agent},
      res => {
        let data = '';
        res.setEncoding('latin1');
        res.on('data', d => { data += d; });
        res.on('end', () => resolve({status: res.statusCode, body: data, ms: performance.now() - t0}));
      });
    req.on('error', reject);
    req.end(body);
  });
}
// A request as the handheld's own page makes it.
const pagePost = (base, p, body, agent) => request(base, {method: 'POST', path: p, body: JSON.stringify(body), agent,
  headers: {'Content-Type': 'application/json', Origin: new URL(base).origin}});
const stateOf = async base => JSON.parse((await request(base, {path: '/api/state'})).body);
const sleep = ms => new Promise(resolve => setTimeout(resolve, ms));

// A pseudo-terminal standing in for a keyboard on a serial adapter: prints the device,
// then writes each line of hex it is given as key bytes.
const PTY = `
import os, pty, sys, tty
master, slave = pty.openpty()
tty.setraw(slave)
print(os.ttyname(slave), flush=True)
for line in sys.stdin:
    os.write(master, bytes.fromhex(line.strip()))
`;

const test = base.extend({
  lang: ['USA', {option: true}],
  realLine: [false, {option: true}],
  keyboardLine: async ({realLine}, use) => {
    if (!realLine) return use(null);
    const proc = spawn('/usr/bin/python3', ['-c', PTY], {stdio: ['pipe', 'pipe', 'inherit']});
    const device = await new Promise(resolve => proc.stdout.once('data', d => resolve(String(d).trim())));
    await use({device, send: hex => proc.stdin.write(hex + '\n')});
    proc.stdin.end();
  },
  handheld: async ({page, lang, keyboardLine}, use) => {
    const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'brindle-web-'));
    const registry = path.join(dir, 'registry.reg');
    const args = ['--port', '0', '--registry', registry, '--lang', lang];
    if (keyboardLine) args.push('--tty', keyboardLine.device);
    const web = startWeb(args);
    // Whatever happens in the test, the handheld ends with it.
    let stopped;
    try {
      const url = await web.url;
      await page.goto(url);
      await expect(page.locator('#connection')).toHaveText('connected');
      // Notes comes to the front once the driver runs.
      await expect.poll(() => page.evaluate(() => window.brindleState && window.brindleState.program.started),
        {timeout: 15000}).toBe(true);
      await expect(page.locator('#screen .taskbar .title')).toHaveText('Notes');
      await use({url, registry, dir, port: new URL(url).port, web});
    } finally {
      stopped = await web.stop();
      fs.rmSync(dir, {recursive: true, force: true});
    }
    expect(stopped.signal, `brindle-web had to be killed; its stderr:\n${web.stderr()}`).toBe(null);
    expect(stopped.code, web.stderr()).toBe(0);
    // It ends with _exit, before a sanitizer's summary: its reports are looked for here.
    expect(web.stderr()).not.toMatch(/Sanitizer|runtime error:/);
  },
});

const notes = page => page.locator('#screen [data-cls="Edit"]');
const control = (page, id) => page.locator(`#screen .win[data-cls="BrindleMain"] .ctl[data-id="${id}"]`);

async function expectNotes(page, text) {
  await expect(notes(page)).toHaveAttribute('data-text', text);
}

// Fn is the computer's Alt key.
async function fn(page, code) {
  await page.keyboard.down('Alt');
  await page.keyboard.press(code);
  await page.keyboard.up('Alt');
}

// Brings notes or the driver's page to the front (its title is the build's word for it).
async function show(page, which) {
  await page.click(which === 'Notes' ? '#switch-notes' : '#switch-keyboard');
  await expect.poll(() => page.evaluate(() => {
    const s = window.brindleState, w = s.windows.find(w => w.hwnd === s.foreground);
    return w && w.cls;
  })).toBe(which === 'Notes' ? 'Notes' : 'BrindleMain');
}

async function registryHas(page, line) {
  await expect(page.locator('#registry')).toContainText(line);
}

async function pickerWindow(page) {
  await expect.poll(() => page.evaluate(() =>
    window.brindleState.windows.some(w => w.cls === 'BrindlePicker'))).toBe(true);
  return page.evaluate(() => window.brindleState.windows.find(w => w.cls === 'BrindlePicker'));
}

// A tap with the stylus at a point of the handheld's 240 x 320 screen.
async function tapScreen(page, x, y) {
  const box = await page.locator('#screen-frame').boundingBox();
  const scale = box.width / 240;
  await page.mouse.click(box.x + (x + 0.5) * scale, box.y + (y + 0.5) * scale);
}

// A picture for the README: the page's main part, or the whole window as it shows.
async function shot(page, name, window = false) {
  if (!shots) return;
  fs.mkdirSync(shots, {recursive: true});
  const file = path.join(shots, name + '.png');
  await (window ? page.screenshot({path: file}) : page.locator('main').screenshot({path: file}));
}

// Holds a key for `ms`; gives the characters it typed and the times (ms) at which the
// program pressed its virtual key, read from the trace pane.
async function hold(page, code, vk, ms) {
  const before = (await notes(page).getAttribute('data-text')).length;
  const seen = (await page.locator('#trace').textContent()).split('\n').length;
  await page.keyboard.down(code);
  // The computer's own auto-repeat (keydown with repeat set) must not reach the line.
  for (let i = 0; i < 3; i++) {
    await page.waitForTimeout(ms / 4);
    await page.keyboard.down(code);
  }
  await page.waitForTimeout(ms / 4);
  await page.keyboard.up(code);
  const release = `keybd_event(${vk}, 0x2)`;
  await expect(page.locator('#trace')).toContainText(release);
  const lines = (await page.locator('#trace').textContent()).split('\n').slice(seen - 1);
  const bytesRead = lines.filter(l => / ReadFile\(COM1\) \[0x/.test(l)).map(l => l.replace(/^.*\[(0x[0-9A-F]+)\]$/, '$1'));
  expect(bytesRead.length, lines.join('\n')).toBe(2);  // one press byte, one release byte
  const presses = [];
  for (const line of lines) {
    const m = line.match(/^\[\s*([\d.]+)\] keybd_event\((0x[0-9A-F]+), 0x0\)$/);
    if (m && m[2] === vk) presses.push(Math.round(parseFloat(m[1]) * 1000));
  }
  await expectNotes(page, (await notes(page).getAttribute('data-text')).slice(0, before) + 'x'.repeat(presses.length));
  return presses;
}

const gaps = t => t.slice(1).map((v, i) => v - t[i]);
const median = a => [...a].sort((x, y) => x - y)[Math.floor(a.length / 2)];

test.describe('French build', () => {
  test.use({lang: 'FRA'});
  test('a sentence with a capital, an accent composed in the picker, Fn digits and a sign', async ({page, handheld}) => {
    await page.keyboard.down('Shift');
    await page.keyboard.press('KeyF');
    await page.keyboard.up('Shift');
    await fn(page, 'Tab');  // the picker
    await pickerWindow(page);
    await shot(page, 'picker');
    await page.keyboard.press('KeyV');  // its dead circumflex
    await expect.poll(() => page.evaluate(() =>
      window.brindleState.windows.some(w => w.cls === 'BrindlePicker'))).toBe(false);
    for (const code of ['KeyE', 'KeyT', 'KeyE', 'Space']) await page.keyboard.press(code);
    await fn(page, 'KeyR');
    await fn(page, 'KeyW');
    await fn(page, 'KeyA');
    await expectNotes(page, 'Fête 42!');
    await page.keyboard.press('Backspace');
    await page.keyboard.press('Enter');
    await page.keyboard.press('KeyO');
    await page.keyboard.press('ArrowLeft');
    // Shift+Backspace is Delete: the O after the caret goes.
    await page.keyboard.down('Shift');
    await page.keyboard.press('Backspace');
    await page.keyboard.up('Shift');
    await expectNotes(page, 'Fête 42\n');
    await shot(page, 'typing');
  });
});

test('a held key repeats at the configured delay and rate', async ({page, handheld}) => {
  // The defaults: the first repeat 500 ms after the press, then 20 a second.
  const presses = await hold(page, 'KeyX', '0x58', 1500);
  const g = gaps(presses);
  expect(presses.length).toBeGreaterThanOrEqual(15);
  expect(g[0]).toBeGreaterThanOrEqual(480);
  expect(g[0]).toBeLessThanOrEqual(600);
  expect(median(g.slice(1))).toBeGreaterThanOrEqual(45);
  expect(median(g.slice(1))).toBeLessThanOrEqual(55);
});

test('a drag of the repeat-rate trackbar slows the repeat', async ({page, handheld}) => {
  await show(page, 'Keyboard');
  const track = control(page, 1044);
  const thumb = track.locator('.thumb');
  const from = await thumb.boundingBox();
  const channel = await track.boundingBox();
  await page.mouse.move(from.x + from.width / 2, from.y + from.height / 2);
  await page.mouse.down();
  for (let i = 1; i <= 10; i++)
    await page.mouse.move(from.x + from.width / 2 - (from.x - channel.x) * i / 10, from.y + from.height / 2);
  await page.mouse.up();
  await expect(track).toHaveAttribute('data-pos', '1');
  await registryHas(page, '"RepeatRate"=dword:00000001');
  await show(page, 'Notes');
  // One a second now: the press, the first repeat after 500 ms, then one a second.
  const presses = await hold(page, 'KeyX', '0x58', 2700);
  const g = gaps(presses);
  expect(presses.length).toBe(4);
  expect(g[0]).toBeGreaterThanOrEqual(480);
  expect(g[0]).toBeLessThanOrEqual(600);
  for (const gap of g.slice(1)) {
    expect(gap).toBeGreaterThanOrEqual(950);
    expect(gap).toBeLessThanOrEqual(1100);
  }
});

test('sticky Shift, switched on by a tap on its check box, capitalises one letter', async ({page, handheld}) => {
  await show(page, 'Keyboard');
  await control(page, 1041).click();
  await expect(control(page, 1041).locator('.mark')).toHaveText('✔');
  await registryHas(page, '"PrefShift"=dword:00000001');
  await shot(page, 'settings');
  await show(page, 'Notes');
  await page.keyboard.press('ShiftLeft');
  for (const code of ['KeyA', 'KeyB']) await page.keyboard.press(code);
  await expectNotes(page, 'Ab');
});

test('the cradle pauses the driver and taking it out resumes it', async ({page, handheld}) => {
  await show(page, 'Keyboard');
  const status = control(page, 1040);
  await expect(status).toHaveText('Running');
  const trayRunning = await page.locator('#screen .taskbar .tray').getAttribute('data-icon-id');
  await page.check('#cradle');
  await expect(status).toHaveText('Paused');
  await expect(page.locator('#screen .taskbar .tray')).not.toHaveAttribute('data-icon-id', trayRunning);
  await page.uncheck('#cradle');
  await expect(status).toHaveText('Running');
  await expect(page.locator('#screen .taskbar .tray')).toHaveAttribute('data-icon-id', trayRunning);
});

test('the exit question answered No keeps the driver, Yes ends it', async ({page, handheld}) => {
  await show(page, 'Keyboard');
  await control(page, 1013).click();
  const box = page.locator('#screen .box');
  await expect(box).toBeVisible();
  await box.locator('[data-answer="7"]').click();
  await expect(box).toHaveCount(0);
  await expect(control(page, 1040)).toHaveText('Running');
  await control(page, 1013).click();
  await box.locator('[data-answer="6"]').click();
  await expect(page.locator('#screen .ended')).toBeVisible();
  await expect(page.locator('#program')).toHaveText('brindle has ended');
});

test('Fn+Tab opens the picker and a tapped cell types its character', async ({page, handheld}) => {
  await fn(page, 'Tab');
  const picker = await pickerWindow(page);
  // The third cell of the first row: é in this build.
  await tapScreen(page, picker.rect[0] + 61, picker.rect[1] + 12);
  await expectNotes(page, 'é');
});

test('bad requests are refused and change nothing', async ({page, handheld}) => {
  const post = (p, body) => page.evaluate(async ([p, body]) =>
    (await fetch(p, {method: 'POST', headers: {'Content-Type': 'application/json'}, body})).status, [p, body]);
  expect(await post('/api/key', '{"scan": 200, "down": true}')).toBe(400);
  expect(await post('/api/key', '{"scan": 4')).toBe(400);
  expect(await post('/api/dance', '{}')).toBe(400);
  expect(await post('/api/stylus', '{"action": "down", "x": 240, "y": 0}')).toBe(400);
  expect(await post('/api/line', '{"cradle": "yes"}')).toBe(400);
  expect(await post('/api/key', '{"scan": 4, "down": true}')).toBe(200);
  expect(await post('/api/key', '{"scan": 4, "down": false}')).toBe(200);
  await expectNotes(page, 'a');
});

test.describe('a keyboard on a real serial line', () => {
  test.use({realLine: true});
  test('key bytes from the device are typed and the page keyboard stays out of it', async ({page, handheld, keyboardLine}) => {
    await expect(page.locator('#tty-note')).toContainText(keyboardLine.device);
    await expect(page.locator('#cradle')).toBeDisabled();
    await page.keyboard.press('KeyQ');  // the drawn keyboard is not the one on the line
    keyboardLine.send('74 04 84 f4 05 85');  // Shift+A, B
    await expectNotes(page, 'Ab');
  });
});

// ---- the line, seen by every page --------------------------------------------------------

test('a change of the line shows on an open page within 100 ms, and a redraw keeps it', async ({page, handheld}) => {
  // Changed from elsewhere (another page, a script): this page is told, not asked.
  const steps = [['plugged', false], ['busy', true], ['busy', false], ['plugged', true]];
  // Not timed: this process's first request, with its one-off costs, and the browser's
  // first second with the page (its loads, and clearing up after the test before).
  await stateOf(handheld.url);
  await page.waitForTimeout(1000);
  for (const [id, value] of steps) {
    await page.evaluate(([id, value]) => {
      window.lineSeen = new Promise(resolve => {
        const box = document.getElementById(id);
        const look = () => box.checked === value ? resolve(Date.now()) : requestAnimationFrame(look);
        look();
        setTimeout(() => resolve(null), 2000);
      });
    }, [id, value]);
    const sent = Date.now();
    expect((await pagePost(handheld.url, '/api/line', {[id]: value})).status).toBe(200);
    const seen = await page.evaluate(() => window.lineSeen);
    expect(seen, `${id}: ${value} never shown`).not.toBeNull();
    console.log(`${id}: ${value} shown after ${seen - sent} ms`);
    if (timed) expect(seen - sent, `${id}: ${value}`).toBeLessThan(100);
  }
  // A change undone within a page's 50 ms between updates, nothing the program does in
  // answer moving the screen on: once the box has been still for a while it shows the
  // last value, not the one between.
  await page.evaluate(() => {
    const box = document.getElementById('plugged');
    let shown = box.checked;
    window.pluggedStill = performance.now();
    const look = () => {
      if (box.checked !== shown) shown = box.checked, window.pluggedStill = performance.now();
      requestAnimationFrame(look);
    };
    look();
  });
  expect((await pagePost(handheld.url, '/api/line', {plugged: false})).status).toBe(200);
  await expect(page.locator('#plugged')).not.toBeChecked();
  for (const value of [true, false]) {
    expect((await pagePost(handheld.url, '/api/line', {plugged: value})).status).toBe(200);
  }
  await page.waitForFunction(() => performance.now() - window.pluggedStill > 300, null, {polling: 'raf'});
  await expect(page.locator('#plugged')).not.toBeChecked({timeout: 1});
  expect((await pagePost(handheld.url, '/api/line', {plugged: true})).status).toBe(200);
  await expect(page.locator('#plugged')).toBeChecked();
  // Changed on this page, then drawn again for a reason of the page's own (the Start menu):
  // the box stays as the person left it, and so does the handheld.
  await page.uncheck('#plugged');
  await page.waitForTimeout(150);
  await page.locator('#screen .taskbar .start').dispatchEvent('mousedown');
  await expect(page.locator('#screen .startmenu')).toBeVisible();
  await expect(page.locator('#plugged')).not.toBeChecked();
  expect((await stateOf(handheld.url)).line.plugged).toBe(false);
  await page.keyboard.press('KeyA');
  await page.check('#plugged');
  await page.keyboard.press('KeyB');
  await expectNotes(page, 'b');
});

// ---- the server ----------------------------------------------------------------------------

test('a second brindle-web on the port in use ends at once and says why', async ({page, handheld}) => {
  const second = startWeb(['--port', handheld.port, '--registry', path.join(handheld.dir, 'second.reg')]);
  const ended = await Promise.race([second.exited, sleep(5000).then(() => null)]);
  if (!ended) await second.stop();
  expect(ended, 'the second brindle-web kept running').not.toBe(null);
  expect(ended.code).not.toBe(0);
  expect(second.stderr()).toContain(`127.0.0.1:${handheld.port}`);
  expect(second.stderr()).toContain('in use');
  // Typing still reaches the first, every time.
  for (const code of ['KeyA', 'KeyB', 'KeyC', 'KeyD']) await page.keyboard.press(code);
  await expectNotes(page, 'abcd');
});

// Pages held open on a thread of their own, so that reading what they are sent never
// delays the test's own requests: each counts the states it gets. Asked with a message
// ('report', 'close N', 'end'), it answers {states, closed}.
const PAGES = `
const http = require('node:http');
const {parentPort, workerData: {port, count}} = require('node:worker_threads');
const agent = new http.Agent({keepAlive: false, maxSockets: Infinity});
const states = new Array(count).fill(0), closed = new Array(count).fill(false), reqs = [];
let served = false;
const report = () => parentPort.postMessage({states, closed});
for (let i = 0; i < count; i++) {
  const req = http.get({host: '127.0.0.1', port, path: '/events', agent}, res => {
    res.setEncoding('utf8');
    let tail = '';
    res.on('data', d => {
      const text = tail + d;
      states[i] += (text.match(/^event: state$/mg) || []).length;
      tail = text.slice(text.lastIndexOf('\\n') + 1);
      if (!served && states.every(n => n > 0)) served = true, report();
    });
    res.on('close', () => { closed[i] = true; });
  });
  req.on('error', () => { closed[i] = true; });
  reqs.push(req);
}
parentPort.on('message', m => {
  if (m === 'end') { for (const r of reqs) r.destroy(); agent.destroy(); parentPort.close(); return; }
  if (m.startsWith('close ')) reqs[Number(m.slice(6))].destroy();
  report();
});
`;

test('64 open pages are served, keys are answered quickly meanwhile, and a closed page lets go of its thread', async ({page, handheld}) => {
  test.setTimeout(120000);
  const pages = new Worker(PAGES, {eval: true, workerData: {port: Number(handheld.port), count: 64}});
  const ask = m => new Promise(resolve => { pages.once('message', resolve); pages.postMessage(m); });
  try {
    // Served: every one of them has been sent the state.
    await new Promise((resolve, reject) => {
      pages.on('message', function served(r) {
        if (r.states.every(n => n > 0)) { pages.off('message', served); resolve(); }
      });
      setTimeout(() => reject(new Error('not every page was sent the state in 20 s')), 20000);
    });
    expect((await stateOf(handheld.url)).pages).toBe(65);  // and this page

    const keys = new http.Agent({keepAlive: true, maxSockets: 1});
    const times = [];
    for (let i = 0; i < 200; i++)
      for (const down of [true, false]) {
        const r = await pagePost(handheld.url, '/api/key', {scan: 0x1b, down}, keys);  // X
        expect(r.status).toBe(200);
        times.push(r.ms);
        await sleep(20);
      }
    keys.destroy();
    times.sort((a, b) => a - b);
    const p99 = times[Math.ceil(times.length * 0.99) - 1];
    console.log(`key requests with 64 pages open: p50 ${times[times.length >> 1].toFixed(1)} ms, ` +
                `p99 ${p99.toFixed(1)} ms, max ${times[times.length - 1].toFixed(1)} ms`);
    if (timed) expect(p99).toBeLessThan(50);
    await expect(notes(page)).toHaveAttribute('data-text', 'x'.repeat(200), {timeout: 30000});
    // Every page was kept up to date.
    const kept = await ask('report');
    expect(kept.closed.filter(c => c)).toEqual([]);
    expect(Math.min(...kept.states)).toBeGreaterThan(1);

    const closedAt = performance.now();
    await ask('close 0');
    let open;
    do {
      await sleep(10);
      open = (await stateOf(handheld.url)).pages;
    } while (open === 65 && performance.now() - closedAt < 10000);
    const freedIn = performance.now() - closedAt;
    console.log(`a closed page's thread freed in ${freedIn.toFixed(0)} ms`);
    expect(open).toBe(64);
    if (timed) expect(freedIn).toBeLessThan(1000);
  } finally {
    pages.postMessage('end');
    await pages.terminate();
  }
});

test('requests from other sites are refused and change nothing', async ({page, handheld}) => {
  const {url, port} = handheld;
  const own = new URL(url).origin;
  const key = JSON.stringify({scan: 4, down: true});
  const refused = [
    // A form or no-cors fetch on another site's page: text/plain, that site's origin.
    {method: 'POST', path: '/api/key', body: key, headers: {'Content-Type': 'text/plain', Origin: 'http://evil.example'}},
    {method: 'POST', path: '/api/key', body: key, headers: {'Content-Type': 'application/json', Origin: 'http://evil.example'}},
    {method: 'POST', path: '/api/key', body: key, headers: {'Content-Type': 'text/plain', Origin: own}},
    {method: 'POST', path: '/api/key', body: key, headers: {'Content-Type': 'application/json'}},
    {method: 'POST', path: '/api/line', body: '{"plugged": false}', headers: {'Content-Type': 'text/plain', Origin: 'null'}},
    // DNS rebinding: the handheld's address under another name.
    {path: '/api/registry', headers: {Host: `evil.example:${port}`}},
    {path: '/api/state', headers: {Host: `localhost:${port}`}},
    {path: '/', headers: {Host: 'evil.example'}},
  ];
  for (const r of refused) {
    const answer = await request(url, r);
    expect(answer.status, JSON.stringify(r)).toBe(403);
    expect(answer.body).not.toContain('REGEDIT4');
  }
  // In the browser itself, a name that leads to 127.0.0.1 (see playwright.config.mjs).
  const other = await page.context().newPage();
  const rebound = await other.goto(`http://rebind.test:${port}/api/registry`);
  expect(rebound.status()).toBe(403);
  expect(await rebound.text()).not.toContain('REGEDIT4');
  await other.close();
  const trace = (await request(url, {path: '/api/trace'})).body;
  expect(trace).not.toContain('ReadFile(COM1) [');
  expect((await stateOf(url)).line.plugged).toBe(true);
  await expectNotes(page, '');
  // The page's own requests pass.
  expect((await pagePost(url, '/api/key', {scan: 4, down: true})).status).toBe(200);
  expect((await pagePost(url, '/api/key', {scan: 4, down: false})).status).toBe(200);
  await expectNotes(page, 'a');
});

test('a request that would change something without saying its length is refused at once', async ({handheld}) => {
  const answer = await new Promise((resolve, reject) => {
    const t0 = performance.now();
    const socket = net.connect(Number(handheld.port), '127.0.0.1', () => socket.write(
      `POST /api/key HTTP/1.1\r\nHost: 127.0.0.1:${handheld.port}\r\nOrigin: ${new URL(handheld.url).origin}\r\n` +
      'Content-Type: application/json\r\n\r\n'));
    let data = '';
    socket.setEncoding('latin1');
    socket.on('data', d => {
      data += d;
      if (data.includes('\r\n\r\n')) { resolve({data, ms: performance.now() - t0}); socket.destroy(); }
    });
    socket.on('error', reject);
  });
  expect(answer.data).toMatch(/^HTTP\/1\.1 411 /);
  expect(answer.ms).toBeLessThan(1000);  // not the 5 s of a read that waits for the client to give up
});

test('a page closed with a key held lets the key go', async ({page, handheld, context}) => {
  const other = await context.newPage();
  await other.goto(handheld.url);
  await expect(other.locator('#connection')).toHaveText('connected');
  await other.keyboard.down('Alt');  // Fn, held on the other page
  await expect(page.locator('#trace')).toContainText('ReadFile(COM1) [0x77]');
  await other.close();
  await expect(page.locator('#trace')).toContainText('ReadFile(COM1) [0xF7]');
  await page.keyboard.press('KeyA');  // an a, not Fn+A
  await expectNotes(page, 'a');
  await expect(page.locator('#pages')).toHaveText('');
});

// ---- the page ------------------------------------------------------------------------------

test('the notes follow the caret past the window\'s foot, and the text scrolls', async ({page, handheld}) => {
  for (let i = 0; i < 40; i++) {
    await page.keyboard.press('KeyA');
    await page.keyboard.press('Enter');
  }
  // Forty lines or more (a slow build may see a late release repeat a key), and no more
  // coming.
  const text = () => notes(page).getAttribute('data-text');
  await expect.poll(async () => (await text()).split('\n').length, {timeout: 30000}).toBeGreaterThanOrEqual(41);
  await expect.poll(async () => {
    const before = await text();
    await page.waitForTimeout(500);
    return (await text()) === before;
  }, {timeout: 30000}).toBe(true);
  const edit = notes(page);
  const inSight = async () => {
    const e = await edit.boundingBox(), c = await edit.locator('.caret').boundingBox();
    return c.y >= e.y && c.y + c.height <= e.y + e.height + 1;
  };
  await expect.poll(inSight).toBe(true);
  // Back to the top with the wheel; a redraw (the cradle changes the tray) keeps it there.
  await edit.hover();
  await page.mouse.wheel(0, -5000);
  await expect.poll(() => edit.evaluate(e => e.scrollTop)).toBe(0);
  const running = await page.locator('#screen .taskbar .tray').getAttribute('data-icon-id');
  await page.check('#cradle');
  await expect(page.locator('#screen .taskbar .tray')).not.toHaveAttribute('data-icon-id', running);
  expect(await edit.evaluate(e => e.scrollTop)).toBe(0);
  expect(await inSight()).toBe(false);
  await page.uncheck('#cradle');
  await expect(page.locator('#screen .taskbar .tray')).toHaveAttribute('data-icon-id', running);
  // Typing brings the caret back in sight.
  await page.keyboard.press('KeyB');
  await expect(notes(page)).toHaveAttribute('data-text', /\nb$/);
  await expect.poll(inSight).toBe(true);
});

const inViewport = async (page, selector) => {
  const b = await page.locator(selector).boundingBox();
  const vp = page.viewportSize();
  return b && b.x >= 0 && b.y >= 0 && b.x + b.width <= vp.width && b.y + b.height <= vp.height;
};

test.describe('the page at the sizes of common screens', () => {
  test('800 x 600: nothing wider than the window', async ({page, handheld}) => {
    await page.setViewportSize({width: 800, height: 600});
    await page.waitForTimeout(200);
    expect(await page.evaluate(() => document.documentElement.scrollWidth)).toBeLessThanOrEqual(800);
    for (const selector of ['header', '#case', '#keyboard', '#line', '#trace', '#registry']) {
      const b = await page.locator(selector).boundingBox();
      expect(b.x, selector).toBeGreaterThanOrEqual(0);
      expect(b.x + b.width, selector).toBeLessThanOrEqual(800);
    }
  });
  for (const [width, height] of [[1366, 768], [1920, 1080], [2560, 1440]]) {
    test(`${width} x ${height}: the screen and the keyboard in sight together`, async ({page, handheld}) => {
      await page.setViewportSize({width, height});
      await page.waitForTimeout(200);
      expect(await page.evaluate(() => document.documentElement.scrollWidth)).toBeLessThanOrEqual(width);
      for (const selector of ['#screen-frame', '#keyboard'])
        expect(await inViewport(page, selector), selector).toBe(true);
    });
  }
  test('1920 x 1080: the trace and the registry beside the keyboard, the width used', async ({page, handheld}) => {
    await page.setViewportSize({width: 1920, height: 1080});
    await page.waitForTimeout(200);
    for (const selector of ['#screen-frame', '#keyboard', '#line', '#trace', '#registry'])
      expect(await inViewport(page, selector), selector).toBe(true);
    const keyboard = await page.locator('#keyboard').boundingBox();
    for (const selector of ['#trace', '#registry']) {
      const b = await page.locator(selector).boundingBox();
      expect(b.x, selector).toBeGreaterThan(keyboard.x + keyboard.width);
      expect(b.x + b.width, selector).toBeGreaterThan(1920 - 40);
      expect(b.height, selector).toBeGreaterThan(300);
    }
    await shot(page, 'at-1920x1080', true);
  });
});

for (const [lang, yes, no] of [['FRA', 'Oui', 'Non'], ['GER', 'Ja', 'Nein']]) {
  test.describe(`${lang} build`, () => {
    test.use({lang});
    test(`the exit question's buttons say ${yes} and ${no}`, async ({page, handheld}) => {
      await show(page, 'Keyboard');
      await control(page, 1013).click();
      const box = page.locator('#screen .box');
      await expect(box.locator('[data-answer="6"]')).toHaveText(yes);
      await expect(box.locator('[data-answer="7"]')).toHaveText(no);
      if (lang === 'FRA') await shot(page, 'exit-question');
      await box.locator('[data-answer="7"]').click();
      await expect(box).toHaveCount(0);
    });
  });
}

test('latched sticky Shift and Fn, and Caps Lock, show on the drawn keyboard', async ({page, handheld}) => {
  await show(page, 'Keyboard');
  await control(page, 1041).click();
  await control(page, 1042).click();
  await expect(control(page, 1042).locator('.mark')).toHaveText('✔');
  await show(page, 'Notes');
  const shift = page.locator('#keyboard .key[data-scan="116"]'), fnKey = page.locator('#keyboard .key[data-scan="119"]');
  await page.keyboard.press('ShiftLeft');
  await expect(shift).toHaveClass(/\blatched\b/);
  await expect(fnKey).not.toHaveClass(/\blatched\b/);
  await page.keyboard.press('KeyA');
  await expectNotes(page, 'A');
  await expect(shift).not.toHaveClass(/\blatched\b/);
  await page.keyboard.press('Alt');
  await expect(fnKey).toHaveClass(/\blatched\b/);
  await shot(page, 'latched-fn');
  await page.keyboard.press('KeyW');  // Fn+W: a digit
  await expect(fnKey).not.toHaveClass(/\blatched\b/);
  await expect(page.locator('#keyboard')).not.toHaveClass(/\bcaps-lock\b/);
  await fn(page, 'ShiftLeft');  // Caps Lock
  await expect(page.locator('#keyboard')).toHaveClass(/\bcaps-lock\b/);
  await page.keyboard.press('KeyB');
  await expect(notes(page)).toHaveAttribute('data-text', /^A.B$/);
  await fn(page, 'ShiftLeft');
  await expect(page.locator('#keyboard')).not.toHaveClass(/\bcaps-lock\b/);
});

test.describe('French help', () => {
  test.use({lang: 'FRA'});
  test('Help shows the build\'s help page at its topic, and ok goes back', async ({page, handheld}) => {
    await show(page, 'Keyboard');
    await control(page, 1012).click();
    const help = page.locator('#help');
    await expect(help).toBeVisible();
    const frame = page.frameLocator('#help-page');
    await expect(frame.locator('a[name="extkbd_help"]')).toHaveCount(1);
    // At the topic: its anchor at the top of the viewer.
    await expect.poll(() => frame.locator('a[name="extkbd_help"]').evaluate(a =>
      Math.round(a.getBoundingClientRect().top))).toBeLessThan(30);
    await expect(page.locator('#help-page')).toHaveAttribute('src', '/help/tavlo.htc#extkbd_help');
    // The build's own page, byte for byte.
    const served = await request(handheld.url, {path: '/help/tavlo.htc'});
    expect(served.status).toBe(200);
    expect(Buffer.from(served.body, 'latin1').equals(fs.readFileSync(path.join(source, 'res/help/FRA/tavlo.htc')))).toBe(true);
    await shot(page, 'help');
    await page.click('#help-close');
    await expect(help).toBeHidden();
    await expect(control(page, 1040)).toBeVisible();
  });
});

test('after the program ends the controls look disabled and a key press says so', async ({page, handheld}) => {
  await show(page, 'Keyboard');
  await control(page, 1013).click();
  await page.locator('#screen .box [data-answer="6"]').click();
  await expect(page.locator('#screen .ended')).toBeVisible();
  await expect(page.locator('#plugged')).toBeDisabled();
  await expect(page.locator('#cradle')).toBeDisabled();
  expect(Number(await page.locator('#keyboard').evaluate(e => getComputedStyle(e).opacity))).toBeLessThan(0.6);
  await page.keyboard.press('KeyA');
  await expect(page.locator('#notice')).toContainText('brindle has ended');
  await page.locator('#keyboard .key[data-scan="5"]').click();
  await expect(page.locator('#notice')).toContainText('brindle has ended');
  await expect(page.locator('#trace')).toContainText('brindle ended with exit code 0');
});

test('the registry pane names its file', async ({page, handheld}) => {
  await expect(page.locator('#registry-file')).toHaveText(handheld.registry);
  await registryHas(page, 'REGEDIT4');
});

test('when brindle-web stops the page says so, and a new start comes in under a line of its own', async ({page, handheld}) => {
  await page.keyboard.press('KeyA');
  await expectNotes(page, 'a');
  await expect(page.locator('#trace .run')).toHaveCount(1);
  await handheld.web.stop();
  await expect(page.locator('#stopped')).toBeVisible();
  await expect(page.locator('#plugged')).toBeDisabled();
  await expect(page.locator('#switch-notes')).toBeDisabled();
  expect(Number(await page.locator('#keyboard').evaluate(e => getComputedStyle(e).opacity))).toBeLessThan(0.6);
  await page.keyboard.press('KeyB');
  await expect(page.locator('#notice')).toContainText('brindle-web is not running');
  const again = startWeb(['--port', handheld.port, '--registry', handheld.registry]);
  try {
    await again.url;
    await expect(page.locator('#connection')).toHaveText('connected', {timeout: 15000});
    await expect(page.locator('#stopped')).toBeHidden();
    await expect(page.locator('#trace .run')).toHaveCount(2);
    await expect(page.locator('#trace .run').nth(1)).toContainText('started again');
    // The first run's lines stay above the line, the new run's come below it.
    const text = await page.locator('#trace').textContent();
    const second = text.indexOf('started again');
    expect(text.lastIndexOf('ReadFile(COM1) [0x04]')).toBeLessThan(second);
    await expect.poll(() => page.evaluate(() => window.brindleState.program.started), {timeout: 15000}).toBe(true);
    await page.keyboard.press('KeyC');
    await expectNotes(page, 'c');
    expect(text.slice(0, second)).not.toContain('[0x06]');
    await expect.poll(async () => {
      const t = await page.locator('#trace').textContent();
      return t.indexOf('ReadFile(COM1) [0x06]') > t.indexOf('started again');
    }).toBe(true);
  } finally {
    expect((await again.stop()).code).toBe(0);
    expect(again.stderr()).not.toMatch(/Sanitizer|runtime error:/);
  }
});
