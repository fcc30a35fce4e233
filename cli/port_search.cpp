#include "port_search.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/failure.h"
#include "port/serial_port.h"
#include "usb_port_name.h"

namespace cvm6 {

void CHeardBytes::Add(std::uint8_t byte) {
  if (byte == kWake)
    ++m_wakes;
  else if (byte == kKeepAlive)
    ++m_keepAlives;
  else
    ++m_others;
}

bool CHeardBytes::Decided() const {
  const PortHeard verdict = Verdict();
  return verdict == PortHeard::kUnit || verdict == PortHeard::kOtherBytes;
}

// A unit sends nothing but wakes while its link is down and keep-alives while it is up
// with nothing to do; any other byte is another device (a unit's frames come only when
// an updater asks).
PortHeard CHeardBytes::Verdict() const {
  if (m_others != 0) return PortHeard::kOtherBytes;
  if (m_wakes >= kBurst * kBurstsForAUnit) return PortHeard::kUnit;
  if (m_keepAlives != 0) return PortHeard::kUnitInSession;
  return PortHeard::kSilent;
}

std::vector<std::string> SearchCandidates(const std::vector<SerialPortInfo>& found, const std::string& listed,
                                          const std::vector<std::string>& excluded) {
  std::vector<std::string> names;
  for (const SerialPortInfo& port : found)
    if (port.IsUsb()) names.push_back(port.path);
  for (std::size_t from = 0; from <= listed.size();) {
    std::size_t end = listed.find(kPortListSeparator, from);
    if (end == std::string::npos) end = listed.size();
    if (end > from) names.push_back(listed.substr(from, end - from));
    from = end + 1;
  }
  std::vector<std::string> candidates;
  for (const std::string& name : names) {
    const auto same = [&](const std::string& other) { return MapPortName(other) == MapPortName(name); };
    if (IsBuiltInPort(name) || std::any_of(excluded.begin(), excluded.end(), same) ||
        std::any_of(candidates.begin(), candidates.end(), same))
      continue;
    candidates.push_back(name);
  }
  return candidates;
}

namespace {

using Clock = std::chrono::steady_clock;

// What the listeners and the search share, under `lock`.
struct Search {
  std::mutex lock;
  std::condition_variable changed;
  std::vector<CSerialPort*> open;  // each listener's port while it reads
  std::vector<HeardPort> results;
  std::vector<bool> ended;
  bool stop = false;  // a unit was heard: every listener ends now
};

void Listen(Search& search, std::size_t index, Clock::time_point wakeEnd, Clock::time_point keepAliveEnd) {
  const std::string& name = search.results[index].port;
  std::unique_ptr<CSerialPort> port;
  HeardPort result{name, PortHeard::kNotOpened, ""};
  try {
    port = std::make_unique<CSerialPort>(name.c_str(), 57600, false);
    if (!port->m_opened) result.why = port->OpenErrorText();
  } catch (const CFailure& failure) {
    result.why = failure.detail().empty() ? failure.what() : failure.detail();
  }
  const auto finish = [&](const HeardPort& heard) {
    std::lock_guard<std::mutex> guard(search.lock);
    search.open[index] = nullptr;
    search.results[index] = heard;
    search.ended[index] = true;
    search.changed.notify_all();
  };
  if (!port || !port->m_opened) return finish(result);
  {
    std::lock_guard<std::mutex> guard(search.lock);
    search.open[index] = port.get();
  }
  CHeardBytes heard;
  result.heard = PortHeard::kSilent;
  for (;;) {
    const auto now = Clock::now();
    {
      std::lock_guard<std::mutex> guard(search.lock);
      search.results[index].heard = heard.Verdict();
      if (search.stop || heard.Decided()) break;
    }
    // After the wake window only a silent port listens on, for a keep-alive.
    if (now >= keepAliveEnd || (now >= wakeEnd && heard.Verdict() != PortHeard::kSilent)) break;
    const auto end = now < wakeEnd ? wakeEnd : keepAliveEnd;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - now).count();
    std::uint8_t byte = 0;
    try {
      port->Read(&byte, 1, static_cast<std::uint32_t>(std::max<long long>(left, 1)));
      heard.Add(byte);
    } catch (const CFailure& failure) {
      if (failure.code() != 1105) {  // the line is gone: what was heard stands
        result.why = failure.what();
        break;
      }
    }
  }
  {
    std::lock_guard<std::mutex> guard(search.lock);
    search.open[index] = nullptr;
  }
  port.reset();  // closed before the search reports: the update opens it next
  result.heard = heard.Verdict();
  finish(result);
}

}  // namespace

std::vector<HeardPort> ListenForUnits(const std::vector<std::string>& ports, const PortSearchLimits& limits) {
  Search search;
  search.open.assign(ports.size(), nullptr);
  search.ended.assign(ports.size(), false);
  for (const std::string& port : ports) search.results.push_back({port, PortHeard::kSilent, ""});
  const auto start = Clock::now();
  const auto wakeEnd = start + std::chrono::milliseconds(limits.wakeListenMs);
  const auto keepAliveEnd = start + std::chrono::milliseconds(std::max(limits.keepAliveListenMs, limits.wakeListenMs));
  std::vector<std::thread> listeners;
  for (std::size_t i = 0; i < ports.size(); ++i)
    listeners.emplace_back(Listen, std::ref(search), i, wakeEnd, keepAliveEnd);
  {
    // The wake window: once it is over (or every port has said all it can), a port that
    // had a unit ends the search for all; else the silent ones listen on for keep-alives.
    std::unique_lock<std::mutex> guard(search.lock);
    const auto allDecided = [&] {
      for (std::size_t i = 0; i < ports.size(); ++i)
        if (!search.ended[i] && search.results[i].heard != PortHeard::kUnit &&
            search.results[i].heard != PortHeard::kOtherBytes)
          return false;
      return true;
    };
    search.changed.wait_until(guard, wakeEnd, allDecided);
    const bool unitHeard = std::any_of(search.results.begin(), search.results.end(),
                                       [](const HeardPort& port) { return port.heard == PortHeard::kUnit; });
    if (unitHeard) {
      search.stop = true;
      for (CSerialPort* port : search.open)
        if (port) port->WakeReader();
    }
  }
  for (std::thread& listener : listeners) listener.join();
  return search.results;
}

}  // namespace cvm6
