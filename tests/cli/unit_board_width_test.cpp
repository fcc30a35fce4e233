// The live lines of cvm6-flash on terminals of several widths (a pseudo-terminal told
// its size as a terminal window is): no line reaches the last column, so none wraps,
// and the figures a technician watches stay on it.
#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/pty_pair.h"
#include "unit_board.h"

namespace cvm6::test {
namespace {

// The pieces the terminal gets between carriage returns and line ends, escape
// sequences (cursor moves, erasing) taken out.
std::vector<std::string> Pieces(const std::vector<std::uint8_t>& bytes) {
  std::vector<std::string> pieces(1);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const char c = static_cast<char>(bytes[i]);
    if (c == '\x1b') {
      while (i + 1 < bytes.size() && !std::isalpha(bytes[i + 1])) ++i;
      ++i;
    } else if (c == '\r' || c == '\n') {
      if (!pieces.back().empty()) pieces.emplace_back();
    } else {
      pieces.back() += c;
    }
  }
  if (pieces.back().empty()) pieces.pop_back();
  return pieces;
}

struct WidthCase {
  const char* name;
  unsigned short columns;
  int units;
};
void PrintTo(const WidthCase& c, std::ostream* out) { *out << c.name; }

class UnitBoardWidth : public ::testing::TestWithParam<WidthCase> {};

TEST_P(UnitBoardWidth, LiveLinesFitTheTerminal) {
  const WidthCase& c = GetParam();
  PtyPair pty;
  std::FILE* out = std::fopen(pty.SlavePath().c_str(), "w");
  ASSERT_TRUE(out);
  winsize size{};
  size.ws_col = c.columns;
  size.ws_row = 25;
  ASSERT_EQ(ioctl(fileno(out), TIOCSWINSZ, &size), 0);
  {
    std::vector<std::string> ports = {"/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/ttyUSB2"};
    ports.resize(static_cast<std::size_t>(c.units));
    CUnitBoard board(out, ports, true);
    for (int unit = 0; unit < c.units; ++unit) board.Status(static_cast<std::size_t>(unit), "Updating Digital Board.");
    for (int unit = 0; unit < c.units; ++unit)
      board.Progress(static_cast<std::size_t>(unit), 617256, 617256, 5734.4);  // drawn: the pass ends
    board.EndProgress(0);
    board.Close();
  }
  std::fclose(out);
  const auto pieces = Pieces(pty.ReadUntilQuiet(200, 5000));
  bool percentSeen = false;
  for (const std::string& piece : pieces) {
    EXPECT_LT(piece.size(), c.columns) << "\"" << piece << "\"";
    percentSeen = percentSeen || piece.find("100%") != std::string::npos;
  }
  EXPECT_TRUE(percentSeen) << "the percent went with the cut";
}

INSTANTIATE_TEST_SUITE_P(Cases, UnitBoardWidth,
                         ::testing::Values(WidthCase{"OneUnitOn80", 80, 1}, WidthCase{"OneUnitOn60", 60, 1},
                                           WidthCase{"OneUnitOn40", 40, 1}, WidthCase{"ThreeUnitsOn80", 80, 3},
                                           WidthCase{"ThreeUnitsOn60", 60, 3}),
                         [](const auto& test) { return std::string(test.param.name); });

}  // namespace
}  // namespace cvm6::test
