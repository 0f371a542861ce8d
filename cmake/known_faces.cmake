# The face files fontconfig names on the build machine for the faces canvases ask for, written
# into a generated header that the software back end includes. At run time each is used only after
# checking that the file is there and holds the family named here; else fontconfig is asked, as on
# any machine where the build's answer does not hold. The lookup follows the back end's own: the
# face when a face of that family exists, else what fontconfig gives for "Arial".
function(norvisk_known_faces output)
  set(entries "")
  find_program(NORVISK_FC_MATCH fc-match)
  foreach(face ${ARGN})
    if(NOT NORVISK_FC_MATCH)
      break()
    endif()
    set(file "")
    set(families "")
    foreach(ask "${face}" "Arial")
      execute_process(COMMAND ${NORVISK_FC_MATCH} "--format=%{family}\n%{file}" "${ask}"
        OUTPUT_VARIABLE answer RESULT_VARIABLE status ERROR_QUIET)
      if(NOT status EQUAL 0)
        continue()
      endif()
      string(REPLACE "\n" ";" answer "${answer}")
      list(LENGTH answer count)
      if(count LESS 2)
        continue()
      endif()
      list(GET answer 0 families)
      list(GET answer 1 file)
      string(TOLOWER "${families}" lower_families)
      string(REPLACE "," ";" lower_families "${lower_families}")
      string(TOLOWER "${face}" lower_face)
      if(ask STREQUAL "Arial" OR lower_face IN_LIST lower_families)
        break()
      endif()
      set(file "")
    endforeach()
    if(file AND EXISTS "${file}")
      string(APPEND entries "    {\"${face}\", \"${file}\", \"${families}\"},\n")
    endif()
  endforeach()
  file(CONFIGURE OUTPUT ${output} CONTENT
"// Generated when the project was configured (cmake/known_faces.cmake): face, file, families.
@entries@    {nullptr, nullptr, nullptr},
" @ONLY)
endfunction()
