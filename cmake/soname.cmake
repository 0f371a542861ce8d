# norvisk_soname(VAR NAME [DIRS...]): the SONAME of the shared library libNAME found in DIRS or
# the usual places, for a library the program opens by name only when it needs it.
function(norvisk_soname var name)
  find_library(NORVISK_LIBRARY_${name} NAMES ${name} HINTS ${ARGN})
  set(soname "")
  if(NORVISK_LIBRARY_${name} AND CMAKE_OBJDUMP)
    execute_process(COMMAND ${CMAKE_OBJDUMP} -p ${NORVISK_LIBRARY_${name}}
      OUTPUT_VARIABLE headers ERROR_QUIET)
    string(REGEX MATCH "SONAME +([^ \n]+)" match "${headers}")
    set(soname "${CMAKE_MATCH_1}")
  endif()
  if(soname STREQUAL "")
    message(FATAL_ERROR "cannot read the SONAME of lib${name} (${NORVISK_LIBRARY_${name}})")
  endif()
  set(${var} "${soname}" PARENT_SCOPE)
endfunction()
