#include "event_stream.h"

#include <ctime>
#include <nlohmann/json.hpp>

#include "platform/version.h"
#include "run_report.h"
#include "unit_outcome.h"

namespace cvm6 {
namespace {

using nlohmann::json;
constexpr int kRunScope = -1;
constexpr auto kProgressInterval = std::chrono::milliseconds(500);
constexpr std::uint32_t kProgressStep = 10;  // permille: 1 %

std::string Text(const json& value) {
  // Ports come from the command line and messages quote files: whatever is not UTF-8 is
  // replaced rather than ending the program.
  return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace

std::string UtcTimeText(std::chrono::system_clock::time_point at) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(at);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count() % 1000;
  std::tm utc{};
#ifdef _WIN32
  gmtime_s(&utc, &seconds);
#else
  gmtime_r(&seconds, &utc);
#endif
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
  char stamp[48];
  std::snprintf(stamp, sizeof stamp, "%s.%03dZ", text, static_cast<int>(ms));
  return stamp;
}

CEventStream::CEventStream(std::FILE* out) : m_out(out) {}

void CEventStream::Send(const char* event, const std::string* port, const std::string& fields, int scope,
                        bool progress) {
  if (m_ended) return;
  json line = json::parse(fields.empty() ? "{}" : fields);
  json head = {{"schema", kEventSchemaVersion},
               {"event", event},
               {"time", UtcTimeText()},
               {"port", port ? json(*port) : json(nullptr)}};
  head.update(line);
  std::string text = Text(head) + "\n";
  if (progress)
    m_writer.Progress(m_out, scope, "", std::move(text));
  else
    m_writer.Write(m_out, std::move(text));
}

void CEventStream::RunStarted(const ImageFacts* image) {
  std::lock_guard<std::mutex> guard(m_lock);
  if (m_started) return;
  m_started = true;
  json fields = {{"version", kProgramVersion}, {"image", nullptr}};
  if (image) {
    json& facts = fields["image"];
    facts["source"] = image->source;
    facts["refused"] = image->refused;
    facts["bytes"] = image->refused ? json(nullptr) : json(image->bytes);
    facts["blocks"] = image->refused ? json(nullptr) : json(image->blocks);
    facts["sha256"] = image->refused ? json(nullptr) : json(image->sha256);
  }
  Send("run-started", nullptr, Text(fields), kRunScope, false);
}

void CEventStream::UnitFound(std::size_t unit, const std::string& port, std::uint8_t address) {
  std::lock_guard<std::mutex> guard(m_lock);
  Send("unit-found", &port, Text({{"address", address}}), static_cast<int>(unit), false);
}

void CEventStream::UnitIdentified(std::size_t unit, const std::string& port, std::uint8_t type, float firmwareVersion,
                                  std::uint8_t address) {
  char version[24];
  std::snprintf(version, sizeof version, "%.3f", firmwareVersion);
  std::lock_guard<std::mutex> guard(m_lock);
  Send("unit-identified", &port,
       Text({{"device_type", type},
             {"device", type == 0x45 ? json("Corvane M6") : json(nullptr)},
             {"firmware_version", version},
             {"address", address}}),
       static_cast<int>(unit), false);
}

void CEventStream::EraseBegun(std::size_t unit, const std::string& port) {
  std::lock_guard<std::mutex> guard(m_lock);
  Send("erase-begun", &port, "", static_cast<int>(unit), false);
}

void CEventStream::Progress(std::size_t unit, const std::string& port, std::uint32_t blocks,
                            std::uint32_t totalBlocks, std::uint32_t bytes, std::uint32_t totalBytes) {
  if (totalBytes == 0) return;
  const auto now = std::chrono::steady_clock::now();
  const auto permille = static_cast<std::uint32_t>(std::uint64_t{bytes} * 1000 / totalBytes);
  std::lock_guard<std::mutex> guard(m_lock);
  if (unit >= m_paces.size()) m_paces.resize(unit + 1);
  Pace& pace = m_paces[unit];
  if (pace.sent && bytes != totalBytes && permille < pace.permille + kProgressStep && now - pace.at < kProgressInterval)
    return;
  pace = {now, permille, true};
  Send("progress", &port,
       Text({{"blocks", blocks}, {"total_blocks", totalBlocks}, {"bytes", bytes}, {"total_bytes", totalBytes}}),
       static_cast<int>(unit), true);
}

void CEventStream::LinkLost(std::size_t unit, const std::string& port, std::uint32_t blocks) {
  std::lock_guard<std::mutex> guard(m_lock);
  Send("link-lost", &port, Text({{"blocks_written", blocks}}), static_cast<int>(unit), false);
}

void CEventStream::LinkBack(std::size_t unit, const std::string& port, const std::string& where, std::uint32_t ms) {
  std::lock_guard<std::mutex> guard(m_lock);
  Send("link-back", &port, Text({{"where", where}, {"ms", ms}}), static_cast<int>(unit), false);
}

void CEventStream::UnitDone(std::size_t unit, const UnitOutcome& outcome) {
  std::lock_guard<std::mutex> guard(m_lock);
  Send("unit-done", &outcome.port,
       Text({{"result", outcome.result},
             {"exit_status", outcome.exitStatus},
             {"message", outcome.message},
             {"seconds", static_cast<double>(static_cast<long long>(outcome.seconds * 1000 + 0.5)) / 1000},
             {"blocks_written", outcome.blocksWritten},
             {"erase_begun", outcome.eraseBegun}}),
       static_cast<int>(unit), false);
}

void CEventStream::RunEnded(int exitStatus, std::chrono::milliseconds timeout) {
  RunStarted(nullptr);  // nothing when it was sent
  {
    std::lock_guard<std::mutex> guard(m_lock);
    Send("run-ended", nullptr, Text({{"exit_status", exitStatus}}), kRunScope, false);
    m_ended = true;
  }
  m_writer.Drain(timeout);
}

}  // namespace cvm6
