# WebAssembly with Debian's emscripten (package emscripten, with node-acorn;
# emcc needs NODE_PATH=/usr/share/nodejs, which the wasm preset sets). Programs
# run under Node, the platform file's emulator.
set(EMSCRIPTEN_SYSTEM_PROCESSOR wasm32)  # not x86: no x86 processor forms
include(/usr/share/emscripten/cmake/Modules/Platform/Emscripten.cmake)
# WebAssembly's 128-bit vector instructions, which every current engine runs.
set(CMAKE_C_FLAGS_INIT "-msimd128")
set(CMAKE_CXX_FLAGS_INIT "-msimd128")
