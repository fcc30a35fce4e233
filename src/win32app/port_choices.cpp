#include "win32app/port_choices.h"

#include <algorithm>
#include <cctype>

namespace cvm6 {
namespace {

std::string Folded(const std::string& name) {
  std::string folded = name;
  std::transform(folded.begin(), folded.end(), folded.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return folded;
}

}  // namespace

bool SamePort(const std::string& a, const std::string& b) { return Folded(a) == Folded(b); }

std::vector<PortChoice> PortsToAdd(const std::vector<std::string>& listed, const std::vector<SerialPortInfo>& found) {
  std::vector<std::string> seen;
  for (const std::string& name : listed) seen.push_back(Folded(name));
  std::vector<PortChoice> added;
  for (const SerialPortInfo& port : found) {
    if (port.path.empty()) continue;
    const std::string folded = Folded(port.path);
    if (std::find(seen.begin(), seen.end(), folded) != seen.end()) continue;
    seen.push_back(folded);
    // Control characters from a driver's text would garble the list.
    std::string description;
    for (const char c : port.description) description += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
    std::string text = description.empty() ? port.path : port.path + " - " + description;
    // Two adapters of one kind differ by their serial number alone.
    if (!port.serialNumber.empty()) text += " (" + port.serialNumber + ")";
    added.push_back({port.path, text});
  }
  return added;
}

}  // namespace cvm6
