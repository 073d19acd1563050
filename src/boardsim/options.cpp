#include "boardsim/options.h"

#include <charconv>
#include <cmath>
#include <fstream>
#include <functional>
#include <limits>
#include <map>

namespace vantrel::boardsim {
namespace {

constexpr Micros kMicrosPerMilli = 1000;
constexpr long kNoiseBeforeReplyBytes = 3;
constexpr long kMaxNoiseBeforeReply = 4096;

template <typename T>
std::optional<T> parseNumber(const std::string& text) {
    T value{};
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || text.empty()) return std::nullopt;
    return value;
}

std::optional<double> parseSeconds(const std::string& text) {
    // from_chars for double is missing from older libstdc++; strtod is enough here.
    if (text.empty()) return std::nullopt;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || !std::isfinite(value) || value < 0) return std::nullopt;
    return value;
}

std::optional<std::vector<int>> parseAddresses(const std::string& text) {
    std::vector<int> addresses;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        const auto value = parseNumber<int>(text.substr(start, comma - start));
        if (!value || *value < 1 || *value > 247) return std::nullopt;
        for (int seen : addresses) {
            if (seen == *value) return std::nullopt;
        }
        addresses.push_back(*value);
        start = comma + 1;
    }
    return addresses;
}

// "A:B:C" -> {"A", "B", "C"}
std::vector<std::string> splitAtColons(const std::string& text) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t colon = text.find(':', start);
        parts.push_back(text.substr(start, colon - start));
        if (colon == std::string::npos) return parts;
        start = colon + 1;
    }
}

std::optional<long> parseCount(const std::string& text) {
    const auto n = parseNumber<long>(text);
    if (!n || *n < 1) return std::nullopt;
    return n;
}

}  // namespace

std::string defaultPortsDir(const char* xdgConfigHome, const char* home) {
    std::string base;
    if (xdgConfigHome != nullptr && *xdgConfigHome != '\0') {
        base = xdgConfigHome;
    } else {
        base = std::string(home != nullptr ? home : "") + "/.config";
    }
    return base + "/vantrel/ports";
}

