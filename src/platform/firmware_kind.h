#pragma once
// Which firmware the program carries as its "Binary" texts 160-173: the synthetic image
// that cvm6-fwgen writes for development and tests, or real texts embedded with the CMake
// option CVM6_FIRMWARE_DIR. The update asks before it erases a real unit with the former.
namespace cvm6::res {

bool IsSyntheticFirmware();

}  // namespace cvm6::res
