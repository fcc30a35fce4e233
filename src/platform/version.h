#pragma once
// The programs' version: one number, set once as the project's VERSION in the top-level
// CMakeLists.txt. It reaches --version, the Windows version resource, the package names
// and the manual pages from there.
namespace cvm6 {
inline constexpr const char* kProgramVersion = CVM6_VERSION;
}  // namespace cvm6
