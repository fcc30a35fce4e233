#include <sys/resource.h>

#include <cstdlib>

#include "support/process.h"

namespace cvm6::test {

void SetEnvironment(const std::string& name, const std::optional<std::string>& value) {
  if (value)
    ::setenv(name.c_str(), value->c_str(), 1);
  else
    ::unsetenv(name.c_str());
}

double ProcessCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

bool DrivesFollowTheEnvironment() { return true; }

const char* NullDeviceName() { return "/dev/null"; }

}  // namespace cvm6::test