ParseResult parseOptions(const std::vector<std::string>& args) {
    ParseResult result;
    Options& o = result.options;
    Faults& f = o.sim.faults;

    auto count = [](std::set<long>& into) {
        return [&into](const std::string& v) {
            const auto n = parseNumber<long>(v);
            if (!n || *n < 1) return false;
            into.insert(*n);
            return true;
        };
    };
    auto millis = [](Micros& into) {
        return [&into](const std::string& v) {
            const auto n = parseNumber<long>(v);
            if (!n || *n < 0) return false;
            into = *n * kMicrosPerMilli;
            return true;
        };
    };
    auto seconds = [](std::optional<double>& into) {
        return [&into](const std::string& v) {
            into = parseSeconds(v);
            return into.has_value();
        };
    };
    auto text = [](std::string& into) {
        return [&into](const std::string& v) {
            into = v;
            return !v.empty();
        };
    };

    const std::map<std::string, std::function<bool(const std::string&)>> valued{
        {"--com",
         [&](const std::string& v) {
             o.com = parseNumber<int>(v);
             return o.com && *o.com >= 1 && *o.com <= 255;
         }},
        {"--ports-dir", text(o.portsDir)},
        {"--log", text(o.logPath)},
        {"--modbus",
         [&](const std::string& v) {
             const auto list = parseAddresses(v);
             if (!list) return false;
             o.sim.modbus = true;
             o.sim.addresses = *list;
             return true;
         }},
        {"--boot-version", text(o.sim.identity.bootVersion)},
        {"--app-version", text(o.sim.identity.appVersion)},
        {"--flashed",
         [&](const std::string& v) {
             // Each line of an Intel HEX file, without its line end.
             std::ifstream file(v);
             if (!file) return false;
             o.sim.flashedRecords.clear();
             for (std::string line; std::getline(file, line);) {
                 if (!line.empty() && line.back() == '\r') line.pop_back();
                 if (!line.empty()) o.sim.flashedRecords.push_back(line);
             }
             return true;
         }},
        {"--baud",
         [&](const std::string& v) {
             const auto n = parseNumber<long>(v);
             if (!n || *n < 1) return false;
             o.sim.baud = *n;
             return true;
         }},
        {"--line-speed",
         [&](const std::string& v) {
             const auto n = parseNumber<long>(v);
             if (!n || *n < 1) return false;
             o.sim.lineSpeed = *n;
             return true;
         }},
        {"--frame-gap", [&](const std::string& v) { return millis(o.sim.frameGap)(v) && o.sim.frameGap > 0; }},
        {"--no-reply-record", count(f.silentRecords)},
        {"--error-at-verify", count(f.errorVerifies)},
        {"--bad-crc-reply", count(f.damagedReplies)},
        {"--noise-before-reply",
         [&](const std::string& v) {
             // N[:COUNT]
             const auto parts = splitAtColons(v);
             if (parts.size() > 2) return false;
             const auto reply = parseCount(parts[0]);
             const auto bytes = parts.size() == 2 ? parseCount(parts[1]) : std::optional<long>(kNoiseBeforeReplyBytes);
             if (!reply || !bytes || *bytes > kMaxNoiseBeforeReply) return false;
             f.noiseBeforeReplies[*reply] = static_cast<int>(*bytes);
             return true;
         }},
        {"--split-reply",
         [&](const std::string& v) {
             // N:K:MS, N a reply number or "all"
             const auto parts = splitAtColons(v);
             if (parts.size() != 3) return false;
             const auto after = parseCount(parts[1]);
             const auto pause = parseCount(parts[2]);
             if (!after || !pause) return false;
             const ReplySplit split{static_cast<std::size_t>(*after), *pause * kMicrosPerMilli};
             if (parts[0] == "all") {
                 f.splitEveryReply = split;
                 return true;
             }
             const auto reply = parseCount(parts[0]);
             if (!reply) return false;
             f.splitReplies[*reply] = split;
             return true;
         }},
        {"--double-reply", count(f.doubledReplies)},
        {"--drop-reply", count(f.droppedReplies)},
        {"--replace-reply",
         [&](const std::string& v) {
             // N:TEXT, the text without its CR LF
             const std::size_t colon = v.find(':');
             if (colon == std::string::npos || colon + 1 >= v.size()) return false;
             const auto reply = parseCount(v.substr(0, colon));
             if (!reply) return false;
             f.replacedReplies[*reply] = v.substr(colon + 1);
             return true;
         }},
        {"--dribble", [&](const std::string& v) { return millis(f.dribbleGap)(v) && f.dribbleGap > 0; }},
        {"--reply-delay", millis(f.replyDelay)},
        {"--ok-before-download",
         [&](const std::string& v) { return millis(f.okBeforeDownload)(v) && f.okBeforeDownload > 0; }},
        {"--late-reply",
         [&](const std::string& v) {
             // N:MS
             const auto parts = splitAtColons(v);
             if (parts.size() != 2) return false;
             const auto reply = parseCount(parts[0]);
             const auto late = parseCount(parts[1]);
             if (!reply || !late) return false;
             f.lateReplies[*reply] = *late * kMicrosPerMilli;
             return true;
         }},
        {"--noise",
         [&](const std::string& v) {
             const auto n = parseSeconds(v);  // a plain non-negative number
             if (!n || *n > 100) return false;
             f.noisePercent = *n;
             return true;
         }},
        {"--noise-seed",
         [&](const std::string& v) {
             const auto n = parseNumber<std::uint32_t>(v);
             if (!n) return false;
             f.noiseSeed = *n;
             return true;
         }},
        {"--unplug-after",
         [&](const std::string& v) {
             const auto n = parseNumber<long>(v);
             if (!n || *n < 1) return false;
             f.unplugAfterRecord = *n;
             return true;
         }},
        {"--appear-after", seconds(o.appearAfter)},
        {"--replug-after", seconds(o.replugAfter)},
    };

    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> value;
        if (const auto eq = name.find('='); name.starts_with("--") && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
        }
        if (name == "--help" || name == "-h") {
            o.help = true;
            continue;
        }
        if (name == "--version") {
            if (value) return {o, "--version takes no value"};
            o.version = true;
            continue;
        }
        if (name == "--appear-target") {
            if (value) return {o, "--appear-target takes no value"};
            o.appearTarget = true;
            continue;
        }
        const auto option = valued.find(name);
        if (option == valued.end()) return {o, "unknown option " + name};
        if (!value) {
            if (i + 1 >= args.size()) return {o, name + " needs a value"};
            value = args[++i];
        }
        if (!option->second(*value)) return {o, "bad value for " + name + ": " + *value};
    }

    if (!f.damagedReplies.empty() && !o.sim.modbus) return {o, "--bad-crc-reply needs --modbus"};
    if (o.appearAfter && !o.com) return {o, "--appear-after needs --com"};
    if (o.appearTarget && !o.appearAfter) return {o, "--appear-target needs --appear-after"};
    if (o.replugAfter && f.unplugAfterRecord == 0) return {o, "--replug-after needs --unplug-after"};
    if (!o.portsDir.empty() && !o.com) return {o, "--ports-dir needs --com"};
    return result;
}

