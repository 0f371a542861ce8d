# Turns bitmap files into a C++ source that maps resource numbers to their bytes.
function(norvisk_embed_resources out_var)
  set(out ${CMAKE_BINARY_DIR}/embedded_resources.cpp)
  set(args ${ARGN})
  set(deps)
  set(pairs)
  while(args)
    list(POP_FRONT args id file)
    list(APPEND deps ${file})
    list(APPEND pairs "${id}=${file}")
  endwhile()
  string(REPLACE ";" "|" pairs "${pairs}")
  add_custom_command(
    OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -DOUT=${out} "-DPAIRS=${pairs}" -P ${CMAKE_SOURCE_DIR}/cmake/embed_resources_run.cmake
    DEPENDS ${deps} ${CMAKE_SOURCE_DIR}/cmake/embed_resources_run.cmake
    COMMENT "Embedding bitmap resources"
    VERBATIM)
  set(${out_var} ${out} PARENT_SCOPE)
endfunction()
