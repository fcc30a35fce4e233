#pragma once
// The one failure type of the lower layers. It carries the system's integer codes
// (1002, 1101, ...) so that callers can tell failures apart exactly as the unit's
// protocol documentation numbers them, and a readable text for the technician.
#include <exception>
#include <string>

namespace cvm6 {

class CFailure : public std::exception {
 public:
  explicit CFailure(int code);
  CFailure(int code, std::string detail);

  int code() const noexcept { return m_code; }
  const char* what() const noexcept override { return m_text.c_str(); }
  // What the thrower added about this failure ("not a serial port"); "" when nothing.
  const std::string& detail() const noexcept { return m_detail; }

 private:
  int m_code;
  std::string m_detail;
  std::string m_text;
};

// What a code means, in a short phrase ("the device announced itself incorrectly").
const char* DescribeCode(int code);

[[noreturn]] void ThrowCode(int code);
[[noreturn]] void ThrowCode(int code, std::string detail);

}  // namespace cvm6
