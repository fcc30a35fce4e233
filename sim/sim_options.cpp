#include "sim/sim_options.h"

#include <charconv>
#include <cstdlib>
#include <functional>
#include <map>

namespace cvm6 {

const char* SimUsage() {
  return R"(Usage: cvm6-sim [options]
A Corvane M6 in download mode on a pseudo-terminal. The first line of output is the
port to open (57600 baud, 8N1). Runs until SIGINT/SIGTERM or --updates, then prints a
summary of what the unit's flash holds.

Run:
  --link PATH               also make PATH a symbolic link to the port
  --updates N               stop after N downloads have ended (end reply acknowledged)
  --expect-embedded         compare the flash with the firmware built into this program:
                            "identical" or the first differing address
  --dump FILE               write the flash to FILE as Intel HEX at the end
  --help                    this text

The unit:
  --address A               its network address, 0-127 (default 1; 0 with --announce config)
  --updater-address A       the address it gives the updater (default 0; 1 with config)
  --announce identify|config
                            identify: MSG_NETWORK_IDENTIFY from its own address (default);
                            config: MSG_NETWORK_DID_CONFIG from address 0 listing it
  --device-type T           type code in the device data reply (default 0x45)
  --version-chars CCCC      four version characters (default 1023)
  --erase-ms MS             time to erase a target before replying (default 1000)
  --write-ms MS             time to program one block before replying (default 2)
  --baud N                  line-speed model: every byte takes 10/N s each way (default:
                            no model, bytes take no time)
  --latency-ms N            the updater's adapter holds the bytes it receives up to N ms
                            unless 62 are waiting, as a USB adapter's latency timer does
                            (default 0: handed on at once)

Faults (all off by default; random ones are repeatable for a given seed):
  --seed S                  seed of the random faults (default 1)
  --corrupt-to-host R       flip one bit of a byte it sends with chance R (0..1)
  --corrupt-from-host R     flip one bit of a byte it receives with chance R
  --drop-to-host R          lose a byte it sends with chance R
  --drop-from-host R        lose a byte it receives with chance R
  --nak-ack N               send its Nth acknowledgement as 0xDA instead of 0xA5
  --nak-every N             send every Nth acknowledgement as 0xDA (N >= 2: the frame
                            sent again is acknowledged)
  --lose-ack N              its Nth acknowledgement (0xA5) never reaches the line
  --duplicate-every N       every Nth frame it sends goes out twice
  --silent-after-block N    take block N, then never send another byte (power lost)
  --close-after-block N     take block N, then close the port (adapter unplugged)
  --wrong-sequence-at-block N
                            answer block N with sequence number N+1
  --store-damaged-block N   store block N with one bit flipped, as if a frame damaged in
                            two places had passed the check
  --wrong-target            echo another target in the start and end replies
  --block-count-offset K    report a block count off by K (may be negative)
  --reply-from A            send replies from address A instead of its own
  --no-announce             never announce itself
  --bad-control-after-block N
                            after answering block N, send an unrecognised control byte
  --bad-control-byte B      that byte (default 0x80): 0x80-0xFF but none of the five
                            the link knows (0xFF, 0xF0, 0xA5, 0xDA, 0x8C)
  --bad-length-to-host-at N the reply to block N reaches the updater with its length
                            byte damaged into 0 (256 bytes), the rest as sent
  --bad-length-from-host-at N
                            block N reaches the unit with bit 3 of its length byte
                            flipped: the unit reads the rest out of step
  --bad-check-from-host-at N
                            block N reaches the unit with its check byte damaged
  --lose-acked-block N      the unit acknowledges block N and then loses it, as if the
                            0xA5 had answered a frame made of noise
  --garbage-to-host-at P    a burst of random bytes (none of those five) toward the
                            updater right behind the reply to P: start, end or a block N
  --garbage-from-host-at P  the same burst into what the unit reads, as it takes P
  --garbage-bytes L         length of the burst (default 64)
  --silence-to-host-at P    as it takes P, nothing the unit sends gets through for a while
  --silence-from-host-at P  as it takes P, nothing the updater sends gets through
  --silence-ms MS           how long such a break lasts (default 10000)

Blocks are numbered by the sequence numbers of the write requests (from 0).
The summary's SHA-256 runs over the stored bytes in address order, each as its 32-bit
little-endian address followed by the byte.
Exit status: 0 when what was asked for holds (all --updates done, flash identical with
--expect-embedded); 1 when it does not; 2 for a bad command line; 3 when no
pseudo-terminal could be made.
)";
}

