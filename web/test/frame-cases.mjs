// The case file's lines (web/frame_cases.h describes them), read as the native
// tool reads them; shared by the Node test and the playground's browser test.
export function parseCases(text) {
  const cases = [];
  text.split('\n').forEach((line, index) => {
    if (line === '' || line.startsWith('#')) return;
    const m = line.match(/^effect=(\d+) pictures=(builtin|noise) size=(\d+)x(\d+) rect=(-?\d+),(-?\d+),(-?\d+),(-?\d+) frames=(\d+) mmx=(\S+) sse=(\S+) :((?: [0-9a-f]{8})+)$/);
    if (!m) throw new Error(`line ${index + 1} cannot be read`);
    const n = m.slice(1, 10).map(Number);
    const startup = (v) => (v === '-' ? null : v);
    cases.push({
      effect: n[0], pictures: m[2], width: n[2], height: n[3],
      rect: {x: n[4], y: n[5], width: n[6], height: n[7]}, frames: n[8],
      mmx: startup(m[10]), sse: startup(m[11]),
      sums: m[12].trim().split(' ').map((h) => parseInt(h, 16)),
    });
  });
  return cases;
}

export function caseKey(c) {
  const r = c.rect;
  return `effect=${c.effect} pictures=${c.pictures} size=${c.width}x${c.height} ` +
         `rect=${r.x},${r.y},${r.width},${r.height} frames=${c.frames} mmx=${c.mmx ?? '-'} sse=${c.sse ?? '-'}`;
}

// The case's two pictures from the module's own generators (seeds 1 and 2 for noise).
export function casePictures(vs, c) {
  if (c.pictures === 'noise') return {a: vs.noisePicture(1, c.width, c.height), b: vs.noisePicture(2, c.width, c.height)};
  return vs.builtInPictures(c.width, c.height);
}
