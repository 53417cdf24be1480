# Reproducible artefacts: the same commit gives byte-identical programs and
# packages, wherever it is built.
#
# MORVIDEX_SOURCE_DATE_EPOCH is the time every time stamp in the packages
# and in the Windows programs' headers takes: SOURCE_DATE_EPOCH where it is
# given (cmake -DSOURCE_DATE_EPOCH=... or in the environment of the
# configuring run), else the time of the last commit of the source tree,
# else, outside a git work tree, the time CMakeLists.txt was last changed.
if(DEFINED SOURCE_DATE_EPOCH)
  set(MORVIDEX_SOURCE_DATE_EPOCH ${SOURCE_DATE_EPOCH})
elseif(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(MORVIDEX_SOURCE_DATE_EPOCH $ENV{SOURCE_DATE_EPOCH})
else()
  set(MORVIDEX_SOURCE_DATE_EPOCH)
  find_package(Git QUIET)
  if(GIT_FOUND)
    # Only the source tree's own repository counts, not one that happens
    # to hold an unpacked copy of it.
    execute_process(
      COMMAND ${GIT_EXECUTABLE} rev-parse --show-toplevel --git-path logs/HEAD
      WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
      OUTPUT_VARIABLE git_paths OUTPUT_STRIP_TRAILING_WHITESPACE
      RESULT_VARIABLE status ERROR_QUIET)
    string(REPLACE "\n" ";" git_paths "${git_paths}")
    set(top)
    if(status EQUAL 0)
      list(GET git_paths 0 top)
      file(REAL_PATH "${top}" top)
    endif()
    file(REAL_PATH ${PROJECT_SOURCE_DIR} source_dir)
    if(top STREQUAL source_dir)
      execute_process(COMMAND ${GIT_EXECUTABLE} log -1 --format=%ct
        WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
        OUTPUT_VARIABLE MORVIDEX_SOURCE_DATE_EPOCH
        OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
      # A new commit configures the build again, and so moves the time.
      list(GET git_paths 1 head_log)
      get_filename_component(head_log ${head_log} ABSOLUTE
        BASE_DIR ${PROJECT_SOURCE_DIR})
      if(EXISTS ${head_log})
        set_property(DIRECTORY APPEND PROPERTY
          CMAKE_CONFIGURE_DEPENDS ${head_log})
      endif()
    endif()
  endif()
  if(NOT MORVIDEX_SOURCE_DATE_EPOCH)
    file(TIMESTAMP ${PROJECT_SOURCE_DIR}/CMakeLists.txt
      MORVIDEX_SOURCE_DATE_EPOCH "%s" UTC)
  endif()
endif()
if(NOT MORVIDEX_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
  message(FATAL_ERROR
    "SOURCE_DATE_EPOCH is \"${MORVIDEX_SOURCE_DATE_EPOCH}\", "
    "not a count of seconds")
endif()

# No path of the source or build tree in any object: a build in another
# folder compiles the same bytes.  The build tree may lie inside the source
# tree, so its mapping comes last, where it is tried first.
add_compile_options(
  -ffile-prefix-map=${PROJECT_SOURCE_DIR}/=
  -ffile-prefix-map=${PROJECT_BINARY_DIR}/=)
