# Tests of the Windows build, run on the build machine: GoogleTest is built from source
# with the cross compiler, and ctest runs every test program through run-under-wine
# (CMAKE_CROSSCOMPILING_EMULATOR), which gives it Wine, the build's own Wine prefix and a
# cvm6-pty-agent for pseudo-terminals linked to COM ports.
set(CVM6_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources, built for the target")
if(NOT EXISTS ${CVM6_GTEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "No GoogleTest sources in ${CVM6_GTEST_SOURCE} (Debian package libgtest-dev)")
endif()
add_subdirectory(${PROJECT_SOURCE_DIR}/cmake/googletest ${CMAKE_BINARY_DIR}/googletest)

set(CVM6_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix CACHE PATH "Throw-away Wine prefix of the tests")
# The tests that need windows (the window's, and cvm6-flash.exe's on a console window) run
# one at a time on a virtual X display, in a prefix of their own.
set(CVM6_WINEPREFIX_GUI ${CMAKE_BINARY_DIR}/wineprefix-gui CACHE PATH "Throw-away Wine prefix of the window's tests")
set(CVM6_TEST_DISPLAY :47 CACHE STRING "X display number the window's tests give their Xvfb")
find_program(CVM6_WINE wine)
if(NOT CVM6_WINE)
  message(WARNING "wine not found: the Windows tests can be built but not run")
  set(CVM6_WINE wine)
endif()
# Wine's own copies of the Windows fonts (Debian package fonts-wine).
set(CVM6_WINE_FONTS /usr/share/wine/fonts CACHE PATH "Folder of the fonts Wine ships (fonts-wine)")
configure_file(${PROJECT_SOURCE_DIR}/tests/wine/run-under-wine.in ${CMAKE_BINARY_DIR}/run-under-wine
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ
                                WORLD_EXECUTE
               @ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/run-under-wine)
