# The Windows release: `cpack` in the win32 build folder makes
# Veilshift-<version>-win32.zip with the DLL, README.txt and README-ja.txt,
# LICENSE and THIRD-PARTY-NOTICES.txt, the host contract, the integration
# guide (English and Japanese), the changelog, the preview tool with the
# reference components it runs on (in preview/stand-ins), and SHA256SUMS of
# every file.

# The changelog's newest release heading names the project version; changes
# not yet released may stand above it, under "## Unreleased".
file(STRINGS ${PROJECT_SOURCE_DIR}/CHANGELOG.md changelog_headings REGEX "^## ")
list(GET changelog_headings 0 newest)
if(newest STREQUAL "## Unreleased")
  list(REMOVE_AT changelog_headings 0)
  list(GET changelog_headings 0 newest)
endif()
if(NOT newest MATCHES "^## ${PROJECT_VERSION} ")
  message(FATAL_ERROR "CHANGELOG.md's newest entry (${newest}) is not version ${PROJECT_VERSION}")
endif()

# The plain-text files a Windows user opens first, with Windows line ends and
# the version filled in (both READMEs keep their byte-order mark for Notepad).
set(release_texts)
foreach(text dist/README.txt dist/README-ja.txt dist/THIRD-PARTY-NOTICES.txt LICENSE)
  get_filename_component(name ${text} NAME)
  configure_file(${PROJECT_SOURCE_DIR}/${text} ${CMAKE_BINARY_DIR}/release-texts/${name} @ONLY NEWLINE_STYLE CRLF)
  list(APPEND release_texts ${CMAKE_BINARY_DIR}/release-texts/${name})
endforeach()

# The Markdown files likewise with Windows line ends, the Japanese ones with
# the byte-order mark (Notepad before Windows 10 1903 reads UTF-8 without one
# as the local code page), the changelog without the changes not yet released.
string(ASCII 239 187 191 byte_order_mark)
function(release_markdown source out)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${source})
  file(READ ${PROJECT_SOURCE_DIR}/${source} content)
  if(source STREQUAL "CHANGELOG.md")
    string(FIND "${content}" "\n## Unreleased\n" unreleased)
    if(unreleased GREATER_EQUAL 0)
      math(EXPR after "${unreleased} + 1")
      string(SUBSTRING "${content}" ${after} -1 rest)
      string(FIND "${rest}" "\n## " next)
      string(SUBSTRING "${content}" 0 ${unreleased} before)
      string(SUBSTRING "${rest}" ${next} -1 rest)
      set(content "${before}${rest}")
    endif()
  endif()
  string(REPLACE "\r\n" "\n" content "${content}")
  string(REPLACE "\n" "\r\n" content "${content}")
  get_filename_component(name ${source} NAME)
  set(path ${CMAKE_BINARY_DIR}/release-markdown/${name})
  if(name MATCHES "\\.ja\\.md$")
    file(WRITE ${path} "${byte_order_mark}${content}")
  else()
    file(WRITE ${path} "${content}")
  endif()
  set(${out} ${path} PARENT_SCOPE)
endfunction()
release_markdown(docs/integration.md integration_md)
release_markdown(docs/integration.ja.md integration_ja_md)
release_markdown(CHANGELOG.md changelog_md)
release_markdown(tools/preview/README.md preview_md)
release_markdown(tools/preview/README.ja.md preview_ja_md)

install(TARGETS Veilshift RUNTIME DESTINATION .)
install(FILES ${release_texts} DESTINATION .)
install(FILES ${PROJECT_SOURCE_DIR}/Component/Veilshift/host_interfaces.h DESTINATION include)
install(FILES ${integration_md} ${integration_ja_md} DESTINATION docs)
install(FILES ${changelog_md} DESTINATION .)
# The preview tool's stand-ins for the engine's components in a folder of their
# own, named so in Explorer that nobody copies them into a game.
configure_file(${PROJECT_SOURCE_DIR}/dist/stand-ins.txt ${CMAKE_BINARY_DIR}/release-texts/DO-NOT-COPY-INTO-A-GAME.txt
               @ONLY NEWLINE_STYLE CRLF)
install(TARGETS Corvane Platewright Pixmill RUNTIME DESTINATION preview/stand-ins)
install(FILES ${CMAKE_BINARY_DIR}/release-texts/DO-NOT-COPY-INTO-A-GAME.txt DESTINATION preview/stand-ins)
if(TARGET veilshift-preview)
  install(TARGETS veilshift-preview RUNTIME DESTINATION preview)
  install(TARGETS Veilshift RUNTIME DESTINATION preview)
  install(FILES ${preview_md} ${preview_ja_md} DESTINATION preview)
endif()
# Last: the checksums of everything installed before.
install(CODE [[
  set(root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
  file(GLOB_RECURSE staged RELATIVE "${root}" "${root}/*")
  list(REMOVE_ITEM staged SHA256SUMS)
  list(SORT staged)
  set(sums "")
  foreach(file IN LISTS staged)
    file(SHA256 "${root}/${file}" sum)
    string(APPEND sums "${sum}  ${file}\n")
  endforeach()
  file(WRITE "${root}/SHA256SUMS" "${sums}")
]])

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Veilshift)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(release_name "Veilshift-${PROJECT_VERSION}-win32")
set(CPACK_PACKAGE_FILE_NAME ${release_name})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/release)
include(CPack)

# Built, unpacked in a fresh folder, its checksums checked and what it ships run.
add_test(NAME release_zip COMMAND ${CMAKE_COMMAND} -DBUILD=${CMAKE_BINARY_DIR}
  -DZIP=${CMAKE_BINARY_DIR}/release/${release_name}.zip -DTOP=${release_name}
  -DWINE_RUN=${PROJECT_SOURCE_DIR}/cmake/wine-run.sh -P ${PROJECT_SOURCE_DIR}/cmake/check-release.cmake)
set_tests_properties(release_zip PROPERTIES RESOURCE_LOCK wine_registry TIMEOUT 300)

# Every shipped binary's link map, for the notices check: which archives and
# objects the linker took in.
set(shipped_binaries Veilshift Corvane Platewright Pixmill)
if(TARGET veilshift-preview)
  list(APPEND shipped_binaries veilshift-preview)
endif()
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/linkmaps)
find_program(VEILSHIFT_OBJDUMP NAMES i686-w64-mingw32-objdump objdump REQUIRED)
set(shipped_files)
set(shipped_maps)
foreach(binary IN LISTS shipped_binaries)
  target_link_options(${binary} PRIVATE "LINKER:-Map=${CMAKE_BINARY_DIR}/linkmaps/${binary}.map")
  list(APPEND shipped_files $<TARGET_FILE:${binary}>)
  list(APPEND shipped_maps ${CMAKE_BINARY_DIR}/linkmaps/${binary}.map)
endforeach()
# THIRD-PARTY-NOTICES.txt must name, for every shipped file, exactly the
# third-party parts the link took in and the system libraries it imports.
add_test(NAME release_notices COMMAND ${CMAKE_COMMAND} "-DFILES=${shipped_files}" "-DMAPS=${shipped_maps}"
  -DOBJDUMP=${VEILSHIFT_OBJDUMP} -DNOTICES=${PROJECT_SOURCE_DIR}/dist/THIRD-PARTY-NOTICES.txt
  -DSOURCE=${PROJECT_SOURCE_DIR} -DBUILD=${CMAKE_BINARY_DIR} -P ${PROJECT_SOURCE_DIR}/cmake/check-notices.cmake)
