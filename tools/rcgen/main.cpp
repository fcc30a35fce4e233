// cvm6-rcgen OUTDIR ICONDIR FIRMWAREDIR: writes the Windows resource script cvm6.rc of
// the program into OUTDIR, with the files it names (the dialog's list items). Icon 128
// is ICONDIR/cvm6-updater.ico, which scripts/make-icon writes from the drawing.
//
// The script is made from the tables that the Linux build compiles in, so the two builds
// carry the same texts and the same dialog; the firmware texts cvm6.H01..cvm6.H14 are
// named where they lie and become "Binary" resources 160-173.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/resource_tables.h"
#include "rc_script.h"

namespace {

namespace fs = std::filesystem;

constexpr int kIconResource = 128;
constexpr int kFirstFirmwareResource = 160;
constexpr int kBankCount = 14;

std::vector<std::uint8_t> ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

void WriteFile(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
  WriteFile(path, std::string(bytes.begin(), bytes.end()));
}

// Paths in the script are absolute with forward slashes, which the resource compiler
// takes on any build machine.
std::string RcPath(const fs::path& path) { return rcgen::QuoteRc(fs::absolute(path).generic_string()); }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: cvm6-rcgen OUTDIR ICONDIR FIRMWAREDIR\n");
    return 2;
  }
  try {
    const fs::path out = argv[1], icons = argv[2], firmware = argv[3];
    fs::create_directories(out);

    const fs::path icon = icons / "cvm6-updater.ico";
    if (!fs::is_regular_file(icon)) throw std::runtime_error("missing icon " + icon.string());

    std::string script = "// Written by cvm6-rcgen from the program's resource tables; do not edit.\n"
                         "#include <windows.h>\n#include <commctrl.h>\n\n";
    script += rcgen::StringTableRc(cvm6::res::kStringTable, cvm6::res::kStringTableSize) + "\n";
    for (std::size_t i = 0; i < cvm6::res::kDialogTemplateCount; ++i) {
      const auto& dialog = cvm6::res::kDialogTemplates[i];
      const fs::path dlginit = out / ("dlginit" + std::to_string(dialog.id) + ".bin");
      WriteFile(dlginit, rcgen::DialogInitData(dialog));
      script += rcgen::DialogRc(dialog, fs::absolute(dlginit).generic_string()) + "\n";
    }
    script += std::to_string(kIconResource) + " ICON " + RcPath(icon) + "\n\n";
    for (int bank = 0; bank < kBankCount; ++bank) {
      char name[16];
      std::snprintf(name, sizeof name, "cvm6.H%02d", bank + 1);
      const fs::path text = firmware / name;
      if (!fs::is_regular_file(text)) throw std::runtime_error("missing firmware text " + text.string());
      script += std::to_string(kFirstFirmwareResource + bank) + " Binary " + RcPath(text) + "\n";
    }
    // Only replaced when it changed, so that an unchanged script compiles no further.
    const fs::path target = out / "cvm6.rc";
    std::string old;
    if (fs::exists(target)) {
      const auto bytes = ReadFile(target);
      old.assign(bytes.begin(), bytes.end());
    }
    if (old != script) WriteFile(target, script);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "cvm6-rcgen: %s\n", error.what());
    return 1;
  }
  return 0;
}
