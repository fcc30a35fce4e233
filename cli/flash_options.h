#pragma once
// cvm6-flash's command line, read with CLI11: what the technician asked for, checked for
// sense before anything is opened.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cvm6 {

struct FlashOptions {
  std::vector<std::string> ports;  // in the order given: the order of the summary and exit status
  std::vector<std::string> eachPorts;  // --each-port: every adapter of a usb: name, or every unit heard
  bool simulate = false;
  std::vector<std::string> simulatorArgs;  // options of cvm6-sim after --simulate
  std::string image;                       // --image; empty: the search order
  std::uint32_t base = 0;                  // --base, for a single hex file
  bool baseGiven = false;                  // a list file gives its own bases: --base with one is a slip
  bool dryRun = false;
  std::string logPath;
  bool json = false;
  bool events = false;        // --events: one JSON line per event on standard output
  std::string expectSha256;   // --expect-sha256, lower case; empty: any image
  bool yes = false;
  bool trace = false;
  bool listPorts = false;
  bool version = false;
  // Frames the unit may refuse as damaged in a complete update before it ends with status 9.
  std::uint32_t maxDamaged = 0;
};

struct ParsedCommandLine {
  std::optional<FlashOptions> options;  // set when the program is to run
  int exitStatus = 0;                   // otherwise: 0 after --help, 1 for a bad command line
};

// Reads argv. --help prints the generated help (with the exit statuses) to standard
// output; a bad command line prints why, and a pointer to --help, to standard error.
ParsedCommandLine ParseFlashOptions(int argc, char** argv);

}  // namespace cvm6
