#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "boardsim/simulator.h"

namespace vantrel::boardsim {

struct Options {
    SimConfig sim;
    std::optional<int> com;  // make the alias comN
    std::string portsDir;    // where the alias goes; empty: the loader's default folder
    std::string logPath;
    std::optional<double> appearAfter;  // seconds until the alias (or its target) exists
    bool appearTarget = false;          // make the alias at once, its target late
    std::optional<double> replugAfter;  // seconds from unplug to the new port
    bool help = false;
    bool version = false;
};

struct ParseResult {
    Options options;
    std::string error;  // empty when the arguments were good
};

// `args` without the program name. Accepts "--name value" and "--name=value".
ParseResult parseOptions(const std::vector<std::string>& args);
// The same from one line, split into words at blanks (no quoting), as a test
// or a dry run writes it: "--modbus 3,7,9 --error-at-verify 4".
ParseResult parseOptionText(std::string_view text);
// `program`: the name the simulator was started as (installed, it is
// vantrel-boardsim).
std::string usage(const std::string& program = "boardsim");

// $XDG_CONFIG_HOME/vantrel/ports, with XDG_CONFIG_HOME defaulting to ~/.config.
std::string defaultPortsDir(const char* xdgConfigHome, const char* home);

}  // namespace vantrel::boardsim
