# cvm6_add_version_resource(TARGET DESCRIPTION): on Windows, the version resource that
# names the program and its version (Explorer's Details tab, the installer, support).
function(cvm6_add_version_resource target description)
  if(NOT WIN32)
    return()
  endif()
  set(name ${target})
  set(script ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${script} @ONLY)
  target_sources(${target} PRIVATE ${script})
endfunction()
