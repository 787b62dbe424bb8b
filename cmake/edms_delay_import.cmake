# edms_delay_import(<dll> <DLLNAME.dll>)
# Makes the imported library edms_delay_<dll>: every function of mingw-w64's import library
# lib<dll>.a, but the DLL is loaded at its first call instead of at start-up. The agent idles
# for hours and uses some DLLs only for a transfer, a notice or a window; each one loaded at
# start-up costs resident memory (and, for WinInet, its cache set-up) all that time.
# A DLL that is missing at the first call ends the program there; use it only for system DLLs.
find_program(EDMS_NM ${MINGW_PREFIX}-nm REQUIRED)
find_program(EDMS_DLLTOOL ${MINGW_PREFIX}-dlltool REQUIRED)

function(edms_delay_import dll dll_name)
  find_library(EDMS_IMPORT_LIB_${dll} NAMES lib${dll}.a REQUIRED)
  set(import_lib ${EDMS_IMPORT_LIB_${dll}})
  set(dir ${CMAKE_BINARY_DIR}/delay_import)
  set(def ${dir}/${dll}.def)
  set(lib ${dir}/lib${dll}_delay.a)
  file(MAKE_DIRECTORY ${dir})
  execute_process(COMMAND ${EDMS_NM} -g ${import_lib} OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
  string(REGEX MATCHALL "[^\n]* I __imp_[^\n]*" imports "${symbols}")
  set(exports "")
  foreach(line ${imports})
    string(REGEX REPLACE ".* I __imp_" "" name "${line}")
    string(APPEND exports "  ${name}\n")
  endforeach()
  if(exports STREQUAL "")
    message(FATAL_ERROR "edms_delay_import: no function found in ${import_lib}")
  endif()
  file(WRITE ${def} "LIBRARY ${dll_name}\nEXPORTS\n${exports}")
  execute_process(COMMAND ${EDMS_DLLTOOL} --input-def ${def} --dllname ${dll_name} --output-delaylib ${lib}
                  COMMAND_ERROR_IS_FATAL ANY)
  add_library(edms_delay_${dll} STATIC IMPORTED GLOBAL)
  set_target_properties(edms_delay_${dll} PROPERTIES IMPORTED_LOCATION ${lib})
endfunction()
