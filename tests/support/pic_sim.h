#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "boardsim/log_line.h"
#include "child_process.h"

namespace vantrel::testing {

// Runs vantrel-picsim (a simulated PIC18F452 with the bootloader, in gpsim,
// in real time) as a child process for a test, as BoardSim runs the
// simulated board. Every test that uses it holds the CTest resource lock
// vantrel_gpsim and carries the label firmware.
//
//   vantrel::testing::PicSim chip({"--start-on-open"});
//   chip.setAlias(portsDir, 3);        // optional: <portsDir>/com3
//   ASSERT_TRUE(chip.start()) << chip.error();
//   ... open chip.ptyPath() or COM3 ...
//   EXPECT_EQ(chip.stop(), 0);         // status as waitpid gives it
//   auto memory = chip.flashOut();     // program memory and EEPROM (0xF00000...)
class PicSim {
  public:
    // Intel HEX as a byte map: address -> byte.
    using Memory = std::map<std::uint32_t, std::uint8_t>;
    using Log = std::vector<boardsim::LogEntry>;

    // `arguments` are vantrel-picsim options. Unless they name them, the log
    // and the --flash-out dump go to a temporary folder.
    explicit PicSim(std::vector<std::string> arguments = {});
    ~PicSim();
    PicSim(const PicSim&) = delete;
    PicSim& operator=(const PicSim&) = delete;

    // Before start(): have the program make the alias comN in `portsDir`.
    void setAlias(std::string portsDir, int comNumber);

    // Starts the program and waits for its READY line (an --app download
    // comes before it, so give those more time).
    bool start(std::chrono::milliseconds timeout = std::chrono::seconds(30));
    // SIGTERM, wait up to `timeout` (the dump is written on the way out),
    // then SIGKILL. The exit status as waitpid reports it, -1 when not running.
    int stop(std::chrono::milliseconds timeout = std::chrono::seconds(15));
    bool running() const { return child_.running(); }
    pid_t pid() const { return child_.pid(); }

    const std::string& ptyPath() const { return ptyPath_; }
    const std::string& aliasPath() const { return aliasPath_; }
    const std::string& logPath() const { return logPath_; }
    const std::string& flashOutPath() const { return flashOutPath_; }
    const std::string& readyLine() const { return readyLine_; }
    const std::string& error() const { return error_; }

    // The memory dumped when the program ended (after stop()).
    Memory flashOut() const;
    Log log() const;
    bool waitForLog(const std::function<bool(const Log&)>& done, std::chrono::milliseconds timeout) const;

    // The vantrel-picsim this build made, and the folder of the firmware
    // build's HEX files (bootloader-18f452.hex, example-app-18f452.hex, ...).
    static std::string executable();
    static std::string firmwareDir();

  private:
    std::vector<std::string> arguments_;
    std::string tempDir_;
    std::string logPath_;
    std::string flashOutPath_;
    std::string ptyPath_;
    std::string aliasPath_;
    std::string readyLine_;
    std::string error_;
    ChildProcess child_;
};

// Reads an Intel HEX file (data, extended linear and segment address
// records) into a byte map; nullopt when a line is malformed.
std::optional<PicSim::Memory> readHexMemory(const std::string& path);

}  // namespace vantrel::testing
