#pragma once
// The program's texts are UTF-8; the window talks to Windows in UTF-16.
#include <string>

namespace cvm6 {

std::wstring Widen(const std::string& text);
std::string Narrow(const std::wstring& text);

}  // namespace cvm6
