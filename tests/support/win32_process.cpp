#include <windows.h>

#include <cstdlib>

#include "support/process.h"

namespace cvm6::test {

// The C runtime's copy, which getenv reads; an empty value removes the variable.
void SetEnvironment(const std::string& name, const std::optional<std::string>& value) {
  _putenv_s(name.c_str(), value ? value->c_str() : "");
}

double ProcessCpuSeconds() {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
  const auto seconds = [](const FILETIME& t) {
    return ((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;  // 100 ns units
  };
  return seconds(kernel) + seconds(user);
}

bool DrivesFollowTheEnvironment() { return false; }

const char* NullDeviceName() { return "NUL"; }

}  // namespace cvm6::test
