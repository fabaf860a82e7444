# Lints the manual page: groff must render it without a single warning, and
# mandoc, where it is installed, must find nothing to report. Any output fails.
# Run as: cmake -DPAGE=<manual page> -P man_page_lint.cmake

find_program(GROFF groff)
if(NOT GROFF)
  message("groff not found (Debian package groff-base): the manual page was not linted")
  return()
endif()
set(linters "${GROFF} -man -ww -z")
find_program(MANDOC mandoc)
if(MANDOC)
  list(APPEND linters "${MANDOC} -Tlint")
endif()

foreach(linter IN LISTS linters)
  separate_arguments(command NATIVE_COMMAND "${linter}")
  execute_process(COMMAND ${command} "${PAGE}" RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT status EQUAL 0 OR NOT output STREQUAL "")
    message(FATAL_ERROR "${linter} ${PAGE} (status ${status}):\n${output}")
  endif()
  message("${linter}: clean")
endforeach()
