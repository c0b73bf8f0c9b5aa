# Checks that the module keeps what lives between its calls in its one state
# record (veilshift::moduleState, module_state.h): every other writable object
# of the module's library must be one of the few listed here, each with the
# reason it stays outside. A new global (or a static inside a function) fails
# this check until it joins the record or the list. Run by ctest with
# -DLIBRARY=... -DTOOL=objdump.
cmake_policy(SET CMP0057 NEW)  # if(IN_LIST)
execute_process(COMMAND ${TOOL} -t -C ${LIBRARY} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${TOOL} failed on ${LIBRARY}")
endif()

set(allowed
  # The record itself.
  "veilshift::moduleState"
  # The storage accounting: counts over the module's whole life (never reset),
  # and the test hook that makes an allocation fail.
  "veilshift::(anonymous namespace)::allocationCount"
  "veilshift::(anonymous namespace)::failFrom"
  "veilshift::(anonymous namespace)::outstanding"
  # The message box's text, written anew by every message.
  "veilshift::(anonymous namespace)::messageBuffer"
  # The loader's stand-in where a program links the components in: filled by
  # that program, not by the module.
  "veilshift::platform::(anonymous namespace)::linked")

# objdump -t: "<address> <flags> <section>\t<size> [.hidden] <name>"; objects
# (flag O) in writable data (.data, .bss and their subsections, not the
# read-only .data.rel.ro).
string(REPLACE "\n" ";" lines "${dump}")
set(found)
foreach(line IN LISTS lines)
  if(NOT line MATCHES "^[0-9a-fA-F]+ [^\t]* O (\\.data[^ \t]*|\\.bss[^ \t]*)\t[0-9a-fA-F]+ (\\.hidden )?(.+)$")
    continue()
  endif()
  set(section "${CMAKE_MATCH_1}")
  set(name "${CMAKE_MATCH_3}")
  # Read-only after relocation; the compiler's own reference to its
  # personality routine; AddressSanitizer's markers of each global.
  if(section MATCHES "^\\.data\\.rel\\.ro" OR name MATCHES "^(DW\\.ref\\.|__odr_asan|_?__asan)")
    continue()
  endif()
  list(APPEND found "${name}")
endforeach()
list(REMOVE_DUPLICATES found)
list(SORT found)

set(outside)
foreach(name IN LISTS found)
  if(NOT name IN_LIST allowed)
    list(APPEND outside "${name}")
  endif()
endforeach()
if(outside)
  list(JOIN outside "\n  " text)
  message(FATAL_ERROR "writable globals outside the module's state record (module_state.h):\n  ${text}")
endif()
if(NOT "veilshift::moduleState" IN_LIST found)
  message(FATAL_ERROR "no veilshift::moduleState in ${LIBRARY}: the check reads nothing")
endif()
list(JOIN found ", " text)
message(STATUS "writable globals: ${text}")
