#include "platform/failure.h"

namespace cvm6 {

const char* DescribeCode(int code) {
  switch (code) {
    case 1002: return "a frame queue was found inconsistent";
    case 1003: return "a frame queue lock could not be created";
    case 1101: return "the serial port failed (line settings refused, or the adapter was unplugged)";
    case 1102: return "the serial port is not open";
    case 1103: return "a serial port completion event failed";
    case 1104: return "the serial port refused to start a transfer";
    case 1105: return "a serial transfer timed out";
    case 1202: return "the link could not create its threads or events";
    case 1203: return "the link ran out of memory for a received frame";
    case 1204: return "the link's transmit queue was empty although a frame was counted";
    case 1302: return "out of memory for a message";
    case 1303: return "the device announced itself incorrectly";
    default: return "unknown failure";
  }
}

CFailure::CFailure(int code) : m_code(code), m_text(std::to_string(code) + ": " + DescribeCode(code)) {}

CFailure::CFailure(int code, std::string detail)
    : m_code(code), m_detail(std::move(detail)), m_text(std::to_string(code) + ": " + DescribeCode(code) + " (" + m_detail + ")") {}

void ThrowCode(int code) { throw CFailure(code); }
void ThrowCode(int code, std::string detail) { throw CFailure(code, std::move(detail)); }

}  // namespace cvm6
