#include "update/latency_advice.h"

#include <cstdio>

namespace cvm6 {
namespace {

std::string Format(const char* format, double value) {
  char text[32];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

std::string Ms(std::uint32_t ms) { return std::to_string(ms) + " ms"; }

// An adapter that may be fast enough: a built-in port, or one whose timer can be set.
constexpr const char* kFasterAdapter =
    "a built-in port, or a USB adapter whose latency timer can be set to 1 ms (FTDI), answers sooner.";

std::string LinuxAdvice(const AdapterLatency& adapter) {
  if (adapter.latencyTimerMs && *adapter.latencyTimerMs > 1)
    return "Its latency timer is " + Ms(*adapter.latencyTimerMs) + " (" + adapter.timerSource +
           "): set it to 1 ms as root with 'echo 1 > " + adapter.timerSource + "' and update again.";
  if (adapter.lowLatency && !*adapter.lowLatency)
    return "Its driver's low-latency flag is not set, and this program could not set it: set it as root with "
           "'setserial " + adapter.device + " low_latency' and update again.";
  if (adapter.lowLatency || adapter.latencyTimerMs)
    return std::string("Its driver's low-latency setting is on already, so the delay is the adapter's own: ") +
           kFasterAdapter;
  return "The driver of " + adapter.device + " shows no latency setting (no low-latency flag, no latency timer), "
         "so there is nothing to set on this port: " + kFasterAdapter;
}

std::string WindowsAdvice(const AdapterLatency& adapter) {
  if (adapter.latencyTimerMs && *adapter.latencyTimerMs > 1)
    return "Its latency timer is " + Ms(*adapter.latencyTimerMs) + " (" + adapter.timerSource +
           "). To set it to 1 ms: open Device Manager, expand \"Ports (COM & LPT)\", open the adapter's entry (" +
           adapter.device + "), on the \"Port Settings\" tab press \"Advanced...\", set \"Latency Timer (msec)\" to 1 "
           "and press OK twice; then unplug the adapter, plug it in again and update again.";
  if (adapter.latencyTimerMs)
    return std::string("Its latency timer is 1 ms already, so the delay is the adapter's own: ") + kFasterAdapter;
  return "Windows shows no latency timer for " + adapter.device +
         " (it is not on FTDI's driver). If the port's Properties in Device Manager offer one under \"Port "
         "Settings\", \"Advanced...\", set it to 1 ms; otherwise " + kFasterAdapter;
}

}  // namespace

std::string AckTimingText(const CAckTiming& timing) {
  if (timing.Count() == 0) return "";
  return "Adapter latency: " + Format("%.1f", timing.MedianExtraMs()) +
         " ms a block beyond the line's own time (median of " + std::to_string(timing.Count()) +
         (timing.Count() == 1 ? " acknowledgement), " : " acknowledgements), ") +
         Format("%.1f", timing.TotalExtraMs() / 1000) + " s in all.";
}

std::string SlowAdapterAdvice(const CAckTiming& timing, const AdapterLatency& adapter) {
  if (!timing.Slow()) return "";
  std::string text = "The adapter held the unit's acknowledgements back: " + Format("%.0f", timing.MedianExtraMs()) +
                     " ms a block, which made this update " + Format("%.1f", timing.TotalExtraMs() / 1000) +
                     " s longer than the line needs. ";
  switch (adapter.system) {
    case AdapterLatency::System::kLinux: return text + LinuxAdvice(adapter);
    case AdapterLatency::System::kWindows: return text + WindowsAdvice(adapter);
    case AdapterLatency::System::kNone: break;
  }
  return text + "If the port is a USB adapter, set its latency timer to 1 ms where its driver offers that; " +
         "otherwise " + kFasterAdapter;
}

}  // namespace cvm6
