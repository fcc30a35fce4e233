#include "unit_ports.h"

#include <algorithm>
#include <cstdlib>
#include <optional>

#include "exit_status.h"
#include "flash_log.h"
#include "image/list_file.h"
#include "port/serial_port.h"
#include "usb_port_name.h"

namespace cvm6 {
namespace {

constexpr const char* kAuto = "auto";

class CChooser {
 public:
  CChooser(std::FILE* out, CFlashLog* log) : m_out(out), m_log(log) {}

  const std::vector<SerialPortInfo>& Ports() {
    if (!m_ports) m_ports = ListSerialPorts();
    return *m_ports;
  }

  int Refuse(const std::string& why) {
    std::fprintf(stderr, "cvm6-flash: %s\nRun with --help for the options.\n", why.c_str());
    if (m_log) m_log->Write("usage: " + why);
    return kUsage;
  }

  // The adapters a usb: name stands for; an empty list after a refusal.
  std::optional<std::vector<std::string>> Adapters(const std::string& option, const std::string& text, bool one,
                                                   int& status) {
    std::string error;
    const auto name = ParseUsbPortName(text, error);
    if (!name) {
      status = Refuse(option + " " + error);
      return std::nullopt;
    }
    const auto matching = MatchUsbPorts(*name, Ports());
    if (matching.empty() || (one && matching.size() > 1)) {
      std::string why;
      if (matching.empty()) {
        why = "no adapter matches " + option + " " + PrintableText(text) + ". The USB serial adapters here:";
        bool any = false;
        for (const SerialPortInfo& port : Ports())
          if (port.IsUsb()) why += "\n  " + PortListLine(port), any = true;
        if (!any) why += " none";
      } else {
        why = option + " " + PrintableText(text) + " matches " + std::to_string(matching.size()) + " adapters:";
        for (const SerialPortInfo& port : matching) why += "\n  " + PortListLine(port);
        why += "\nName one with its serial number (usb:VID:PID:SERIAL), or update them all with --each-port " +
               PrintableText(text) + ".";
      }
      status = Refuse(why);
      return std::nullopt;
    }
    std::vector<std::string> paths;
    for (const SerialPortInfo& port : matching) paths.push_back(port.path);
    return paths;
  }

  // Listens for units on every adapter and CVM6_PORTS path not named already.
  int Search(bool each, const std::vector<std::string>& named, const PortSearchLimits& limits,
             std::vector<std::string>& units) {
    const char* listed = std::getenv("CVM6_PORTS");
    const auto candidates = SearchCandidates(Ports(), listed ? listed : "", named);
    const std::string option = each ? "--each-port auto" : "--port auto";
    if (candidates.empty()) {
      const std::string why = option + ": no USB serial adapter to listen to, and CVM6_PORTS names no other port.";
      std::fprintf(stderr, "%s\n", why.c_str());
      if (m_log) m_log->Write("search: " + why);
      return kDeviceNotFound;
    }
    std::string names;
    for (const std::string& port : candidates) names += (names.empty() ? "" : ", ") + PrintableText(port);
    Say("Listening for a unit in download mode (nothing is sent) on " + names);
    const auto heard = ListenForUnits(candidates, limits);
    std::string notes, inSession;
    for (const HeardPort& port : heard) {
      const std::string name = PrintableText(port.port);
      switch (port.heard) {
        case PortHeard::kUnit:
          units.push_back(port.port);
          break;
        case PortHeard::kUnitInSession:
          inSession += "\n" + name +
                       ": keep-alives arrive: a unit is there, its link still up from an earlier session. Wait ten "
                       "seconds for it to give that session up, then run again.";
          break;
        case PortHeard::kOtherBytes:
          notes += "\n  " + name + ": another device talks there";
          break;
        case PortHeard::kSilent:
          notes += "\n  " + name + ": silent";
          break;
        case PortHeard::kNotOpened:
          notes += "\n  " + name + ": not opened, " + port.why;
          break;
      }
    }
    if (m_log)
      m_log->Write("search: " + std::to_string(units.size()) + " unit(s) heard on " + names + notes + inSession);
    if (units.empty()) {
      const std::string why = "No unit in download mode was heard on " + names + "." + notes + inSession;
      std::fprintf(stderr, "%s\n", why.c_str());
      return kDeviceNotFound;
    }
    if (!inSession.empty()) std::fprintf(stderr, "%s\n", inSession.substr(1).c_str());
    if (!each && units.size() > 1) {
      std::string why = "--port auto heard " + std::to_string(units.size()) + " units in download mode:";
      for (const std::string& port : units) why += "\n  " + PrintableText(port);
      return Refuse(why + "\nName the one to update with --port, or update them all with --each-port auto.");
    }
    for (const std::string& port : units) Say("Unit in download mode on " + PrintableText(port));
    return kDone;
  }

 private:
  void Say(const std::string& text) {
    std::fprintf(m_out, "%s\n", text.c_str());
    std::fflush(m_out);
    if (m_log) m_log->Write(text);
  }

  std::FILE* m_out;
  CFlashLog* m_log;
  std::optional<std::vector<SerialPortInfo>> m_ports;
};

}  // namespace

int ChooseUnitPorts(const UnitPortRequest& request, std::FILE* out, CFlashLog* log, std::vector<std::string>& chosen) {
  CChooser chooser(out, log);
  chosen.clear();
  int status = kDone;
  // Where an auto search's units go among the others.
  std::optional<std::size_t> autoAt;
  bool autoEach = false;
  for (const std::string& port : request.ports) {
    if (port == kAuto) {
      autoAt = chosen.size();
    } else if (IsUsbPortName(port)) {
      const auto adapters = chooser.Adapters("--port", port, true, status);
      if (!adapters) return status;
      chosen.push_back(adapters->front());
    } else {
      chosen.push_back(port);
    }
  }
  for (const std::string& port : request.eachPorts) {
    if (port == kAuto) {
      autoAt = chosen.size();
      autoEach = true;
    } else {
      const auto adapters = chooser.Adapters("--each-port", port, false, status);
      if (!adapters) return status;
      chosen.insert(chosen.end(), adapters->begin(), adapters->end());
    }
  }
  if (autoAt) {
    std::vector<std::string> units;
    status = chooser.Search(autoEach, chosen, request.limits, units);
    if (status != kDone) return status;
    chosen.insert(chosen.begin() + static_cast<std::ptrdiff_t>(*autoAt), units.begin(), units.end());
  }
  for (std::size_t i = 0; i < chosen.size(); ++i)
    for (std::size_t j = 0; j < i; ++j)
      if (MapPortName(chosen[i]) == MapPortName(chosen[j]))
        return chooser.Refuse("the port " + PrintableText(chosen[i]) + " is named twice (once by its adapter)");
  return kDone;
}

}  // namespace cvm6
