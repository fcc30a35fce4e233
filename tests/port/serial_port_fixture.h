#pragma once
// A CSerialPort on the slave of a pseudo-terminal pair, with the test as the far end on
// the master (under Wine the slave is a COM port of the test's prefix).
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/failure.h"
#include "port/serial_port.h"
#include "support/pty_pair.h"

namespace cvm6::test {

using Bytes = std::vector<std::uint8_t>;

// The failure code `action` throws, or 0.
inline int CodeOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const CFailure& failure) {
    return failure.code();
  }
  return 0;
}

class SerialPortTest : public ::testing::Test {
 protected:
  PtyPair pty;
  CSerialPort port{pty.SlavePath().c_str(), 57600, false};
};

}  // namespace cvm6::test
