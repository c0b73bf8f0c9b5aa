// The WebAssembly build draws every case of the case file (web/expected-frames.txt,
// written by the native build) and must give the same checksum for every frame.
// Run by ctest in the wasm build: VEILSHIFT_WEB_MODULE names the built
// veilshift-web.js, VEILSHIFT_EXPECTED_FRAMES the case file.
import assert from 'node:assert/strict';
import {createRequire} from 'node:module';
import {readFileSync} from 'node:fs';
import {test} from 'node:test';
import {parseCases, caseKey, casePictures} from './frame-cases.mjs';

const require = createRequire(import.meta.url);
const VeilshiftWeb = require(process.env.VEILSHIFT_WEB_MODULE);
const cases = parseCases(readFileSync(process.env.VEILSHIFT_EXPECTED_FRAMES, 'utf8'));

// The module reads its start-up values once per instance: one instance for each pair of values.
const groups = new Map();
for (const c of cases) {
  const key = `mmx=${c.mmx ?? '-'} sse=${c.sse ?? '-'}`;
  if (!groups.has(key)) groups.set(key, []);
  groups.get(key).push(c);
}

test('the case file covers every effect the module has', async () => {
  const vs = await VeilshiftWeb();
  const numbers = vs.effects().map((e) => e.number);
  assert.ok(numbers.length > 0);
  for (const number of numbers) assert.ok(cases.some((c) => c.effect === number), `effect ${number}`);
});

for (const [startup, group] of groups) {
  test(`every frame as the native build draws it, ${startup}`, async () => {
    const vs = await VeilshiftWeb();
    vs.setStartupValues({MMX: group[0].mmx, SSE: group[0].sse});
    const failures = [];
    for (const c of group) {
      const {a, b} = casePictures(vs, c);
      vs.loadPictures(a, b);
      assert.ok(vs.begin(c.effect, c.rect), `${caseKey(c)}: the module did not begin`);
      for (let i = 0; i < c.frames; ++i) {
        const frame = vs.draw(i, c.frames - 1);
        if (frame.checksum !== c.sums[i]) {
          failures.push(`${caseKey(c)}: frame ${i} is ${vs.hex(frame.checksum)}, natively ${vs.hex(c.sums[i])}`);
          break;
        }
        assert.equal(frame.rgb.length, c.width * c.height * 3);
      }
      vs.end();
      assert.equal(vs.hostViolations(), 0, caseKey(c));
    }
    assert.deepEqual(failures, []);
  });
}

test('pictures of the wrong shape are refused', async () => {
  const vs = await VeilshiftWeb();
  assert.throws(() => vs.loadPictures({width: 2, height: 2, rgb: new Uint8Array(11)}, vs.noisePicture(1, 2, 2)),
                RangeError);
  assert.throws(() => vs.builtInPictures(0, 10), RangeError);
  assert.throws(() => vs.builtInPictures(8192, 4097), RangeError, 'over the pixel budget');
  assert.equal(vs.begin(1), false, 'no pictures yet');
  const rgba = {width: 3, height: 2, data: new Uint8ClampedArray(24).fill(200)};
  vs.loadPictures(rgba, vs.noisePicture(2, 3, 2));
  assert.equal(vs.begin(1, {x: 0, y: 0, width: 3, height: 2}), true);
  assert.deepEqual(Array.from(vs.draw(0, 4).rgb), new Array(18).fill(200), 'frame 0 shows A');
  vs.end();
  assert.equal(vs.begin(2), false, 'an effect the module lacks');
});
