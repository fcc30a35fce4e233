// Full-image updates with bit flips in both directions at a fixed rate per byte: the
// share that succeeds, and what ends the others (the message and the link event behind
// it). Long (a few seconds per update), so not part of the everyday suite:
//   ctest -C Long -L faults-long     or run this program directly.
// CVM6_FAULT_RATE_RUNS sets the number of updates per rate (default 40), and
// CVM6_FAULT_RATE_FIRST_SEED the first seed (default 1), to run one seed again.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>

#include "fault_run.h"

namespace cvm6::test {
namespace {

int PositiveFromEnv(const char* name, int otherwise) {
  const char* text = std::getenv(name);
  const int value = text ? std::atoi(text) : 0;
  return value > 0 ? value : otherwise;
}

// What took the link down (or did not) in a failed run, as the updater's link saw it.
std::string LinkEvent(const RunResult& run) {
  if (run.host.rxBadControl > 0) return "unrecognised control byte (link down)";
  if (run.host.rxTimeouts > 0) return "8 s read time-out (link down)";
  if (run.unit.line.toHost.damagedAccepted + run.unit.line.fromHost.damagedAccepted > 0)
    return "damaged frame passed its CRC";
  return "no link-down";
}

struct RateFigures {
  double successShare = 0;
  int silentlyWrong = 0;    // complete without the warning, and the flash differs
  int lostToABounce = 0;    // failed after the updater's link went down
};

RateFigures RunAtRate(double rate) {
  FaultCase fault{"full image, flips both ways", ImageSize::Full, {}, {5000, 60000, 15000}, true,
                  {kErrorStarting, kErrorSending, kErrorEnding, kBlockTransferError, kCannotConnectText}, 600000};
  fault.plan.line.corruptToHost = fault.plan.line.corruptFromHost = rate;
  const int runs = PositiveFromEnv("CVM6_FAULT_RATE_RUNS", 40);
  const int first = PositiveFromEnv("CVM6_FAULT_RATE_FIRST_SEED", 1);
  int successes = 0, undetectable = 0, warned = 0;
  RateFigures figures;
  std::map<std::string, int> kills;
  for (int seed = first; seed < first + runs; ++seed) {
    const RunResult run = RunUpdate(fault, static_cast<std::uint32_t>(seed));
    std::printf("  rate %g seed %d: %s, %d ms, %s\n    %s\n", rate, seed, OutcomeName(run.outcome), run.ms,
                Brief(run.text).c_str(), run.detail.c_str());
    EXPECT_NE(run.outcome, Outcome::Wrong) << "seed " << seed << ": " << run.text << "\n" << run.detail;
    if (run.outcome == Outcome::Success) {
      ++successes;
    } else if (run.outcome == Outcome::Warned) {
      ++warned;
    } else if (run.outcome == Outcome::Undetectable) {
      ++undetectable;
      if (run.text == kUpdateCompleteText && !run.warned) ++figures.silentlyWrong;
    } else {
      const std::string event = LinkEvent(run);
      if (event.find("link down") != std::string::npos) ++figures.lostToABounce;
      ++kills[Brief(run.text) + " after " + event];
    }
  }
  std::printf("rate %g per byte both ways: %d of %d full-image updates succeeded (%.1f %%), %d complete with the "
              "warning and a flash that differs, %d undetectable, %d complete without the warning and wrong\n",
              rate, successes, runs, 100.0 * successes / runs, warned, undetectable, figures.silentlyWrong);
  for (const auto& [cause, count] : kills) std::printf("  %3d x %s\n", count, cause.c_str());
  figures.successShare = static_cast<double>(successes) / runs;
  return figures;
}

TEST(FaultRate, AtOneFlipIn100000BytesAtLeast95PercentSucceed) {
  const RateFigures figures = RunAtRate(1e-5);
  EXPECT_GE(figures.successShare, 0.95);
  EXPECT_EQ(figures.silentlyWrong, 0);
}

// A damaged control or length byte takes the updater's link down now and then; the
// update rides through it at every stage, and an update the unit refused frames in ends
// with the warning: never a plain "complete" on a flash that differs.
TEST(FaultRate, AtOneFlipIn10000BytesAtLeast95PercentSucceed) {
  const RateFigures figures = RunAtRate(1e-4);
  EXPECT_GE(figures.successShare, 0.95);
  EXPECT_EQ(figures.silentlyWrong, 0);
  EXPECT_EQ(figures.lostToABounce, 0);
}

TEST(FaultRate, AtThreeFlipsIn10000BytesNoneIsSilentlyWrongNorLostToABounce) {
  const RateFigures figures = RunAtRate(3e-4);
  EXPECT_EQ(figures.silentlyWrong, 0);
  EXPECT_EQ(figures.lostToABounce, 0);
}

}  // namespace
}  // namespace cvm6::test
