#include "flash_options.h"

#include <CLI/CLI.hpp>
#include <cctype>
#include <cstdio>
#include <set>
#include <utility>

#include "exit_status.h"
#include "image/list_file.h"

namespace cvm6 {
namespace {

constexpr const char* kDescription =
    "Connects to Corvane M6 units in download mode and writes the firmware image into their flash,\n"
    "exactly as the updater window's Connect and Update buttons do: one unit per --port, all at once.\n"
    "The image is --image, else the first found of cvm6.ini in the current folder, Y:\\cvm6\\cvm6.ini,\n"
    "Y:\\CVM6\\cvm6.H01..H14, the image built into this program.";

// "--yes", "-y": an option, never a value (no port, file or number begins with "-").
bool LooksLikeOption(const std::string& word) { return word.size() > 1 && word[0] == '-'; }

// A value that is missing or is the next option reads as a slip, not as a port named "--yes".
std::string NotAnOption(const std::string& value) {
  if (value.empty()) return "needs a value";
  if (LooksLikeOption(value)) return "needs a value, not the option " + value;
  return "";
}

// 64 hexadecimal digits, either case: the digest as --dry-run prints it, lower case.
std::string Sha256Text(const std::string& value) {
  std::string digest;
  for (const char c : value) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return "";
    digest += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return digest.size() == 64 ? digest : "";
}

int Refuse(const std::string& why) {
  std::fprintf(stderr, "cvm6-flash: %s\nRun with --help for the options.\n", why.c_str());
  return kUsage;
}

}  // namespace

ParsedCommandLine ParseFlashOptions(int argc, char** argv) {
  // An option that takes a value, given last or followed by another option, is a slip:
  // said in the technician's words before the parser would name it in its own.
  const std::pair<const char*, const char*> valued[] = {
      {"--port", "a port name"}, {"-p", "a port name"},    {"--each-port", "usb:VID:PID or auto"},
      {"--image", "a file"},     {"-i", "a file"},         {"--base", "an address"},
      {"--log", "a file"},       {"--max-damaged", "a number"}, {"--expect-sha256", "a SHA-256 digest"}};
  for (int i = 1; i < argc; ++i)
    for (const auto& [name, what] : valued)
      if (std::string(argv[i]) == name && (i + 1 >= argc || argv[i + 1][0] == '\0' || LooksLikeOption(argv[i + 1])))
        return {std::nullopt, Refuse(std::string(name) + " needs " + what)};

  FlashOptions o;
  CLI::App app{kDescription, "cvm6-flash"};
  app.get_formatter()->column_width(26);
  std::string base;
  app.add_option("-p,--port", o.ports,
                 "COM1..COM4 (the first four serial ports) or a device path; give it once per unit\n"
                 "to update several units at once. usb:VID:PID[:SERIAL] is the one adapter with\n"
                 "those ids (see --list-ports); auto is the one port on which a unit in download\n"
                 "mode is heard, listening only (USB adapters and the ports of CVM6_PORTS)")
      ->type_name("NAME")
      ->expected(1)
      ->allow_extra_args(false)
      ->take_all()
      ->check(NotAnOption);
  app.add_option("--each-port", o.eachPorts,
                 "every adapter that usb:VID:PID[:SERIAL] matches, or with auto every port on\n"
                 "which a unit is heard: one unit each")
      ->type_name("NAME")
      ->expected(1)
      ->allow_extra_args(false)
      ->take_all()
      ->check(NotAnOption);
  app.add_flag("--simulate", o.simulate,
               "run against the built-in model of the unit on a pseudo-terminal and end with its\n"
               "verdict on the flash contents; options of cvm6-sim shape the unit (--baud N,\n"
               "--write-ms N, faults)");
  app.add_option("-i,--image", o.image,
                 "the image to write: a list file (its names relative to its own folder) or\n"
                 "a single Intel HEX file; no question is asked before it is written")
      ->type_name("PATH")
      ->check(NotAnOption);
  app.add_option("--base", base, "where a single hex file is read: hexadecimal as in the list file (default 0)")
      ->type_name("N");
  app.add_flag("-n,--dry-run", o.dryRun,
               "open no port: load the image as an update would and show where it came from, its\n"
               "bytes, blocks, address ranges and SHA-256");
  app.add_option("--log", o.logPath,
                 "append a time-stamped transcript to FILE (for a support case): image, units,\n"
                 "every status line and message, and with --trace every message sent or received")
      ->type_name("FILE")
      ->check(NotAnOption);
  app.add_flag("--json", o.json,
               "print one JSON object with the image and every unit's result on standard output at\n"
               "the end; everything else goes to standard error");
  app.add_flag("--events", o.events,
               "print one JSON object per line on standard output as the run goes (run-started,\n"
               "unit-found, unit-identified, erase-begun, progress, link-lost, link-back, unit-done,\n"
               "run-ended; docs/events.md); everything else goes to standard error");
  std::string expectSha256;
  app.add_option("--expect-sha256", expectSha256,
                 "refuse the image (status 6, before any port opens) unless its SHA-256, as --dry-run\n"
                 "prints it, is HEX")
      ->type_name("HEX")
      ->check(NotAnOption);
  app.add_flag("-y,--yes", o.yes,
               "write the synthetic test image without asking (see --version); the question is\n"
               "asked on the terminal, and without one the answer is No");
  app.add_option("--max-damaged", o.maxDamaged,
                 "frames the unit may refuse as damaged in a complete update before it ends with\n"
                 "status 9, complete on a noisy line (default 0)")
      ->type_name("N")
      ->check(CLI::NonNegativeNumber);
  app.add_flag("-v,--trace", o.trace, "print every message sent (SND), received (RCV) or dropped (DEL)");
  app.add_flag("--list-ports", o.listPorts,
               "list the serial ports this system has, with their adapters' USB ids, serial\n"
               "numbers and makers (with --json as one JSON object)");
  app.add_flag("--version", o.version, "program version and which firmware image is embedded");
  app.allow_extras();
  app.footer(kExitStatusText);

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& help) {
    return {std::nullopt, app.exit(help)};
  } catch (const CLI::ParseError& error) {
    return {std::nullopt, Refuse(error.what())};
  }