namespace {

bool ParseUnsigned(const std::string& text, std::uint64_t max, std::uint64_t& value) {
  int base = 10;
  const char* begin = text.data();
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    begin += 2;
  }
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(begin, end, value, base);
  return ec == std::errc() && ptr == end && begin != end && value <= max;
}

bool ParseSigned(const std::string& text, std::int32_t& value) {
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && ptr == text.data() + text.size() && !text.empty();
}

bool ParseRate(const std::string& text, double& value) {
  char* end = nullptr;
  value = std::strtod(text.c_str(), &end);
  return !text.empty() && end == text.c_str() + text.size() && value >= 0.0 && value <= 1.0;
}

}  // namespace

bool ParseSimOptions(const std::vector<std::string>& args, SimOptions& options, std::string& error) {
  SimulatorConfig& config = options.config;
  DeviceIdentity& unit = config.identity;
  FaultPlan& faults = config.faults;
  std::optional<std::uint8_t> address, updaterAddress;

  auto u = [](std::uint64_t max, auto& target) {
    return [max, &target](const std::string& text) {
      std::uint64_t value = 0;
      if (!ParseUnsigned(text, max, value)) return false;
      target = static_cast<std::remove_reference_t<decltype(target)>>(value);
      return true;
    };
  };
  auto block = [](std::int32_t& target) {
    return [&target](const std::string& text) {
      std::uint64_t value = 0;
      if (!ParseUnsigned(text, 0xFFFF, value)) return false;
      target = static_cast<std::int32_t>(value);
      return true;
    };
  };
  auto rate = [](double& target) { return [&target](const std::string& text) { return ParseRate(text, target); }; };
  // A point of the download: "start", "end" or a block number.
  auto point = [](DownloadPoint& target) {
    return [&target](const std::string& text) {
      std::uint64_t value = 0;
      if (text == "start") target = {DownloadPoint::kStart, 0};
      else if (text == "end") target = {DownloadPoint::kEnd, 0};
      else if (ParseUnsigned(text, 0xFFFF, value)) target = {DownloadPoint::kBlock, static_cast<std::uint32_t>(value)};
      else return false;
      return true;
    };
  };
  std::uint8_t addressValue = 0, updaterValue = 0, replyFrom = 0;
  std::uint32_t updates = 0;

  const std::map<std::string, std::function<bool(const std::string&)>> withValue = {
      {"--link", [&](const std::string& t) { options.linkPath = t; return !t.empty(); }},
      {"--updates", [&](const std::string& t) { return u(0xFFFFFFFF, updates)(t) && (options.updates = updates, true); }},
      {"--dump", [&](const std::string& t) { options.dumpPath = t; return !t.empty(); }},
      {"--address", [&](const std::string& t) { return u(127, addressValue)(t) && (address = addressValue, true); }},
      {"--updater-address",
       [&](const std::string& t) { return u(127, updaterValue)(t) && (updaterAddress = updaterValue, true); }},
      {"--announce",
       [&](const std::string& t) {
         if (t != "identify" && t != "config") return false;
         unit.announceWithConfig = t == "config";
         return true;
       }},
      {"--device-type", u(0xFF, unit.deviceType)},
      {"--version-chars",
       [&](const std::string& t) {
         if (t.size() != 4) return false;
         for (int i = 0; i < 4; ++i) unit.version[static_cast<std::size_t>(i)] = t[static_cast<std::size_t>(i)];
         return true;
       }},
      {"--erase-ms", u(3600000, unit.eraseMs)},
      {"--write-ms", u(3600000, unit.writeMs)},
      {"--baud", [&](const std::string& t) { return u(10000000, config.baud)(t) && config.baud >= 50; }},
      {"--latency-ms", u(1000, config.adapterLatencyMs)},
      {"--seed", u(0xFFFFFFFF, faults.line.seed)},
      {"--corrupt-to-host", rate(faults.line.corruptToHost)},
      {"--corrupt-from-host", rate(faults.line.corruptFromHost)},
      {"--drop-to-host", rate(faults.line.dropToHost)},
      {"--drop-from-host", rate(faults.line.dropFromHost)},
      {"--nak-ack", u(0xFFFFFFFF, faults.line.nakAck)},
      {"--nak-every", [&](const std::string& t) { return u(0xFFFFFFFF, faults.line.nakEvery)(t) && faults.line.nakEvery >= 2; }},
      {"--lose-ack", u(0xFFFFFFFF, faults.line.loseAck)},
      {"--duplicate-every", u(0xFFFFFFFF, faults.line.duplicateEvery)},
      {"--silent-after-block", block(faults.silentAfterBlock)},
      {"--close-after-block", block(faults.closeAfterBlock)},
      {"--wrong-sequence-at-block", block(faults.wrongSequenceAtBlock)},
      {"--store-damaged-block", block(faults.storeDamagedBlock)},
      {"--block-count-offset", [&](const std::string& t) { return ParseSigned(t, faults.blockCountOffset); }},
      {"--reply-from", [&](const std::string& t) { return u(127, replyFrom)(t) && (faults.replyFrom = replyFrom, true); }},
      {"--bad-control-after-block", block(faults.badControlAfterBlock)},
      {"--bad-length-to-host-at", block(faults.badLengthToHostAtBlock)},
      {"--bad-length-from-host-at", block(faults.badLengthFromHostAtBlock)},
      {"--bad-check-from-host-at", block(faults.badCheckFromHostAtBlock)},
      {"--lose-acked-block", block(faults.loseAckedBlock)},
      {"--garbage-to-host-at", point(faults.garbageToHost)},
      {"--garbage-from-host-at", point(faults.garbageFromHost)},
      {"--garbage-bytes", [&](const std::string& t) { return u(4096, faults.garbageBytes)(t) && faults.garbageBytes > 0; }},
      {"--silence-to-host-at", point(faults.silenceToHost)},
      {"--silence-from-host-at", point(faults.silenceFromHost)},
      {"--silence-ms", u(3600000, faults.silenceMs)},
      {"--bad-control-byte",
       [&](const std::string& t) {
         std::uint64_t value = 0;
         if (!ParseUnsigned(t, 0xFF, value) || value < 0x80) return false;
         if (value == 0xFF || value == 0xF0 || value == 0xA5 || value == 0xDA || value == 0x8C) return false;
         faults.badControlByte = static_cast<std::uint8_t>(value);
         return true;
       }},
  };

  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") options.help = true;
    else if (arg == "--expect-embedded") options.expectEmbedded = true;
    else if (arg == "--wrong-target") faults.wrongTarget = true;
    else if (arg == "--no-announce") faults.noAnnounce = true;
    else if (auto it = withValue.find(arg); it != withValue.end()) {
      if (i + 1 >= args.size()) {
        error = arg + " needs a value";
        return false;
      }
      if (!it->second(args[++i])) {
        error = "bad value for " + arg + ": '" + args[i] + "'";
        return false;
      }
    } else {
      error = "unknown option '" + arg + "' (see --help)";
      return false;
    }
  }
  // Under a network configuration the updater talks to address 0, the configuring node,
  // so the model takes that address unless told otherwise.
  unit.address = address.value_or(unit.announceWithConfig ? 0 : 1);
  unit.updaterAddress = updaterAddress.value_or(unit.announceWithConfig ? 1 : 0);
  if (unit.address == unit.updaterAddress) {
    error = "the unit and the updater cannot share an address";
    return false;
  }
  return true;
}

}  // namespace cvm6
