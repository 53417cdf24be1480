# Packs the 32-bit Windows program into ZIP: a folder NAME holding
# morvidex.exe (a stripped copy of EXE), morvidex.txt (the manual page
# rendered as plain text), README.txt (for Windows users) and LICENSE.txt,
# every text with CR LF line ends; then records the zip's checksum in
# SHA256SUMS beside it.  The same inputs and SOURCE_DATE_EPOCH give the
# same bytes: the members go in a fixed order, all with that time.
#   cmake -DNAME=... -DVERSION=... -DEXE=... -DSTRIP=... -DMANDOC=...
#         -DZIP_PROGRAM=... -DSOURCE_DIR=... -DWORK_DIR=... -DZIP=...
#         -DSOURCE_DATE_EPOCH=... -P windows-zip.cmake
include(${CMAKE_CURRENT_LIST_DIR}/checksums.cmake)
if(NOT MANDOC)
  message(FATAL_ERROR "mandoc is needed to render the manual for the zip")
endif()
if(NOT ZIP_PROGRAM)
  message(FATAL_ERROR "zip is needed to pack the zip")
endif()

set(folder ${WORK_DIR}/${NAME})
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${folder})

file(COPY_FILE ${EXE} ${folder}/morvidex.exe)
# strip writes the program's header anew, with this time in it.
set(ENV{SOURCE_DATE_EPOCH} ${SOURCE_DATE_EPOCH})
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
  COMMAND ${MANDOC} -Tascii ${SOURCE_DIR}/doc/morvidex.1
  OUTPUT_VARIABLE manual
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "mandoc doc/morvidex.1: ${status}")
endif()
string(ASCII 8 backspace)
string(REGEX REPLACE "[^\n]${backspace}" "" manual "${manual}")
write_crlf("${manual}" ${folder}/morvidex.txt)

file(READ ${SOURCE_DIR}/doc/README-windows.txt.in readme)
string(CONFIGURE "${readme}" readme @ONLY)
write_crlf("${readme}" ${folder}/README.txt)
file(READ ${SOURCE_DIR}/doc/LICENSE license)
write_crlf("${license}" ${folder}/LICENSE.txt)

# Each member carries its file's modification time, set here, and nothing
# else of the file system (-X: no owners, no access or creation times; -D:
# no entries for the folder).  A zip's times are local times, so the local
# time zone is UTC here.
set(members)
foreach(member LICENSE.txt README.txt morvidex.exe morvidex.txt)
  list(APPEND members ${NAME}/${member})
endforeach()
set(ENV{TZ} UTC)
execute_process(COMMAND touch -d @${SOURCE_DATE_EPOCH} ${members}
  WORKING_DIRECTORY ${WORK_DIR}
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "touch: ${status}")
endif()
file(REMOVE ${ZIP})
execute_process(
  COMMAND ${ZIP_PROGRAM} -X -D -q ${ZIP} ${members}
  WORKING_DIRECTORY ${WORK_DIR}
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "packing ${ZIP}: ${status}")
endif()
get_filename_component(zip_dir ${ZIP} DIRECTORY)
morvidex_record_checksum(${zip_dir} ${ZIP})
