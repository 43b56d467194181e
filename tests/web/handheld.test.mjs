// The simulated handheld in a real browser: each test starts its own brindle-web (the
// real program, real clock, a fresh registry file), types and taps as a person would,
// and reads back what the handheld shows.
import {test as base, expect} from '@playwright/test';
import {spawn} from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';

const shots = process.env.BRINDLE_WEB_SHOTS;

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
    const proc = spawn(process.env.BRINDLE_WEB, args, {stdio: ['ignore', 'pipe', 'pipe']});
    let stderr = '';
    proc.stderr.on('data', d => { stderr += d; });
    const exited = new Promise(resolve => proc.on('exit', (code, signal) => resolve({code, signal})));
    // Whatever happens in the test, the handheld ends with it.
    let stopped = null;
    const stop = async () => {
      if (stopped) return stopped;
      proc.kill('SIGINT');
      const timer = setTimeout(() => proc.kill('SIGKILL'), 5000);
      stopped = await exited;
      clearTimeout(timer);
      fs.rmSync(dir, {recursive: true, force: true});
      return stopped;
    };
    try {
      const url = await new Promise((resolve, reject) => {
        let out = '';
        proc.stdout.on('data', d => {
          out += d;
          const m = out.match(/http:\/\/127\.0\.0\.1:\d+\//);
          if (m) resolve(m[0]);
        });
        exited.then(e => reject(new Error(`brindle-web ended (${e.code}): ${stderr}`)));
        setTimeout(() => reject(new Error('brindle-web printed no address')), 10000);
      });
      await page.goto(url);
      await expect(page.locator('#connection')).toHaveText('connected');
      // Notes comes to the front once the driver runs.
      await expect(page.locator('#screen .taskbar .title')).toHaveText('Notes');
      await use({url, registry});
    } finally {
      await stop();
    }
    expect(stopped.signal, `brindle-web had to be killed; its stderr:\n${stderr}`).toBe(null);
    expect(stopped.code, stderr).toBe(0);
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

async function show(page, which) {
  await page.click(which === 'Notes' ? '#switch-notes' : '#switch-keyboard');
  await expect(page.locator('#screen .taskbar .title')).toHaveText(which === 'Notes' ? 'Notes' : 'Keyboard');
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
  await page.mouse.click(box.x + x * 2 + 1, box.y + y * 2 + 1);
}

async function shot(page, name) {
  if (!shots) return;
  fs.mkdirSync(shots, {recursive: true});
  await page.locator('main').screenshot({path: path.join(shots, name + '.png')});
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
  await shot(page, 'exit-question');
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
    (await fetch(p, {method: 'POST', body})).status, [p, body]);
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
