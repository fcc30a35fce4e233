# CLI11 and nlohmann-json, header-only (Debian: libcli11-dev, nlohmann-json3-dev). Their
# own folders, CLI/ and nlohmann/, are copied into the build folder and only that copy is
# put on the include path, so a cross build gets these two libraries and never the
# build machine's /usr/include with them.
set(CVM6_HEADER_LIBS_SOURCE /usr/include CACHE PATH "Folder that holds CLI/CLI.hpp and nlohmann/json.hpp")
set(header_libs ${CMAKE_BINARY_DIR}/header-libraries/include)
foreach(entry "CLI;CLI.hpp;libcli11-dev" "nlohmann;json.hpp;nlohmann-json3-dev")
  list(GET entry 0 folder)
  list(GET entry 1 header)
  list(GET entry 2 package)
  if(NOT EXISTS ${CVM6_HEADER_LIBS_SOURCE}/${folder}/${header})
    message(FATAL_ERROR "No ${folder}/${header} in ${CVM6_HEADER_LIBS_SOURCE} (Debian package ${package})")
  endif()
  file(COPY ${CVM6_HEADER_LIBS_SOURCE}/${folder} DESTINATION ${header_libs})
endforeach()
add_library(cvm6_header_libraries INTERFACE)
target_include_directories(cvm6_header_libraries SYSTEM INTERFACE ${header_libs})
