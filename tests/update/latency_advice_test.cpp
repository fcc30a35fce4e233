// What the flasher says of the adapter's latency: the figures after every download, and
// above 4 ms a median the advice that fits what the system showed of the adapter.
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

TEST(LatencyAdvice, FiguresSayTheMedianAndTheTotal) {
  EXPECT_EQ(AckTimingText(CAckTiming{}), "");
  EXPECT_EQ(AckTimingText(Timing({16000, 16400, 17000})),
            "Adapter latency: 16.4 ms a block beyond the line's own time (median of 3 acknowledgements), 0.0 s in all.");
  EXPECT_EQ(AckTimingText(Timing({250})),
            "Adapter latency: 0.2 ms a block beyond the line's own time (median of 1 acknowledgement), 0.0 s in all.");
}

AdapterLatency Linux(std::optional<bool> flag, std::optional<std::uint32_t> timer) {
  AdapterLatency adapter;
  adapter.system = AdapterLatency::System::kLinux;
  adapter.device = "/dev/ttyUSB0";
  adapter.lowLatency = flag;
  adapter.latencyTimerMs = timer;
  if (timer) adapter.timerSource = "/sys/bus/usb-serial/devices/ttyUSB0/latency_timer";
  return adapter;
}

AdapterLatency Windows(std::optional<std::uint32_t> timer) {
  AdapterLatency adapter;
  adapter.system = AdapterLatency::System::kWindows;
  adapter.device = "COM5";
  adapter.latencyTimerMs = timer;
  if (timer)
    adapter.timerSource = "HKLM\\SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\\VID_0403+PID_6001+A1\\0000\\Device "
                          "Parameters\\LatencyTimer";
  return adapter;
}

struct AdviceCase {
  const char* name;
  AdapterLatency adapter;
  const char* pattern;  // extended regular expression, searched in the advice
};

void PrintTo(const AdviceCase& row, std::ostream* out) { *out << row.name; }

const AdviceCase kCases[] = {
    {"FtdiOnLinuxNamesItsSysfsFile", Linux(true, 16),
     "Its latency timer is 16 ms \\(/sys/bus/usb-serial/devices/ttyUSB0/latency_timer\\): set it to 1 ms as root "
     "with 'echo 1 > /sys/bus/usb-serial/devices/ttyUSB0/latency_timer'"},
    {"ADriverThatRefusedTheFlagIsToldToSetserial", Linux(false, std::nullopt),
     "low-latency flag is not set, and this program could not set it: set it as root with 'setserial "
     "/dev/ttyUSB0 low_latency'"},
    {"AFlagThatIsSetLeavesTheAdapterToBlame", Linux(true, std::nullopt),
     "low-latency setting is on already, so the delay is the adapter's own"},
    {"APseudoTerminalHasNothingToSet", Linux(std::nullopt, std::nullopt),
     "The driver of /dev/ttyUSB0 shows no latency setting \\(no low-latency flag, no latency timer\\)"},
    {"FtdiOnWindowsGetsTheDeviceManagerSteps", Windows(16),
     "Its latency timer is 16 ms \\(HKLM.*FTDIBUS.*LatencyTimer\\)\\. To set it to 1 ms: open Device Manager, "
     "expand \"Ports \\(COM & LPT\\)\", open the adapter's entry \\(COM5\\), on the \"Port Settings\" tab press "
     "\"Advanced\\.\\.\\.\", set \"Latency Timer \\(msec\\)\" to 1"},
    {"FtdiAtOneMsOnWindowsLeavesTheAdapterToBlame", Windows(1), "Its latency timer is 1 ms already"},
    {"AnotherAdapterOnWindowsShowsNoTimer", Windows(std::nullopt),
     "Windows shows no latency timer for COM5 \\(it is not on FTDI's driver\\)"},
    {"APortInMemoryGetsTheGeneralAdvice", AdapterLatency{},
     "If the port is a USB adapter, set its latency timer to 1 ms"},
};

class SlowAdapter : public ::testing::TestWithParam<AdviceCase> {};

TEST_P(SlowAdapter, IsToldWhatToSetWhereAndWhatItCost) {
  const AdviceCase& row = GetParam();
  const std::string advice = SlowAdapterAdvice(Timing({17000, 16000, 18000, 16500}), row.adapter);
  EXPECT_EQ(advice.rfind("The adapter held the unit's acknowledgements back: 17 ms a block, which made this update "
                         "0.1 s longer than the line needs. ",
                         0),
            0u)
      << advice;
  EXPECT_TRUE(std::regex_search(advice, std::regex(row.pattern, std::regex::extended))) << advice;
  // At 4 ms and below nothing is said, whatever the adapter.
  EXPECT_EQ(SlowAdapterAdvice(Timing({4000, 3000, 90000}), row.adapter), "");
}

INSTANTIATE_TEST_SUITE_P(Adapters, SlowAdapter, ::testing::ValuesIn(kCases),
                         [](const auto& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace cvm6