ParseResult parseOptionText(std::string_view text) {
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] == ' ' || text[i] == '\t' || text[i] == '\n') {
            ++i;
            continue;
        }
        const std::size_t start = i;
        while (i < text.size() && text[i] != ' ' && text[i] != '\t' && text[i] != '\n') ++i;
        words.emplace_back(text.substr(start, i - start));
    }
    return parseOptions(words);
}

std::string usage(const std::string& program) {
    return "usage: " + program + R"( [options]
Plays PIC boards with a resident serial bootloader on a pseudo-terminal.

Port:
  --com N               also make the alias comN pointing at the pty
  --ports-dir DIR       folder for the alias (default $XDG_CONFIG_HOME/vantrel/ports)
  --modbus A[,B...]     Modbus RTU, one board per address (1..247); default plain
  --baud N              pace reading and replies at N baud (10 bits per byte)
  --line-speed N        answer only when the host's port is set to N bit/s
  --frame-gap MS        Modbus: quiet time that ends a frame without CRC match (50)
Identity:
  --boot-version TEXT   reply to BOOTi is VER=TEXT (4.01)
  --app-version TEXT    reply to VER after BOOTg is VER=TEXT (APP 1.0)
  --flashed FILE        every board holds this Intel HEX file in flash from the start
Log:
  --log FILE            log every command, reply and event, one line each
Faults (record commands BOOT: and BOOT# are counted from 1 over the run,
replies too, the answers to BOOTi included):
  --no-reply-record N   record command N gets no reply (repeatable)
  --error-at-verify N   verify command N (BOOT# only) is answered ERROR (repeatable)
  --bad-crc-reply N     reply N goes out with a broken CRC (Modbus; repeatable)
  --noise-before-reply N[:COUNT]
                        COUNT random bytes (3) right before reply N (repeatable)
  --split-reply N:K:MS  reply N (or all) leaves as K bytes, MS pause, the rest
                        (repeatable)
  --double-reply N      reply N goes out twice, back to back (repeatable)
  --drop-reply N        reply N is not sent; it still counts (repeatable)
  --replace-reply N:TEXT
                        reply N is TEXT (CR LF added) instead (repeatable)
  --dribble MS          send replies one byte at a time, MS apart
  --reply-delay MS      wait MS before each reply
  --ok-before-download MS
                        answer each end-of-file record OK, then DOWNLOAD MS later
  --late-reply N:MS     reply N leaves MS later; later replies do not wait for it
  --noise PCT           chance in percent of a random byte before each byte sent
  --noise-seed N        seed for --noise and --noise-before-reply (1)
  --appear-after SEC    the alias appears only after SEC seconds (needs --com)
  --appear-target       with --appear-after: alias at once, its target late
  --unplug-after N      after answering record command N, the port vanishes
  --replug-after SEC    with --unplug-after: a new port after SEC seconds
Other:
  -h, --help            this list
  --version             the version
)";
}

}  // namespace vantrel::boardsim
