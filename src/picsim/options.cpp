#include "picsim/options.h"

#include <charconv>

namespace vantrel::picsim {
namespace {

template <typename Number>
bool number(const std::string& text, Number& out) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, out);
    return ec == std::errc() && ptr == end;
}

}  // namespace

ParseResult parseOptions(const std::vector<std::string>& args) {
    Options o;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> value;
        if (const auto eq = name.find('='); name.starts_with("--") && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.erase(eq);
        }
        auto flag = [&](bool& target) -> std::string {
            if (value) return name + " takes no value";
            target = true;
            return {};
        };
        auto take = [&]() -> std::optional<std::string> {
            if (value) return value;
            if (i + 1 < args.size()) return args[++i];
            return std::nullopt;
        };
        std::string error;
        if (name == "--help" || name == "-h")
            error = flag(o.help);
        else if (name == "--version")
            error = flag(o.version);
        else if (name == "--start-on-open")
            error = flag(o.startOnOpen);
        else if (!(name == "--chip" || name == "--baud" || name == "--clock" || name == "--com" ||
                   name == "--reset-after-record" || name == "--ports-dir" || name == "--bootloader" ||
                   name == "--app" || name == "--flash-in" || name == "--flash-out" || name == "--log")) {
            return {o, "unknown option " + name};
        } else {
            const auto text = take();
            if (!text) return {o, name + " needs a value"};
            if (name == "--chip") {
                if (*text != "18f452") return {o, "--chip: only 18f452 is simulated (the 18f4550 build is not)"};
                o.chip = *text;
            } else if (name == "--baud") {
                if (!number(*text, o.baud) || o.baud <= 0) return {o, "--baud needs a bit rate, not " + *text};
            } else if (name == "--clock") {
                if (!number(*text, o.clockHz) || o.clockHz <= 0) return {o, "--clock needs a frequency in Hz"};
            } else if (name == "--com") {
                int com = 0;
                if (!number(*text, com) || com < 1 || com > 255) return {o, "--com needs a number from 1 to 255"};
                o.com = com;
            } else if (name == "--reset-after-record") {
                int n = 0;
                if (!number(*text, n) || n < 1) return {o, "--reset-after-record needs a number from 1"};
                o.resetAfterRecord = n;
            } else if (name == "--ports-dir")
                o.portsDir = *text;
            else if (name == "--bootloader")
                o.bootloader = *text;
            else if (name == "--app")
                o.app = *text;
            else if (name == "--flash-in")
                o.flashIn = *text;
            else if (name == "--flash-out")
                o.flashOut = *text;
            else if (name == "--log")
                o.logPath = *text;
            else
                return {o, "unknown option " + name};
        }
        if (!error.empty()) return {o, error};
    }
    if (!o.portsDir.empty() && !o.com) return {o, "--ports-dir needs --com"};
    return {o, {}};
}

std::string usage(const std::string& program) {
    return "Usage: " + program + R"( [OPTIONS]
A simulated PIC18F452 running the Vantrel bootloader in gpsim, in real time,
its USART joined to a pseudo-terminal. Prints "READY <pty> [<alias>]" once
the chip runs; SIGINT or SIGTERM end it cleanly.

  --chip 18f452          the chip (the only one simulated)
  --baud N               the bit rate of the bootloader build (default 115200)
  --clock HZ             the chip's clock (default: the firmware build's)
  --bootloader FILE      the bootloader HEX (default: the 115200 build found
                         beside the program or in /usr/share/vantrel-firmware)
  --com N                make the alias comN for the pty
  --ports-dir DIR        where the alias goes (default ~/.config/vantrel/ports)
  --app FILE             download FILE through the bootloader before READY,
                         then reset the chip
  --start-on-open        hold the chip in reset until the host opens the pty
  --reset-after-record N reset the chip (MCLR) right after the Nth "BOOT:"
                         line has reached it
  --flash-in FILE        program memory and EEPROM kept from an earlier run
  --flash-out FILE       write program memory and EEPROM (at 0xF00000) as
                         Intel HEX when it ends
  --log FILE             what passed each way, with times
  -h, --help             this list
  --version              the version
)";
}

}  // namespace vantrel::picsim
