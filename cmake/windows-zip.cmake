# Packs the 32-bit Windows program into ZIP: a folder NAME holding
# morvidex.exe (a stripped copy of EXE), morvidex.txt (the manual page
# rendered as plain text), README.txt and LICENSE.txt, every text with
# CR LF line ends.
#   cmake -DNAME=... -DVERSION=... -DEXE=... -DSTRIP=... -DMANDOC=...
#         -DSOURCE_DIR=... -DWORK_DIR=... -DZIP=... -P windows-zip.cmake
if(NOT MANDOC)
  message(FATAL_ERROR "mandoc is needed to render the manual for the zip")
endif()

set(folder ${WORK_DIR}/${NAME})
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${folder})

file(COPY_FILE ${EXE} ${folder}/morvidex.exe)
execute_process(COMMAND ${STRIP} ${folder}/morvidex.exe
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${STRIP} morvidex.exe: ${status}")
endif()

# Text for Windows: LF line ends become CR LF, whatever the source had.
function(write_crlf text path)
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE ${path} "${text}")
endfunction()

# The terminal formatter marks bold and underline by overstriking, a
# character, a backspace and the character again; plain text keeps only the
# last of each.
execute_process(
  COMMAND ${MANDOC} -Tascii -Ios=morvidex\ ${VERSION}
          ${SOURCE_DIR}/doc/morvidex.1
  OUTPUT_VARIABLE manual
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "mandoc doc/morvidex.1: ${status}")
endif()
string(ASCII 8 backspace)
string(REGEX REPLACE "[^\n]${backspace}" "" manual "${manual}")
write_crlf("${manual}" ${folder}/morvidex.txt)

file(READ ${SOURCE_DIR}/README.md readme)
write_crlf("${readme}" ${folder}/README.txt)
file(READ ${SOURCE_DIR}/doc/LICENSE license)
write_crlf("${license}" ${folder}/LICENSE.txt)

file(REMOVE ${ZIP})
execute_process(
  COMMAND ${CMAKE_COMMAND} -E tar cf ${ZIP} --format=zip ${NAME}
  WORKING_DIRECTORY ${WORK_DIR}
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "packing ${ZIP}: ${status}")
endif()
