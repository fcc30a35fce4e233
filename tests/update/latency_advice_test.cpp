// The figures of the adapter's latency, and above a 4 ms median the advice that fits it.
#include <gtest/gtest.h>

#include <regex>

#include "update/latency_advice.h"

namespace cvm6 {
namespace {

CAckTiming Timing(std::initializer_list<std::int64_t> extraUs) {
  CAckTiming timing;
  for (const std::int64_t extra : extraUs) timing.Add(extra, 0, 0);  // no line time to take off
  return timing;
}

TEST(LatencyAdvice, FiguresAndWhatToSetWhereForEachKindOfAdapter) {
  EXPECT_EQ(AckTimingText(Timing({16000, 16400, 1700000})),
            "Adapter latency: 16.4 ms a block beyond the line's own time (median of 3 acknowledgements), 1.7 s in all.");
  using S = AdapterLatency::System;
  const std::string sysfs = "/sys/bus/usb-serial/devices/ttyUSB0/latency_timer", reg = "HKLM\\FTDIBUS\\LatencyTimer";
  const std::pair<AdapterLatency, const char*> rows[] = {
      {{S::kLinux, "/dev/ttyUSB0", true, 16, sysfs}, "timer is 16 ms \\(/sys/bus/usb-serial/devices/ttyUSB0/latency_timer"
                                                     "\\): set it to 1 ms as root with 'echo 1 > /sys/bus/usb-serial/"},
      {{S::kLinux, "/dev/ttyUSB0", false, {}, ""}, "could not set it: set it as root with 'setserial /dev/ttyUSB0 low_latency'"},
      {{S::kLinux, "/dev/pts/3", {}, {}, ""}, "The driver of /dev/pts/3 shows no latency setting \\(no low-latency flag"},
      {{S::kWindows, "COM5", {}, 16, reg}, "timer is 16 ms \\(HKLM.FTDIBUS.LatencyTimer\\)\\. To set it to 1 ms: open Device "
                                           "Manager, .*\\(COM5\\), .*\"Latency Timer \\(msec\\)\" to 1 .* unplug the adapter"},
      {{S::kWindows, "COM5", {}, {}, ""}, "Windows shows no latency timer for COM5 \\(it is not on FTDI's driver\\)"},
      {AdapterLatency{}, "If the port is a USB adapter, set its latency timer to 1 ms"}};
  for (const auto& [adapter, pattern] : rows) {
    const std::string advice = SlowAdapterAdvice(Timing({17000, 16000, 18000, 16500}), adapter);
    EXPECT_EQ(advice.rfind("The adapter held the unit's acknowledgements back: 17 ms a block, which made this "
                           "update 0.1 s longer than the line needs. ", 0), 0u) << advice;
    EXPECT_TRUE(std::regex_search(advice, std::regex(pattern, std::regex::extended))) << advice;
    EXPECT_EQ(SlowAdapterAdvice(Timing({4000, 3000, 90000}), adapter), "");  // 4 ms and below: nothing
  }
}

}  // namespace
}  // namespace cvm6
