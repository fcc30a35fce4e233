#include "platform/path_mapping.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace cvm6 {
namespace {

namespace fs = std::filesystem;

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

// `dir / name` as it exists, else the lowest entry of `dir` equal to `name` ignoring case,
// else `dir / name` as written (so that opening it fails as it should).
fs::path Resolve(const fs::path& dir, const std::string& name) {
  fs::path exact = dir / name;
  std::error_code error;
  if (fs::symlink_status(exact, error).type() != fs::file_type::not_found && !error) return exact;
  std::string best;
  for (fs::directory_iterator it(dir.empty() ? fs::path(".") : dir, error), end; !error && it != end;
       it.increment(error)) {
    std::string entry = it->path().filename().string();
    if (SameIgnoringCase(entry, name) && (best.empty() || entry < best)) best = std::move(entry);
  }
  return best.empty() ? exact : dir / best;
}

}  // namespace

std::optional<std::string> MapWindowsPath(std::string_view windowsPath) {
  if (windowsPath.empty() || windowsPath.find('\0') != std::string_view::npos) return std::nullopt;

  fs::path root;
  std::string_view rest = windowsPath;
  const char first = windowsPath[0];
  if (windowsPath.size() >= 2 && windowsPath[1] == ':' &&
      ((first >= 'A' && first <= 'Z') || (first >= 'a' && first <= 'z'))) {
    const std::string variable = std::string("CVM6_DRIVE_") + static_cast<char>(first & ~0x20);
    const char* drive = std::getenv(variable.c_str());
    if (!drive || !*drive) return std::nullopt;
    root = drive;
    rest.remove_prefix(2);  // "Y:name" is taken as "Y:\name": there is no current directory per drive
  } else if (first == '\\' || first == '/') {
    root = "/";
  }

  fs::path path = root;
  while (!rest.empty()) {
    const std::size_t cut = rest.find_first_of("\\/");
    const std::string component(rest.substr(0, cut));
    rest.remove_prefix(cut == std::string_view::npos ? rest.size() : cut + 1);
    if (component.empty()) continue;
    if (component == "." || component == "..")
      path /= component;
    else
      path = Resolve(path, component);
  }
  if (path.empty()) return std::nullopt;
  return path.string();
}

}  // namespace cvm6
