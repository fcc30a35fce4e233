#pragma once
// What cvm6-flash reports of a run as a whole: the image it writes (before every update,
// and all of a --dry-run), the summary table once every unit has ended, and the one JSON
// object of --json.
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "image/flash_image.h"
#include "image/image_load_report.h"
#include "unit_outcome.h"

namespace cvm6 {

struct ImageFacts {
  std::string source;  // ImageLoadReport::SourceText
  std::uint32_t bytes = 0;
  std::uint32_t blocks = 0;
  std::string sha256 = {};
  // A refused image (a text or list line at fault) has no bytes, blocks or digest worth
  // telling: what it holds is no firmware. Its faults say why.
  bool refused = false;
  std::vector<ImageLoadReport::TextFault> faults = {};
  std::optional<std::pair<unsigned, std::uint32_t>> listEnd = {};  // ImageLoadReport::listEnd
  std::string listEndText = {};                                     // ImageLoadReport::ListEndText
};

ImageFacts DescribeImage(const CFlashImage& image, const ImageLoadReport& report);

// "Image: <source>\nBytes: N\nBlocks: N\nSHA-256: <hex>", where a list file ended early
// the line that ended it, and with `withRanges` one line per merged address range
// ("Range: 0x02000-0x0FFDA (57307 bytes)"). A refused image: its source alone.
std::string ImageSummaryText(const ImageFacts& facts, const CFlashImage& image, bool withRanges);

// One row per unit in --port order: port, device, firmware version, result, seconds.
std::string SummaryTable(const std::vector<UnitOutcome>& units);

// One unit's outcome on one line, for the log: "done, exit status 0, 244 blocks written,
// erase begun, 11.8 s".
std::string SummaryLine(const UnitOutcome& unit);

// {"version": "1.0.0", "started": "2026-12-09T03:41:07.123Z", "image": {...}, "units": [...],
// "exit_status": N}, on one line. `started`: the run's start (UTC), null when "".
std::string JsonResult(const ImageFacts& facts, const std::vector<UnitOutcome>& units, int exitStatus,
                       const std::string& started = "");

// 0 when every unit succeeded. Else a unit left with its flash incomplete (its erase had
// begun and it did not finish) decides before any other, so that a script never reads
// "nothing connected" while a unit has no usable firmware; among equals the first in
// --port order.
int RunExitStatus(const std::vector<UnitOutcome>& units);

}  // namespace cvm6
