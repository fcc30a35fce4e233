#pragma once
// Sanitizer presets slow threads five to fifteen times; they set CVM6_TIME_SCALE and
// every test that asserts a bound in time multiplies its margin by TimeScale().
namespace cvm6::test {
int TimeScale();
inline int Scaled(int ms) { return ms * TimeScale(); }
}  // namespace cvm6::test
