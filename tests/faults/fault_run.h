#pragma once
// One whole update under a fault: the updater's window on the scripted host, connected
// over a pseudo-terminal to the simulated unit whose fault plan the case sets, in a
// scratch current directory whose list file names the case's image. Connect, Update,
// then the outcome is judged against the unit's flash.
//
// A watchdog ends the process (abort, with the case and seed on stderr) when a run
// outlives its bound by far: a hang must fail loudly, never stall the suite.
#include <cstdint>
#include <string>
#include <vector>

#include "link/link.h"
#include "sim/device_simulator.h"
#include "sim/fault_plan.h"
#include "update/line_damage.h"
#include "update/update_limits.h"

namespace cvm6::test {

inline constexpr const char* kUpdateCompleteText =
    "Update Complete!\n\nYou should now perform a hard reset.\nHold <STORE> and Press <NEXTPG> on the M6 to reset.";
inline constexpr const char* kCannotConnectText =
    "The Updater cannot connect to the device.  Make sure that the device is ready to receive a download\n\n"
    "To set a Corvane M4 to receive a download press and hold 'PREV PG' at power-up.\n\n"
    "To set a Corvane M4S to receive a download press and hold 'PROGRAM UP' and 'PROGRAM ' at power-up.";
inline constexpr const char* kErrorStarting = "Error Starting Download.";
inline constexpr const char* kErrorSending = "Error Sending Data.";
inline constexpr const char* kErrorEnding = "Error Ending Download.";
inline constexpr const char* kBlockTransferError = "Block Transfer Error.";

enum class ImageSize {
  Small,  // four runs, 2503 bytes, 13 blocks (bytes of every value)
  Bank,   // the first embedded bank at its base
  Full,   // the whole embedded image, 2783 blocks
};
inline constexpr std::uint32_t kSmallImageBlocks = 13;

// Warned: complete, the unit had refused frames as damaged and the warning said the flash
// may not be exact, and it is not: the right outcome for a damaged frame stored unnoticed.
enum class Outcome { Success, CleanFailure, Undetectable, Warned, Wrong };

struct FaultCase {
  const char* name;
  ImageSize image;
  FaultPlan plan;             // line.seed is replaced by the run's seed
  UpdateLimits limits;        // unscaled; the run scales them by TimeScale()
  bool successAllowed;        // an intact flash and "Update Complete" is a right outcome
  std::vector<std::string> failures;  // the failure texts that are a right outcome
  int boundMs;                // Connect to the last message box, at most (unscaled)
  std::uint32_t readTimeoutMs = 8000;  // both links' read limit (unscaled)
};

struct RunResult {
  Outcome outcome = Outcome::Wrong;
  std::string text;    // the last message box, or what was wrong
  int ms = 0;          // from Connect to the last message box (or to the end of the run)
  std::string detail;  // counters of both ends, for the report
  LinkCounters host{};     // the updater's link, at the end
  LineDamage damage;       // what the updater counted of the download
  bool warned = false;     // the noisy-line warning followed the completion prompt
  SimulatorSummary unit;   // the unit's counts and its line's
};

RunResult RunUpdate(const FaultCase& fault, std::uint32_t seed);

const char* OutcomeName(Outcome outcome);
// A message box text on one line, shortened.
std::string Brief(const std::string& text);

}  // namespace cvm6::test
