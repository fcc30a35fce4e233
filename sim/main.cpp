// cvm6-sim: a Corvane M6 in download mode on a pseudo-terminal, for the updater to talk
// to without a unit on the bench.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "sim/device_simulator.h"
#include "sim/flash_report.h"
#include "sim/sim_options.h"

namespace {

volatile std::sig_atomic_t g_interrupted = 0;
void OnSignal(int) { g_interrupted = 1; }

void PrintSummary(const cvm6::SimulatorSummary& s) {
  std::printf("blocks taken: %u\n", s.counts.blocks);
  std::printf("bytes taken: %llu\n", static_cast<unsigned long long>(s.counts.bytes));
  std::printf("bytes stored: %u\n", s.storedBytes);
  std::printf("erases: %u\n", s.counts.erases);
  std::printf("writes: %u\n", s.counts.writes);
  std::printf("downloads ended: %u\n", s.counts.updates);
  std::printf("flash sha256: %s\n", s.sha256.c_str());
  const auto& l = s.line;
  if (l.corruptedToHost || l.corruptedFromHost || l.droppedToHost || l.droppedFromHost) {
    std::printf("to updater: %llu bytes flipped, %llu lost; %llu damaged frames, %llu of them passed the check\n",
                static_cast<unsigned long long>(l.corruptedToHost), static_cast<unsigned long long>(l.droppedToHost),
                static_cast<unsigned long long>(l.toHost.damagedFrames),
                static_cast<unsigned long long>(l.toHost.damagedAccepted));
    std::printf("from updater: %llu bytes flipped, %llu lost; %llu damaged frames, %llu of them passed the check\n",
                static_cast<unsigned long long>(l.corruptedFromHost),
                static_cast<unsigned long long>(l.droppedFromHost),
                static_cast<unsigned long long>(l.fromHost.damagedFrames),
                static_cast<unsigned long long>(l.fromHost.damagedAccepted));
  }
}

}  // namespace

int main(int argc, char** argv) {
  cvm6::SimOptions options;
  std::string error;
  if (!cvm6::ParseSimOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
    std::fprintf(stderr, "cvm6-sim: %s\n", error.c_str());
    return 2;
  }
  if (options.help) {
    std::fputs(cvm6::SimUsage(), stdout);
    return 0;
  }

  cvm6::CFlashImage expected;
  if (options.expectEmbedded && !cvm6::LoadEmbeddedFirmware(expected)) {
    std::fprintf(stderr, "cvm6-sim: the embedded firmware image cannot be read\n");
    return 1;
  }

  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  cvm6::CDeviceSimulator simulator(options.config);
  if (!simulator.Start()) {
    std::fprintf(stderr, "cvm6-sim: %s\n", simulator.ErrorText().c_str());
    return 3;
  }
  // Whoever started us waits for this line to learn where to connect.
  std::printf("%s\n", simulator.PortPath().c_str());
  std::fflush(stdout);
  if (!options.linkPath.empty()) {
    unlink(options.linkPath.c_str());
    if (symlink(simulator.PortPath().c_str(), options.linkPath.c_str()) != 0) {
      std::perror(("cvm6-sim: cannot make the link " + options.linkPath).c_str());
      simulator.Stop();
      return 3;
    }
  }

  bool updatesDone = false;
  while (!g_interrupted && !updatesDone)
    updatesDone = simulator.WaitForUpdates(options.updates.value_or(0xFFFFFFFFu), 100) && options.updates;
  simulator.Stop();
  if (!options.linkPath.empty()) unlink(options.linkPath.c_str());

  const cvm6::SimulatorSummary summary = simulator.Summary();
  PrintSummary(summary);
  bool holds = !options.updates || updatesDone;
  if (options.updates && !updatesDone)
    std::printf("downloads asked for: %u, ended: %u\n", *options.updates, summary.acknowledgedUpdates);
  if (options.expectEmbedded) {
    const auto difference = simulator.FirstDifference(expected);
    if (difference) {
      std::printf("verdict: differs from the embedded firmware first at 0x%08X\n", *difference);
      holds = false;
    } else {
      std::printf("verdict: identical\n");
    }
  }
  if (!options.dumpPath.empty() && !simulator.DumpHex(options.dumpPath)) {
    std::fprintf(stderr, "cvm6-sim: cannot write %s\n", options.dumpPath.c_str());
    holds = false;
  }
  std::fflush(stdout);
  return holds ? 0 : 1;
}
