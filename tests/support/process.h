#pragma once
// The test process itself and its system: its environment, the CPU time it has used,
// how it names drives and its null device.
#include <optional>
#include <string>

namespace cvm6::test {
// Sets a variable, or removes it when `value` is empty.
void SetEnvironment(const std::string& name, const std::optional<std::string>& value);
// User plus system time of all the process's threads so far, in seconds.
double ProcessCpuSeconds();
// Whether drive letters are folders named by CVM6_DRIVE_X (POSIX). On Windows they are
// the system's own, and a test cannot make a drive Y: of its own.
bool DrivesFollowTheEnvironment();
// A device that opens like a port but has no serial line: /dev/null, NUL on Windows.
const char* NullDeviceName();
}  // namespace cvm6::test
