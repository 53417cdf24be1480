# Compresses INPUT into OUTPUT the way Debian packages want it: best
# compression, and no file name or time stamp in the header, so the same
# input always gives the same bytes.
#   cmake -DGZIP=... -DINPUT=... -DOUTPUT=... -P gzip.cmake
execute_process(COMMAND ${GZIP} -9 -n -c ${INPUT}
  OUTPUT_FILE ${OUTPUT}.part
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  file(REMOVE ${OUTPUT}.part)
  message(FATAL_ERROR "gzip ${INPUT}: ${status}")
endif()
file(RENAME ${OUTPUT}.part ${OUTPUT})
