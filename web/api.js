// Veilshift's JavaScript API, on the WebAssembly build of the module, its
// reference host and the engine's three components (web/web_api.cpp).
//
//   const vs = await VeilshiftWeb();          // one instance: one module, loaded once
//   vs.setStartupValues({MMX: '1'});          // optional, before the first begin
//   vs.loadPictures(a, b);                    // {width, height, rgb} or {width, height, data} (RGBA)
//   vs.begin(31, {x: 0, y: 0, width: 320, height: 240});
//   const frame = vs.draw(i, n);              // frame i of 0..n: {rgb, width, height, checksum, ms}
//   vs.end();
//
// The screen has picture A's size and shows A before the transition; the
// rectangle stands at the same corner on the screen and in both pictures.
// Frame i is the screen after draw(0, n) ... draw(i, n) in order after begin,
// as a game draws it: an effect may leave pixels of the frame before, so a
// frame drawn out of order onto another is not that frame. To show frame i
// again, begin anew and draw from the first (or keep the frames drawn).
// The module reads its start-up values once, at its first connection (the
// first begin of the instance); a new instance reads them again.
// Appended to the module's own code (emcc --post-js): `Module` is the instance.
// Written without destructuring, which the compiler's JavaScript optimiser of
// this emscripten version mangles.

Module['version'] = function () {
  return UTF8ToString(_vs_version());
};

// [{number, name}] of every effect the module implements.
Module['effects'] = function () {
  const effects = [];
  for (let i = 0; i < _vs_effect_count(); ++i) {
    effects.push({number: _vs_effect_number(i), name: UTF8ToString(_vs_effect_name(i))});
  }
  return effects;
};

// {MMX, SSE}: a string (decimal or any other text) gives the value; null or
// undefined leaves it absent.
Module['setStartupValues'] = function (values) {
  ['MMX', 'SSE'].forEach(function (name) {
    const value = values ? values[name] : undefined;
    if (value === undefined || value === null) {
      withCString(name, (n) => _vs_set_startup_value(n, 0));
    } else {
      withCString(name, (n) => withCString(String(value), (v) => _vs_set_startup_value(n, v)));
    }
  });
};

function withCString(text, use) {
  const bytes = lengthBytesUTF8(text) + 1;
  const pointer = _malloc(bytes);
  try {
    stringToUTF8(text, pointer, bytes);
    return use(pointer);
  } finally {
    _free(pointer);
  }
}

function checkSize(width, height) {
  // As web::PictureSizeFits: sides up to 16384, up to 2^24 pixels.
  if (!Number.isInteger(width) || !Number.isInteger(height) || width < 1 || height < 1 ||
      width > 16384 || height > 16384 || width * height > 16777216) {
    throw new RangeError(`a picture of ${width}x${height} pixels cannot be used`);
  }
}

// Packed RGB from {width, height, rgb} (3 bytes a pixel) or an ImageData-like
// {width, height, data} (4 bytes a pixel, alpha ignored).
function toRgb(picture) {
  const width = picture.width;
  const height = picture.height;
  checkSize(width, height);
  const pixels = width * height;
  if (picture.rgb) {
    if (picture.rgb.length !== pixels * 3) throw new RangeError('rgb must hold width * height * 3 bytes');
    return picture.rgb;
  }
  if (!picture.data || picture.data.length !== pixels * 4) {
    throw new RangeError('data must hold width * height * 4 bytes (RGBA)');
  }
  const rgb = new Uint8Array(pixels * 3);
  for (let i = 0, j = 0; i < pixels * 4; i += 4, j += 3) {
    rgb[j] = picture.data[i];
    rgb[j + 1] = picture.data[i + 1];
    rgb[j + 2] = picture.data[i + 2];
  }
  return rgb;
}

function copyOut(pointer, bytes) {
  return HEAPU8.slice(pointer, pointer + bytes);
}

// The preview tool's built-in pair at a size: {a, b}, each {width, height, rgb}.
Module['builtInPictures'] = function (width, height) {
  checkSize(width, height);
  const pair = {};
  ['a', 'b'].forEach(function (key, which) {
    pair[key] = {width: width, height: height,
                 rgb: copyOut(_vs_builtin_picture(which, width, height), width * height * 3)};
  });
  return pair;
};

// Noise from the reference host's generator: {width, height, rgb}.
Module['noisePicture'] = function (seed, width, height) {
  checkSize(width, height);
  return {width: width, height: height, rgb: copyOut(_vs_noise_picture(seed >>> 0, width, height), width * height * 3)};
};

Module['loadPictures'] = function (a, b) {
  [a, b].forEach((picture, which) => {
    const rgb = toRgb(picture);
    const pointer = _malloc(rgb.length);
    try {
      HEAPU8.set(rgb, pointer);
      if (!_vs_set_picture(which, picture.width, picture.height, pointer)) {
        throw new Error(`picture ${which ? 'B' : 'A'} was refused`);
      }
    } finally {
      _free(pointer);
    }
  });
};

// True when the module began the effect; the rectangle defaults to the whole of A.
Module['begin'] = function (effect, rect) {
  const r = rect || {x: 0, y: 0, width: 1 << 30, height: 1 << 30};
  return _vs_begin(effect | 0, r.x | 0, r.y | 0, r.width | 0, r.height | 0) !== 0;
};

// Draws frame `progress` of 0..`total` and answers the screen after it.
// ms: the module's Draw alone.
Module['draw'] = function (progress, total) {
  const start = performance.now();
  _vs_draw(progress | 0, total | 0);
  const ms = performance.now() - start;
  const checksum = _vs_capture_screen() >>> 0;
  const width = _vs_screen_width();
  const height = _vs_screen_height();
  return {rgb: copyOut(_vs_captured_pixels(), width * height * 3), width: width, height: height,
          checksum: checksum, ms: ms};
};

Module['end'] = function () {
  _vs_end();
};

// Requests outside a surface and broken guard bytes the reference host saw.
Module['hostViolations'] = function () {
  return _vs_host_violations();
};

// The checksum as the native tools print it: eight hexadecimal digits.
Module['hex'] = function (checksum) {
  return (checksum >>> 0).toString(16).padStart(8, '0');
};
