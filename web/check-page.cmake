# cmake -DBUILT=build/wasm/playground/index.html -DCOMMITTED=docs/playground/index.html -P check-page.cmake
# The page in the repository must be the one these sources build: the README
# links it, and the preview tool's gallery too.
file(READ ${BUILT} built)
file(READ ${COMMITTED} committed)
if(NOT built STREQUAL committed)
  message(FATAL_ERROR "${COMMITTED} is not the page these sources build; after the wasm build:\n"
                      "  cp ${BUILT} ${COMMITTED}")
endif()
