#pragma once
// How many columns the terminal (or console) behind a stream has, so that a live line
// that is rewritten in place never wraps: a wrapped line is not overwritten by the next
// "\r" and scrolls the screen once per redraw.
#include <cstdio>

namespace cvm6 {

// The terminal's width in columns; 0 when `out` is no terminal or says nothing.
int TerminalColumns(std::FILE* out);

}  // namespace cvm6
