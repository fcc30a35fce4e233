#pragma once
// The test process itself: its environment and the CPU time it has used.
#include <optional>
#include <string>

namespace cvm6::test {
// Sets a variable, or removes it when `value` is empty.
void SetEnvironment(const std::string& name, const std::optional<std::string>& value);
// User plus system time of all the process's threads so far, in seconds.
double ProcessCpuSeconds();
}  // namespace cvm6::test
