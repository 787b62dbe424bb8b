# The certificate texts every program's .rc includes (common/win/certificate_text.rc).
set(EDMS_CERTIFICATE_TEXT ${CMAKE_SOURCE_DIR}/common/win/certificate_text.rc ${CMAKE_SOURCE_DIR}/common/win/certificate_text.h)

# edms_add_program(<target> RC <file.rc> ART_DIR <folder>)
# One short-lived program: every .cpp of the calling folder, its resources (English and
# Korean in one .rc) and its version resource, linked statically against the shared Win32 layer. The .rc is compiled
# again whenever its resource ids, the shared certificate texts or any icon, picture or manifest
# in ART_DIR changes.
function(edms_add_program target)
  cmake_parse_arguments(P "" "RC;ART_DIR" "" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  add_executable(${target} WIN32 ${sources} ${P_RC})
  target_include_directories(${target} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${target} PRIVATE edms_win comctl32)
  target_link_options(${target} PRIVATE -municode)
  edms_version_resource(${target})
  file(GLOB art CONFIGURE_DEPENDS
       ${CMAKE_CURRENT_SOURCE_DIR}/${P_ART_DIR}/*.ico
       ${CMAKE_CURRENT_SOURCE_DIR}/${P_ART_DIR}/*.bmp
       ${CMAKE_CURRENT_SOURCE_DIR}/*.manifest)
  set_source_files_properties(${P_RC} PROPERTIES OBJECT_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/resource.h;${art};${EDMS_CERTIFICATE_TEXT}")
endfunction()
