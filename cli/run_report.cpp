#include "run_report.h"

#include "exit_status.h"

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "image/image_digest.h"
#include "platform/version.h"
#include "image/image_ranges.h"
#include "update/block_plan.h"

namespace cvm6 {
namespace {

std::string Hex5(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%05X", value);
  return text;
}

std::string DeviceText(const UnitOutcome& unit) {
  if (!unit.deviceType) return "-";
  if (!unit.deviceName.empty()) return unit.deviceName;
  char text[24];
  std::snprintf(text, sizeof text, "type 0x%02X", *unit.deviceType);
  return text;
}

std::string VersionText(const UnitOutcome& unit) {
  if (!unit.firmwareVersion) return "-";
  char text[24];
  std::snprintf(text, sizeof text, "%.3f", *unit.firmwareVersion);
  return text;
}

}  // namespace

ImageFacts DescribeImage(const CFlashImage& image, const ImageLoadReport& report) {
  ImageFacts facts;
  facts.source = report.SourceText();
  facts.listEnd = report.listEnd;
  facts.listEndText = report.ListEndText();
  if (!report.Usable()) {
    facts.refused = true;
    facts.faults = report.faults;
    return facts;
  }
  facts.bytes = image.GetCount();
  facts.blocks = CountBlocks(image);
  facts.sha256 = FlashDigest(image);
  return facts;
}

std::string ImageSummaryText(const ImageFacts& facts, const CFlashImage& image, bool withRanges) {
  if (facts.refused) return "Image: " + facts.source;
  std::string text = "Image: " + facts.source;
  if (!facts.listEndText.empty()) text += "\n" + facts.listEndText;
  text += "\nBytes: " + std::to_string(facts.bytes) + "\nBlocks: " + std::to_string(facts.blocks) +
          "\nSHA-256: " + facts.sha256;
  if (withRanges) {
    const std::vector<AddressRange> ranges = StoredRanges(image);
    text += "\nRanges: " + std::to_string(ranges.size());
    for (const AddressRange& range : ranges)
      text += "\nRange: " + Hex5(range.first) + "-" + Hex5(range.last) + " (" +
              std::to_string(std::uint64_t{range.last} - range.first + 1) +
              (range.last == range.first ? " byte)" : " bytes)");
  }
  return text;
}

std::string SummaryTable(const std::vector<UnitOutcome>& units) {
  const std::vector<std::string> head{"Port", "Device", "Firmware", "Result", "Damaged", "Seconds"};
  std::vector<std::vector<std::string>> rows{head};
  for (const UnitOutcome& unit : units) {
    char seconds[24];
    std::snprintf(seconds, sizeof seconds, "%.1f", unit.seconds);
    rows.push_back({unit.port, DeviceText(unit), VersionText(unit), unit.result,
                    std::to_string(unit.framesDamagedToUnit) + "/" + std::to_string(unit.framesDamagedFromUnit),
                    seconds});
  }
  std::vector<std::size_t> width(head.size(), 0);
  for (const auto& row : rows)
    for (std::size_t i = 0; i < row.size(); ++i) width[i] = std::max(width[i], row[i].size());
  std::string text;
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t i = 0; i < row.size(); ++i) {
      // Seconds are right-aligned, everything else left.
      const std::string pad(width[i] - row[i].size(), ' ');
      line += i + 1 == row.size() ? pad + row[i] : row[i] + pad + "  ";
    }
    text += line + "\n";
  }
  return text;
}

std::string SummaryLine(const UnitOutcome& unit) {
  char seconds[24];
  std::snprintf(seconds, sizeof seconds, "%.1f s", unit.seconds);
  return unit.result + ", exit status " + std::to_string(unit.exitStatus) + ", " + std::to_string(unit.blocksWritten) +
         " blocks written, " + (unit.eraseBegun ? "erase begun, " : "erase not begun, ") +
         std::to_string(unit.framesDamagedToUnit) + " frames damaged to the unit, " +
         std::to_string(unit.framesDamagedFromUnit) + " from it, " + seconds;
}

std::string JsonResult(const ImageFacts& facts, const std::vector<UnitOutcome>& units, int exitStatus,
                       const std::string& started) {
  nlohmann::json result;
  result["version"] = kProgramVersion;
  result["started"] = started.empty() ? nlohmann::json(nullptr) : nlohmann::json(started);
  nlohmann::json& image = result["image"];
  image["source"] = facts.source;
  image["refused"] = facts.refused;
  if (facts.refused) {
    image["bytes"] = image["blocks"] = image["sha256"] = nullptr;
  } else {
    image["bytes"] = facts.bytes;
    image["blocks"] = facts.blocks;
    image["sha256"] = facts.sha256;
  }
  image["faults"] = nlohmann::json::array();
  for (const auto& [text, fault] : facts.faults)
    image["faults"].push_back({{"file", text},
                               {"line", fault.line != 0 ? nlohmann::json(fault.line) : nlohmann::json(nullptr)},
                               {"reason", fault.Reason()}});
  image["list_ended_at_line"] = facts.listEnd ? nlohmann::json(facts.listEnd->first) : nlohmann::json(nullptr);
  result["units"] = nlohmann::json::array();
  for (const UnitOutcome& unit : units) {
    nlohmann::json entry;
    entry["port"] = unit.port;
    entry["device_type"] = unit.deviceType ? nlohmann::json(*unit.deviceType) : nlohmann::json(nullptr);
    entry["device"] = unit.deviceName.empty() ? nlohmann::json(nullptr) : nlohmann::json(unit.deviceName);
    entry["firmware_version"] = unit.firmwareVersion ? nlohmann::json(VersionText(unit)) : nlohmann::json(nullptr);
    entry["result"] = unit.result;
    entry["exit_status"] = unit.exitStatus;
    entry["message"] = unit.message;
    entry["seconds"] = static_cast<double>(static_cast<long long>(unit.seconds * 1000 + 0.5)) / 1000;
    entry["blocks_written"] = unit.blocksWritten;
    entry["erase_begun"] = unit.eraseBegun;
    entry["links_ridden_through"] = unit.rideThroughs;
    entry["frames_damaged_to_unit"] = unit.framesDamagedToUnit;
    entry["frames_damaged_from_unit"] = unit.framesDamagedFromUnit;
    // Milliseconds to the microsecond; null when no acknowledgement of a download was timed.
    const auto ms = [&unit](double value) {
      return unit.acksTimed == 0 ? nlohmann::json(nullptr)
                                 : nlohmann::json(static_cast<double>(static_cast<long long>(value * 1000 + 0.5)) / 1000);
    };
    entry["acks_timed"] = unit.acksTimed;
    entry["ack_extra_ms_median"] = ms(unit.ackExtraMsMedian);
    entry["ack_extra_ms_total"] = ms(unit.ackExtraMsTotal);
    entry["latency_advice"] = unit.latencyAdvice.empty() ? nlohmann::json(nullptr) : nlohmann::json(unit.latencyAdvice);
    result["units"].push_back(entry);
  }
  result["exit_status"] = exitStatus;
  // Messages are the system's texts, but a port name comes from the command line:
  // anything that is not UTF-8 is replaced rather than ending the program.
  return result.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

int RunExitStatus(const std::vector<UnitOutcome>& units) {
  // A unit that ended complete on a noisy line has finished: it is among the others.
  for (const UnitOutcome& unit : units)
    if (unit.exitStatus != 0 && unit.exitStatus != kNoisyLine && unit.eraseBegun) return unit.exitStatus;
  for (const UnitOutcome& unit : units)
    if (unit.exitStatus != 0) return unit.exitStatus;
  return 0;
}

}  // namespace cvm6
