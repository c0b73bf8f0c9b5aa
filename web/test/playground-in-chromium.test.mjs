// The playground page in headless Chromium (Debian's), driven by playwright-core:
// it loads with no console error, shows the version, draws every effect, and
// the checksum it shows for every frame equals the native build's (the case
// file's) and that of the pixels on its canvas, whether walked in order or
// jumped to. Its controls work: play, scrub, a chosen picture, the animated PNG. VEILSHIFT_PLAYGROUND_PAGES lists
// the pages (separated by |), VEILSHIFT_EXPECTED_FRAMES names the case file.
import assert from 'node:assert/strict';
import {mkdtempSync, readFileSync, rmSync, existsSync, writeFileSync} from 'node:fs';
import {tmpdir} from 'node:os';
import {join} from 'node:path';
import {deflateSync} from 'node:zlib';
import {createServer} from 'node:http';
import {test} from 'node:test';
import {chromium} from 'playwright-core';
import {parseCases, caseKey} from './frame-cases.mjs';

const pages = process.env.VEILSHIFT_PLAYGROUND_PAGES.split('|');
const cases = parseCases(readFileSync(process.env.VEILSHIFT_EXPECTED_FRAMES, 'utf8'));
// The cases the page can show as they are: the built-in pair, the whole picture, no start-up values.
const pageCases = cases.filter((c) => c.pictures === 'builtin' && c.mmx === null && c.sse === null &&
                                      c.rect.x === 0 && c.rect.y === 0 && c.rect.width === c.width &&
                                      c.rect.height === c.height);
const kFlags = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
                '--disable-background-networking', '--disable-component-update', '--disable-sync'];