  const std::vector<std::string> extras = app.remaining();
  if (!extras.empty()) {
    if (!o.simulate) return {std::nullopt, Refuse("unknown argument '" + extras.front() + "'")};
    o.simulatorArgs = extras;
  }
  if (o.version || o.listPorts) return {o, kDone};
  if (!expectSha256.empty() && (o.expectSha256 = Sha256Text(expectSha256)).empty())
    return {std::nullopt, Refuse("--expect-sha256 needs the 64 hexadecimal digits of a SHA-256, not '" +
                                 expectSha256 + "'")};
  if (o.events && o.json) return {std::nullopt, Refuse("--events and --json both write standard output: give one")};
  if (!base.empty() && o.image.empty()) return {std::nullopt, Refuse("--base goes with --image, a single hex file")};
  if (!base.empty()) {
    // A base at or above 0x100000 would end a list file; the unit's flash lies below it.
    const auto value = ParseListBase(base);
    if (!value || *value >= kListEndBase)
      return {std::nullopt, Refuse("--base needs a hexadecimal address below 100000, not '" + base + "'")};
    o.base = *value;
    o.baseGiven = true;
  }
  std::set<std::string> seen;
  for (const auto& port : o.ports)
    if (!seen.insert(port).second) return {std::nullopt, Refuse("--port " + port + " is given twice")};
  for (const auto& port : o.eachPorts)
    if (!seen.insert(port).second)
      return {std::nullopt, Refuse("--each-port " + port + " is given twice, or with --port " + port + " too")};
  const bool anyPort = !o.ports.empty() || !o.eachPorts.empty();
  if (o.dryRun && o.simulate) return {std::nullopt, Refuse("--dry-run opens no port: it does not go with --simulate")};
  if (o.simulate && anyPort)
    return {std::nullopt, Refuse("give either --port NAME (once per unit) or --simulate, not both")};
  if (!o.dryRun && !o.simulate && !anyPort)
    return {std::nullopt, Refuse("give either --port NAME (once per unit) or --simulate, or --dry-run")};
  return {o, kDone};
}

}  // namespace cvm6
