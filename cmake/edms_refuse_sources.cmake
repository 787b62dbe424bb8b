# Stops the configure step when a line of one of the files matches `regex`: a rule of the
# code's shape that the build itself keeps. The message names the file and the lines found.
function(edms_refuse_sources regex why)
  foreach(src ${ARGN})
    file(STRINGS ${src} found REGEX "${regex}")
    if(found)
      message(FATAL_ERROR "${src} (${found}): ${why}")
    endif()
  endforeach()
endfunction()
