# The Debian package: the three programs, the desktop entry and its icons, the manual pages
# and the documents, with the dependencies worked out from the binaries by dpkg-shlibdeps.
# scripts/package runs CPack on the package preset's build.
include(GNUInstallDirs)
set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/${PROJECT_NAME})
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/docs/protocol.md DESTINATION ${doc_dir})
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${doc_dir} RENAME copyright)
# Debian wants a changelog in every package's documents, compressed without a time stamp.
set(changelog ${CMAKE_CURRENT_BINARY_DIR}/changelog)
string(TIMESTAMP changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)  # SOURCE_DATE_EPOCH when set
file(WRITE ${changelog}
     "${PROJECT_NAME} (${PROJECT_VERSION}) stable; urgency=medium\n\n"
     "  * Release ${PROJECT_VERSION}.\n\n"
     " -- cvm6-updater developers <cvm6-updater@corvane-service.org>  ${changelog_date}\n")
add_custom_command(OUTPUT ${changelog}.gz COMMAND ${CVM6_GZIP} -9 -n -f -k ${changelog} DEPENDS ${changelog} VERBATIM)
add_custom_target(cvm6-changelog ALL DEPENDS ${changelog}.gz)
install(FILES ${changelog}.gz DESTINATION ${doc_dir})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "cvm6-updater developers <cvm6-updater@corvane-service.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware updater for the Corvane M6 audio processor")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "A technician connects a serial port to the unit's control port, presses\n"
    "Connect, then Update: the updater erases the unit's flash and writes a\n"
    "complete firmware image into it over the unit's own serial protocol.\n"
    "The package holds the window (cvm6-updater), the command-line flasher\n"
    "(cvm6-flash) and a model of the unit to try them against (cvm6-sim).")
string(REPLACE ";" "" CPACK_DEBIAN_PACKAGE_DESCRIPTION "${CPACK_DEBIAN_PACKAGE_DESCRIPTION}")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/packages)
include(CPack)
