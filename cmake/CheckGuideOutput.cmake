# Runs one of the guide's programs and checks that the guide still shows its output: every
# block of the output (the text between lines starting with "== ", or the whole output when it
# has none) must stand verbatim in the guide page. Fails when the program fails or when the
# library's output and the page have drifted apart.
#   cmake -DPROGRAM=<program> [-DEMULATOR=<word>|<word>...] -DPAGE=<page.md> -P CheckGuideOutput.cmake
# EMULATOR runs a cross-compiled program (Wine for Windows); its CR LF line ends count as LF.
string(REPLACE "|" ";" emulator "${EMULATOR}")
execute_process(COMMAND ${emulator} "${PROGRAM}" OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} failed (${rc})")
endif()
string(REPLACE "\r\n" "\n" out "${out}")
file(READ "${PAGE}" page)

set(rest "\n${out}")
set(blocks 0)
while(NOT rest STREQUAL "")
  # Drop a leading title line, then take the text up to the next title line.
  if(rest MATCHES "^\n== ")
    string(SUBSTRING "${rest}" 1 -1 rest)
    string(FIND "${rest}" "\n" eol)
    string(SUBSTRING "${rest}" ${eol} -1 rest)
  endif()
  string(FIND "${rest}" "\n== " next)
  string(SUBSTRING "${rest}" 1 ${next} block)
  if(next EQUAL -1)
    set(rest "")
  else()
    string(SUBSTRING "${rest}" ${next} -1 rest)
  endif()
  string(REGEX REPLACE "\n+$" "" block "${block}")
  if(block STREQUAL "")
    continue()
  endif()
  math(EXPR blocks "${blocks} + 1")
  string(FIND "${page}" "${block}" found)
  if(found EQUAL -1)
    message(FATAL_ERROR "${PAGE} no longer shows this output of ${PROGRAM}:\n${block}")
  endif()
endwhile()
message(STATUS "${PAGE}: ${blocks} output blocks of ${PROGRAM} found")
