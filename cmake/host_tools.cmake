# The build machine's own programs for a cross build. cvm6-fwgen and cvm6-rcgen run
# during the build; cvm6-sim and cvm6-pty-agent run beside Wine in the tests. They come
# from a native build of this same source tree that makes only them, or from
# CVM6_HOST_TOOLS_DIR, a native build folder made beforehand. No program built for the
# target is ever run during the build.
set(CVM6_HOST_TOOLS_DIR "" CACHE PATH
    "Native build folder with tools/cvm6-fwgen, tools/cvm6-rcgen, sim/cvm6-sim and tests/wine/cvm6-pty-agent (empty: built here)")

if(CVM6_HOST_TOOLS_DIR)
  set(host_dir ${CVM6_HOST_TOOLS_DIR})
  set(CVM6_HOST_TOOLS_TARGETS "")
else()
  set(host_dir ${CMAKE_BINARY_DIR}/host)
  include(ExternalProject)
  # Configured without the toolchain file, so it gets the build machine's compiler.
  ExternalProject_Add(cvm6_host_tools
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${host_dir}
    CMAKE_ARGS -DCVM6_HOST_TOOLS_ONLY=ON -DCMAKE_BUILD_TYPE=Release -DCVM6_WERROR=${CVM6_WERROR}
               -DCVM6_FIRMWARE_DIR=${CVM6_FIRMWARE_DIR}
    BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --parallel 2
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON
    BUILD_BYPRODUCTS ${host_dir}/tools/cvm6-fwgen ${host_dir}/tools/cvm6-rcgen ${host_dir}/sim/cvm6-sim
                     ${host_dir}/tests/wine/cvm6-pty-agent)
  set(CVM6_HOST_TOOLS_TARGETS cvm6_host_tools)
endif()

set(CVM6_FWGEN ${host_dir}/tools/cvm6-fwgen)
set(CVM6_RCGEN ${host_dir}/tools/cvm6-rcgen)
set(CVM6_HOST_SIM ${host_dir}/sim/cvm6-sim)
set(CVM6_PTY_AGENT ${host_dir}/tests/wine/cvm6-pty-agent)
