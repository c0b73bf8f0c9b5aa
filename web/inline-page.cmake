# cmake -DTEMPLATE=page.html -DSCRIPT=module.js -DOUTPUT=index.html -P inline-page.cmake
# Writes the page with its marker line replaced by the script, inline: one
# file that works from file:// and from any static server.
file(READ ${TEMPLATE} page)
file(READ ${SCRIPT} script)
string(REPLACE "</script" "<\\/script" script "${script}")
string(FIND "${page}" "<!-- veilshift-web.js -->" marker)
if(marker LESS 0)
  message(FATAL_ERROR "${TEMPLATE} has no <!-- veilshift-web.js --> line")
endif()
string(REPLACE "<!-- veilshift-web.js -->" "<script>\n${script}\n</script>" page "${page}")
file(WRITE ${OUTPUT} "${page}")
