#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vantrel::picsim {

struct Options {
    std::string chip = "18f452";
    long baud = 115200;
    double clockHz = 0;  // 0: the firmware build's clock
    std::optional<int> com;
    std::string portsDir;
    std::string bootloader;  // empty: the one found beside the program
    std::string app;
    bool startOnOpen = false;
    std::optional<int> resetAfterRecord;
    std::string flashIn;
    std::string flashOut;
    std::string logPath;
    bool help = false;
    bool version = false;
};

struct ParseResult {
    Options options;
    std::string error;  // empty when the arguments were good
};

// `args` without the program name; "--name value" and "--name=value".
ParseResult parseOptions(const std::vector<std::string>& args);
std::string usage(const std::string& program = "vantrel-picsim");

}  // namespace vantrel::picsim
