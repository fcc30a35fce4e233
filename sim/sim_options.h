#pragma once
// The command line of cvm6-sim.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/device_simulator.h"

namespace cvm6 {

struct SimOptions {
  SimulatorConfig config;
  std::string linkPath;              // --link: a symlink to the port
  std::optional<std::uint32_t> updates;
  bool expectEmbedded = false;
  std::string dumpPath;
  bool help = false;
};

// Fills `options` from argv; false with a message in `error` for a bad command line.
bool ParseSimOptions(const std::vector<std::string>& args, SimOptions& options, std::string& error);
const char* SimUsage();

}  // namespace cvm6
