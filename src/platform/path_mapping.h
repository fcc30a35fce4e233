#pragma once
// The image sources are named as on the technician's Windows PC ("Y:\CVM6\cvm6.H01",
// "Y:\cvm6\cvm6.ini", names from a list file). On POSIX:
//  - drive X: is the directory named by the environment variable CVM6_DRIVE_X; unset or
//    empty, the drive does not exist;
//  - "\" and "/" both separate components; a name without a drive is relative to the
//    current directory, one starting with a separator to the file system root;
//  - Windows file names ignore case, so each component that does not exist as written is
//    matched against its directory ignoring ASCII case (the lowest such name wins, so the
//    choice is the same on every run).
#include <optional>
#include <string>
#include <string_view>

namespace cvm6 {

// The POSIX path for `windowsPath`, or nothing when its drive does not exist or the name
// cannot be a path (it is empty or holds a NUL). The path need not exist.
std::optional<std::string> MapWindowsPath(std::string_view windowsPath);

}  // namespace cvm6
