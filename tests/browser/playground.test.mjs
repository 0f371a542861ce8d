// The chart playground in Debian's Chromium, against a `norvisk serve` of its own: what a person
// sees and can do, with the keyboard alone and at a phone's width.
//   NORVISK_BINARY    the norvisk command
//   BROWSER_MODULES   the folder holding node_modules/playwright-core
//   BROWSER_OUT       a folder for the screenshots
import assert from 'node:assert/strict';
import { spawn, spawnSync } from 'node:child_process';
import { mkdirSync, mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';

const binary = process.env.NORVISK_BINARY;
const out = process.env.BROWSER_OUT || tmpdir();
const { chromium } = createRequire(path.join(process.env.BROWSER_MODULES, 'index.js'))(
    'playwright-core');

const BAR = '(Q1;Q2)(North;10;20)(South;15;25)';
const XY = '(Jan;10)(Feb;20)(Mar;15)';

let server;
let origin;
let browser;
let scratch;

// The service on a port the system picks; its first line names it.
function startServer() {
  return new Promise((resolve, reject) => {
    const child = spawn(binary, ['serve', '--listen', '127.0.0.1:0', '--threads', '2'],
                        { stdio: ['ignore', 'pipe', 'inherit'] });
    const timer = setTimeout(() => reject(new Error('the service did not start')), 10000);
    let text = '';
    child.stdout.on('data', (chunk) => {
      text += chunk;
      const m = /listening on (http:\/\/[0-9.]+:[0-9]+)/.exec(text);
      if (m) {
        clearTimeout(timer);
        resolve({ child, origin: m[1] });
      }
    });
    child.on('exit', (code) => reject(new Error('the service ended with ' + code)));
  });
}

// The file `norvisk KIND` writes for DATA.
function commandBytes(kind, data, format, extra = []) {
  const file = path.join(scratch, 'expected.' + format);
  rmSync(file, { force: true });
  const r = spawnSync(binary, [kind, ...extra, '--', file, data], { encoding: 'utf8' });
  assert.equal(r.status, 0, r.stderr);
  return readFileSync(file);
}

// A page on the playground that fails the test on any console error or request elsewhere.
// Chromium logs every answer that is not 2xx as a console error: `refused` lists the statuses a
// test meets on purpose (422 while a string is typed one character at a time: "(" holds no point).
async function openPage(t, viewport = { width: 1200, height: 900 }, refused = [422]) {
  const context = await browser.newContext({ viewport });
  await context.grantPermissions(['clipboard-read', 'clipboard-write'], { origin });
  const page = await context.newPage();
  const problems = [];
  page.on('console', (m) => {
    if (m.type() !== 'error') return;
    const status = /^Failed to load resource: the server responded with a status of (\d+)/
                       .exec(m.text());
    if (!status || !refused.includes(Number(status[1]))) problems.push('console: ' + m.text());
  });
  page.on('pageerror', (e) => problems.push('page error: ' + e.message));
  page.on('request', (r) => {
    const url = r.url();
    if (!url.startsWith(origin + '/') && !url.startsWith('blob:' + origin + '/'))
      problems.push('request elsewhere: ' + url);
  });
  t.after(async () => {
    await context.close();
    assert.deepEqual(problems, []);
  });
  await page.goto(origin + '/');
  await settled(page);
  return page;
}

// Waits until the page has no request in flight and shows what its input asks for.
async function settled(page) {
  await page.waitForFunction(() => {
    const img = document.getElementById('chart');
    const reason = document.getElementById('reason');
    return (!img.hidden && img.complete) || !reason.hidden;
  }, null, { timeout: 10000 });
  await page.waitForLoadState('networkidle', { timeout: 10000 });
}

// The bytes of the picture the page shows, as the page holds them.
async function shownBytes(page) {
  const bytes = await page.evaluate(async () => {
    const img = document.getElementById('chart');
    // The picture is a blob: address of the page's own, which its policy does not let even the
    // page fetch; the blob behind it is read instead.
    if (!img.src.startsWith('blob:') || !img.picture) return [];
    return Array.from(new Uint8Array(await img.picture.arrayBuffer()));
  });
  return Buffer.from(bytes);
}

// The format the page draws in: the first the service offers.
const shownFormat = (page) => page.inputValue('#format');

async function typeData(page, text) {
  await page.fill('#data', '');
  await page.type('#data', text, { delay: 2 });
  await page.waitForTimeout(150);
  await settled(page);
}

before(async () => {
  scratch = mkdtempSync(path.join(tmpdir(), 'norvisk-browser-'));
  mkdirSync(out, { recursive: true });
  ({ child: server, origin } = await startServer());
  browser = await chromium.launch({
    executablePath: '/usr/bin/chromium',
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
           '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
});

after(async () => {
  if (browser) await browser.close();
  if (server) server.kill('SIGTERM');
  rmSync(scratch, { recursive: true, force: true });
});

describe('the playground', () => {
  test('loads on its own: the version, a chart, nothing from elsewhere', async (t) => {
    const page = await openPage(t, undefined, []);
    const response = await page.request.get(origin + '/');
    assert.match(response.headers()['content-security-policy'], /default-src 'none'/);
    assert.ok(response.headers()['etag']);
    assert.equal(response.headers()['cache-control'], 'no-cache');
    const version = spawnSync(binary, ['--version'], { encoding: 'utf8' }).stdout.trim();
    assert.ok((await page.textContent('header')).includes(version.split(' ').pop()));
    assert.equal(await page.isVisible('#chart'), true);
  });

  test('shows the chart the command draws, bar and XY', async (t) => {
    const page = await openPage(t);
    await typeData(page, BAR);
    assert.ok((await shownBytes(page)).equals(commandBytes('bar', BAR, await shownFormat(page))));
    assert.match(await page.getAttribute('#chart', 'alt'), /^Bar chart of \(Q1;Q2\)/);

    await page.check('input[value="xy"]');
    await typeData(page, XY);
    assert.ok((await shownBytes(page)).equals(commandBytes('xy', XY, await shownFormat(page))));
    assert.match(await page.getAttribute('#chart', 'alt'), /^XY chart of \(Jan;10\)/);

    await page.selectOption('#format', 'jpg');
    await page.fill('#width', '320');
    await page.waitForTimeout(150);
    await settled(page);
    assert.ok((await shownBytes(page))
                  .equals(commandBytes('xy', XY, 'jpg', ['--width', '320'])));
  });

  test('explains how the string was read', async (t) => {
    const page = await openPage(t);
    await typeData(page, '(A;B)(x;1;2) (y;3;abc)');
    const cells = await page.$$eval('#parsed th, #parsed td', (c) => c.map((e) => e.textContent));
    // The blank before the last group is its skipped character, so the bar is named "(y".
    for (const text of ['A', 'B', 'x', '(y', '1', '2', '3', '0']) assert.ok(cells.includes(text), text);
    assert.match(await page.textContent('#parsed'), /Highest stack.*: 3\b/);

    await page.check('input[value="xy"]');
    // Whatever the first character is, it is skipped.
    await typeData(page, '[f(x);2)(g;-1)');
    const xy = await page.$$eval('#parsed td, #parsed th', (c) => c.map((e) => e.textContent));
    for (const text of ['f(x)', '2', 'g', '-1']) assert.ok(xy.includes(text), text);
    assert.match(await page.textContent('#parsed'), /Lowest value -1, highest 2/);
  });

  test('says why when nothing can be drawn, with no broken picture', async (t) => {
    const page = await openPage(t);
    await page.check('input[value="xy"]');
    await typeData(page, '(no point here');
    assert.equal(await page.isHidden('#chart'), true);
    assert.match(await page.textContent('#reason'), /no point/);
    await page.fill('#width', '0');
    await page.waitForTimeout(150);
    await settled(page);
    assert.equal(await page.isHidden('#chart'), true);
    assert.notEqual((await page.textContent('#reason')).trim(), '');
  });

  test('copies an <img> snippet and a curl command that give the same picture', async (t) => {
    const page = await openPage(t);
    await typeData(page, BAR);
    await page.click('#copy-snippet');
    const snippet = await page.evaluate(() => navigator.clipboard.readText());
    const src = await page.evaluate((html) => {
      const doc = new DOMParser().parseFromString(html, 'text/html');
      return doc.querySelector('img').getAttribute('src');
    }, snippet);
    const format = await shownFormat(page);
    assert.ok(src.startsWith(origin + '/bar.' + format + '?'), src);
    const fetched = Buffer.from(await (await page.request.get(src)).body());
    assert.ok(fetched.equals(commandBytes('bar', BAR, await shownFormat(page))));

    await page.click('#copy-curl');
    const curl = await page.evaluate(() => navigator.clipboard.readText());
    assert.equal(curl, 'curl -o chart.' + format + " '" + src + "'");
  });

  test('sends one request at a time and ends on the last input', async (t) => {
    const page = await openPage(t);
    let inFlight = 0;
    let most = 0;
    const service = (r) => /\/(bar|xy)\.|\/parse\//.test(r.url());
    page.on('request', (r) => { if (service(r)) most = Math.max(most, ++inFlight); });
    const done = (r) => { if (service(r)) --inFlight; };
    page.on('requestfinished', done);
    page.on('requestfailed', done);
    await page.fill('#data', '');
    const last = '(Q1;Q2;Q3)(North;10;20;30)(South;15;25;35)(East;5;10;5)';
    await page.type('#data', last, { delay: 1 });
    await page.waitForTimeout(200);
    await settled(page);
    assert.equal(most, 1);
    assert.ok((await shownBytes(page)).equals(commandBytes('bar', last, await shownFormat(page))));
    const after = Number(await page.evaluate(() => document.body.dataset.shownAfterMs));
    console.log(`# chart shown ${after} ms after the last keystroke`);
  });

  test('works with the keyboard alone', async (t) => {
    const page = await openPage(t);
    const reached = new Set();
    for (let i = 0; i < 20; ++i) {
      await page.keyboard.press('Tab');
      reached.add(await page.evaluate(() => document.activeElement.id ||
                                             document.activeElement.name));
    }
    for (const id of ['kind', 'example', 'data', 'width', 'height', 'format', 'snippet',
                      'copy-snippet', 'curl', 'copy-curl'])
      assert.ok(reached.has(id), id + ' is not reached with Tab');

    // Every control has a name a screen reader can say.
    const unnamed = await page.$$eval('input, select, textarea, button', (all) =>
      all.filter((e) => !(e.labels && e.labels.length) && !e.getAttribute('aria-label') &&
                        !(e.tagName === 'BUTTON' && e.textContent.trim()))
         .map((e) => e.id || e.name));
    assert.deepEqual(unnamed, []);

    // Choose XY with the arrow keys, then type: the chart follows.
    await page.focus('input[value="bar"]');
    await page.keyboard.press('ArrowRight');
    await page.focus('#data');
    await page.keyboard.press('Control+A');
    await page.keyboard.type(XY);
    await page.waitForTimeout(150);
    await settled(page);
    assert.ok((await shownBytes(page)).equals(commandBytes('xy', XY, await shownFormat(page))));
  });

  test('fits a narrow window, and its screenshot is not blank', async (t) => {
    const page = await openPage(t, { width: 360, height: 740 });
    const overflow = await page.evaluate(() =>
      document.documentElement.scrollWidth - document.documentElement.clientWidth);
    assert.equal(overflow, 0);
    const narrow = path.join(out, 'playground-360.png');
    await page.screenshot({ path: narrow, fullPage: true });

    const wide = await openPage(t);
    const file = path.join(out, 'playground.png');
    await wide.screenshot({ path: file });
    // Count the colours of the screenshot in a page of its own (the playground's policy
    // rightly refuses pictures from data addresses).
    const blank = await browser.newPage();
    const colours = await blank.evaluate(async (b64) => {
      const img = new Image();
      img.src = 'data:image/png;base64,' + b64;
      await img.decode();
      const canvas = document.createElement('canvas');
      canvas.width = img.width;
      canvas.height = img.height;
      const g = canvas.getContext('2d');
      g.drawImage(img, 0, 0);
      const d = g.getImageData(0, 0, img.width, img.height).data;
      const seen = new Set();
      for (let i = 0; i < d.length; i += 4) seen.add((d[i] << 16) | (d[i + 1] << 8) | d[i + 2]);
      return seen.size;
    }, readFileSync(file).toString('base64'));
    await blank.close();
    assert.ok(colours > 50, 'the screenshot has ' + colours + ' colours');
  });
});
