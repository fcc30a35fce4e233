# Writes binary_resources.cpp: the fourteen firmware texts as "Binary" resources 160-173.
# Run at build time (after the texts exist) so that each entry's size is a constant and the
# resource table needs no start-up code.
#   cmake -DFW_DIR=<folder with cvm6.H01..H14> -DFW_SYNTHETIC=true|false -DOUT=<file> -P embed_firmware.cmake
set(asm "")
set(decls "")
set(entries "")
foreach(bank RANGE 0 13)
  math(EXPR id "160 + ${bank}")
  math(EXPR number "${bank} + 1")
  if(number LESS 10)
    set(number "0${number}")
  endif()
  set(file "${FW_DIR}/cvm6.H${number}")
  if(NOT EXISTS "${file}")
    message(FATAL_ERROR "missing firmware text ${file}")
  endif()
  file(SIZE "${file}" size)
  # Escaped once for the assembler string, once more for the C++ literal around it.
  string(REPLACE "\\" "\\\\" path "${file}")
  string(REPLACE "\"" "\\\"" path "${path}")
  string(REPLACE "\\" "\\\\" path "${path}")
  string(REPLACE "\"" "\\\"" path "${path}")
  string(APPEND asm "    \".globl cvm6_firmware_${id}\\n.hidden cvm6_firmware_${id}\\n.balign 16\\n\"\n")
  string(APPEND asm "    \"cvm6_firmware_${id}:\\n.incbin \\\"${path}\\\"\\n\"\n")
  string(APPEND decls "extern \"C\" const std::uint8_t cvm6_firmware_${id}[];\n")
  string(APPEND entries "    {${id}, cvm6_firmware_${id}, ${size}},\n")
endforeach()

file(WRITE "${OUT}.tmp" "// Written by src/res/embed_firmware.cmake from ${FW_DIR}; do not edit.
#include <cstddef>
#include <cstdint>

#include \"platform/firmware_kind.h\"
#include \"platform/resource_tables.h\"

asm(\".section .rodata\\n\"
${asm}    \".previous\\n\");

${decls}
namespace cvm6::res {

const BinaryEntry kBinaryResources[] = {
${entries}};
const std::size_t kBinaryResourceCount = sizeof kBinaryResources / sizeof kBinaryResources[0];

bool IsSyntheticFirmware() { return ${FW_SYNTHETIC}; }

}  // namespace cvm6::res
")
# Only touch the output when it changed, so a rebuild of identical texts stays cheap.
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.tmp")