// A small PNG of w x h pixels, for the picture chooser.
function png(w, h, pixel) {
  const crcTable = Array.from({length: 256}, (_, n) => {
    let c = n;
    for (let k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320 ^ (c >>> 1) : c >>> 1;
    return c >>> 0;
  });
  const crc = (b) => { let c = ~0; for (const x of b) c = crcTable[(c ^ x) & 255] ^ (c >>> 8); return ~c >>> 0; };
  const chunk = (type, data) => {
    const out = Buffer.alloc(12 + data.length);
    out.writeUInt32BE(data.length, 0);
    out.write(type, 4, 'latin1');
    data.copy(out, 8);
    out.writeUInt32BE(crc(out.subarray(4, 8 + data.length)), 8 + data.length);
    return out;
  };
  const header = Buffer.alloc(13);
  header.writeUInt32BE(w, 0);
  header.writeUInt32BE(h, 4);
  header.set([8, 2, 0, 0, 0], 8);
  const raw = Buffer.alloc(h * (w * 3 + 1));
  for (let y = 0; y < h; ++y)
    for (let x = 0; x < w; ++x) raw.set(pixel(x, y), y * (w * 3 + 1) + 1 + x * 3);
  return Buffer.concat([Buffer.from([137, 80, 78, 71, 13, 10, 26, 10]), chunk('IHDR', header),
                        chunk('IDAT', deflateSync(raw)), chunk('IEND', Buffer.alloc(0))]);
}

// Debian's Chromium with a fresh profile; every console error and page error is kept.
async function openBrowser() {
  const profile = mkdtempSync(join(tmpdir(), 'veilshift-chromium-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: '/usr/bin/chromium', headless: true, args: kFlags});
  const problems = [];
  const page = await context.newPage();
  page.on('console', (m) => { if (m.type() === 'error') problems.push(`console: ${m.text()}`); });
  page.on('pageerror', (e) => problems.push(`page error: ${e.message}`));
  return {profile, context, page, problems};
}

for (const pagePath of pages) {
  test(`the playground at ${pagePath}`, async (t) => {
    assert.ok(existsSync(pagePath), `${pagePath} is missing`);
    assert.ok(pageCases.length > 0, 'the case file has cases the page can show');
    const {profile, context, page, problems} = await openBrowser();
    try {
      await page.goto('file://' + pagePath);
      await page.waitForSelector('#state[data-state="ready"]', {timeout: 60000});
      assert.equal(await page.textContent('#version'), process.env.VEILSHIFT_VERSION);
      const effects = await page.$$eval('#effect option', (os) => os.map((o) => Number(o.value)));
      assert.ok(effects.length >= 6, 'every effect is offered');

      const mismatches = [];
      // The settings of a case, chosen as a person chooses them.
      const choose = async (c) => {
        await page.fill('#pairWidth', String(c.width));
        await page.fill('#pairHeight', String(c.height));
        await page.click('#builtIn');
        await page.fill('#frames', String(c.frames));
        await page.dispatchEvent('#frames', 'change');
        await page.selectOption('#effect', String(c.effect));
        await page.evaluate(() => window.playground.idle());
      };
      for (const c of pageCases) {
        await choose(c);
        for (let i = 0; i < c.frames; ++i) {
          const shown = await page.evaluate(async (index) => {
            const state = await window.playground.show(index);
            // The canvas's own pixels, hashed as the module hashes a frame.
            const canvas = document.getElementById('screen');
            const data = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
            let hash = 2166136261;
            for (let p = 0; p < data.length; p += 4)
              for (let k = 0; k < 3; ++k) hash = Math.imul(hash ^ data[p + k], 16777619) >>> 0;
            return Object.assign(state, {canvas: hash.toString(16).padStart(8, '0'),
                                         text: document.getElementById('checksum').textContent});
          }, i);
          assert.equal(shown.effect, c.effect);
          assert.equal(shown.text, shown.canvas, `${caseKey(c)} frame ${i}: the canvas shows another frame`);
          const expected = c.sums[i].toString(16).padStart(8, '0');
          if (shown.text !== expected) {
            mismatches.push(`${caseKey(c)}: frame ${i} shows ${shown.text}, natively ${expected}`);
            break;
          }
        }
      }
      for (const effect of effects) assert.ok(pageCases.some((c) => c.effect === effect), `effect ${effect} checked`);

      // A frame jumped or scrubbed to is the frame a game shows: the ripple
      // leaves pixels of the frame before, so a frame drawn onto whatever was
      // shown last would differ. Forward, back and again
      // forward, with drawn frames kept and with none kept (each jump drawn
      // again from the first frame).
      for (const effect of effects) {
        const c = pageCases.find((k) => k.effect === effect);
        const last = c.frames - 1, mid = Math.floor(c.frames / 2);
        for (const kept of [256 << 20, 0]) {
          await choose(c);
          await page.evaluate((bytes) => window.playground.keepFrames(bytes), kept);
          for (const i of [mid, 1, last - 1, mid - 1, last, 0, mid + 1]) {
            const shown = await page.evaluate((index) => window.playground.show(index), i);
            const expected = c.sums[i].toString(16).padStart(8, '0');
            if (shown.frame !== i || shown.checksum !== expected)
              mismatches.push(`${caseKey(c)}: jumped to frame ${i} (${kept ? 'frames kept' : 'none kept'}), ` +
                              `shows frame ${shown.frame} with ${shown.checksum}, in order ${expected}`);
          }
        }
        await page.evaluate(() => window.playground.keepFrames(256 << 20));
      }
      problems.push(...mismatches);

      await t.test('play runs to the last frame', async () => {
        await page.fill('#frames', '6');
        await page.dispatchEvent('#frames', 'change');
        await page.evaluate(() => window.playground.show(0));
        await page.click('#play');
        await page.waitForFunction(() => window.playground.shown.frame > 0);
        await page.waitForFunction(() => window.playground.shown.frame === 5 && document.getElementById('play').textContent === 'Play');
      });

      await t.test('the animated PNG holds every frame', async () => {
        const bytes = await page.evaluate(async () => Array.from(new Uint8Array(await (await window.playground.animatedPng()).arrayBuffer())));
        const b = Buffer.from(bytes);
        assert.deepEqual([...b.subarray(0, 8)], [137, 80, 78, 71, 13, 10, 26, 10]);
        const actl = b.indexOf('acTL');
        assert.ok(actl > 0);
        assert.equal(b.readUInt32BE(actl + 4), 6);
        // The browser itself decodes it, at the pictures' size.
        const size = await page.evaluate(async (data) => {
          const bitmap = await createImageBitmap(new Blob([new Uint8Array(data)], {type: 'image/png'}));
          return [bitmap.width, bitmap.height];
        }, bytes);
        const screen = await page.evaluate(() => [window.playground.shown.width, window.playground.shown.height]);
        assert.deepEqual(size, screen);
      });

      await t.test('a chosen picture becomes A, and B follows its size', async () => {
        const file = join(profile, 'chosen.png');
        writeFileSync(file, png(37, 23, (x, y) => [x * 6, y * 11, 128]));
        await page.setInputFiles('#fileA', file);
        await page.waitForFunction(() => window.playground.shown.width === 37);
        const shown = await page.evaluate(() => window.playground.show(0));
        assert.equal(shown.height, 23);
        assert.equal(await page.getAttribute('#state', 'data-state'), 'ready');
        assert.equal(await page.textContent('#nameA'), 'chosen.png');
        assert.equal(await page.textContent('#sizeA'), '37×23');
      });

      await t.test('a refused file is explained and changes nothing', async () => {
        const before = await page.evaluate(() => window.playground.idle());
        const file = join(profile, 'broken.png');
        writeFileSync(file, Buffer.from('not a picture'));
        await page.setInputFiles('#fileB', file);
        await page.waitForSelector('#error:not([hidden])');
        assert.match(await page.textContent('#error'), /broken\.png/);
        assert.equal(await page.inputValue('#fileB'), '', 'the chooser no longer names the refused file');
        const after = await page.evaluate((index) => window.playground.show(index), before.frame);
        assert.equal(after.checksum, before.checksum);
        await page.click('#builtIn');
        await page.evaluate(() => window.playground.idle());
        assert.equal(await page.isHidden('#error'), true, 'the error goes once pictures are in use again');
      });
    } finally {
      await context.close();
      rmSync(profile, {recursive: true, force: true});
    }
    assert.deepEqual(problems, []);
  });
}

test('the page from a static server on this machine', async () => {
  const body = readFileSync(pages[0]);
  const server = createServer((request, response) => {
    response.writeHead(200, {'Content-Type': 'text/html; charset=utf-8'});
    response.end(body);
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  const {profile, context, page, problems} = await openBrowser();
  try {
    await page.goto(`http://127.0.0.1:${server.address().port}/playground/`);
    await page.waitForSelector('#state[data-state="ready"]', {timeout: 60000});
    assert.equal(await page.textContent('#version'), process.env.VEILSHIFT_VERSION);
    assert.match(await page.textContent('#checksum'), /^[0-9a-f]{8}$/);
  } finally {
    await context.close();
    server.close();
    rmSync(profile, {recursive: true, force: true});
  }
  assert.deepEqual(problems, []);
});
