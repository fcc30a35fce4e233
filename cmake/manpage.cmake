# Manual pages: one roff source beside the program it describes (NAME.1.in), the project's
# version filled in, checked with groff's warnings when the program is built, installed
# compressed as Debian wants them.
include(GNUInstallDirs)
find_program(CVM6_GROFF groff REQUIRED)
find_program(CVM6_GZIP gzip REQUIRED)

function(cvm6_add_manpage source)
  get_filename_component(name ${source} NAME_WE)
  set(page ${CMAKE_CURRENT_BINARY_DIR}/${name}.1)
  configure_file(${source} ${page} @ONLY)
  add_custom_command(
    OUTPUT ${page}.gz
    COMMAND ${CMAKE_COMMAND} -DGROFF=${CVM6_GROFF} -DGZIP=${CVM6_GZIP} -DPAGE=${page}
            -P ${PROJECT_SOURCE_DIR}/cmake/check_manpage.cmake
    DEPENDS ${page} ${PROJECT_SOURCE_DIR}/cmake/check_manpage.cmake
    COMMENT "Checking the manual page ${name}(1)"
    VERBATIM)
  add_custom_target(${name}-manpage ALL DEPENDS ${page}.gz)
  install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()
